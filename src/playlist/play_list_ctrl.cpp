#include "playlist/play_list_ctrl.h"

#include "core/helpers.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/text_convert.h"
#include "playlist/media_duration.h"
#include "skinui/window_impl_base.h"

#include <QFileInfo>
#include <QRect>

#include <cstdio>
#include <memory>

namespace {

using namespace std::string_literals;

const wchar_t kUnknown[] = L"unknown";

}  // namespace

std::wstring CPlayListCtrl::ChooserFilter() {
    return L"text files\0*.txt\0\0"s;
}

CPlayListCtrl::CPlayListCtrl(QWidget* parent) : CListUI(parent) {
    SetTextCallback(this);
}

int CPlayListCtrl::RowOf(const std::wstring& path) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].filePath == path)
            return static_cast<int>(i);
    return -1;
}

void CPlayListCtrl::AddPlayFile(const std::wstring& path) {
    if (RowOf(path) >= 0)
        return;
    PlayItem item;
    item.filePath = path;
    item.fileName = PubUtils::CutString(path, L"/", true, false, false);
    item.fileType = PubUtils::CutString(path, L".", true, false, true);
    item.progressText = L"0";
    item.operationText = L"开始";
    item.deleteText = L"删除";
    items_.push_back(std::move(item));
    auto row = std::make_unique<CListTextElementUI>(this);
    if (AddAt(row.get(), GetCount()))
        row.release();
    else
        items_.pop_back();  // records and rows stay in step
}

bool CPlayListCtrl::AddChosenFile(const std::wstring& path) {
    if (path.empty() || GetCount() >= kMaxChosenRows)
        return false;
    const int before = GetCount();
    AddPlayFile(path);
    return GetCount() > before;
}

void CPlayListCtrl::SelectPlayFiles(const FileChooser& chooser, QWidget* owner) {
    if (!chooser)
        return;
    if (!owner)
        owner = OwnerWindow() ? static_cast<QWidget*>(OwnerWindow()) : window();
    for (const std::wstring& path : chooser(owner))
        AddChosenFile(path);
}

bool CPlayListCtrl::AddDroppedFiles(const QStringList& paths) {
    bool added = false;
    for (const QString& path : paths) {
        // A folder or a vanished file would only fail later, when its conversion starts.
        if (!path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive) || !QFileInfo(path).isFile())
            continue;
        added = AddChosenFile(path.toStdWString()) || added;
    }
    return added;
}

int CPlayListCtrl::AddPlayText(const std::wstring& text) {
    const int n = textCounter_++;
    const std::string path = PubUtils::GetTempDir() + "/文本" + std::to_string(n) + ".txt";
    std::FILE* file = std::fopen(path.c_str(), "wb+");
    if (!file) {
        Log(Warning, "CPlayListCtrl::AddPlayText", "fopen %s failed.", path.c_str());
        return -1;
    }
    const std::string bytes = WideToAnsi(text);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    const int before = GetCount();
    AddPlayFile(AnsiToWide(path));
    return GetCount() == before + 1 ? before : -1;
}

std::wstring CPlayListCtrl::GetItemFile(int row) {
    if (row < 0 || row >= static_cast<int>(items_.size())) {
        Log(Warning, "CPlayListCtrl::GetItemFile", "row not eq data size: row: %d, size: %lu", row,
            static_cast<unsigned long>(items_.size()));
        return {};
    }
    return items_[static_cast<size_t>(row)].filePath;
}

int CPlayListCtrl::GetItemStatus(int row) {
    if (row < 0 || row >= static_cast<int>(items_.size())) {
        Log(Warning, "CPlayListCtrl::GetItemStatus", "GetItemStatus not exist: %d", row);
        return -1;
    }
    return items_[static_cast<size_t>(row)].status;
}

bool CPlayListCtrl::SetItemConverting(int row) {
    if (GetItemStatus(row) != Idle)
        return false;
    PlayItem& item = items_[static_cast<size_t>(row)];
    item.status = Converting;
    item.operationText = L"识别中";
    Invalidate();
    return true;
}

bool CPlayListCtrl::SetItemIdle(int row) {
    if (GetItemStatus(row) != Converting)
        return false;
    PlayItem& item = items_[static_cast<size_t>(row)];
    item.status = Idle;
    item.operationText = L"开始";
    item.progressText = L"0";
    item.elapsedSeconds = 0;
    Invalidate();
    return true;
}

void CPlayListCtrl::UpdateItemStatus(const PieceList& vctInfo) {
    if (vctInfo.empty()) {
        Log(Warning, "CPlayListCtrl::UpdateItemStatus", "UpdateItemStatus vctInfo is empty");
        return;
    }
    const AudioPiece& first = *vctInfo.front();
    const int row = RowOf(AnsiToWide(first.job));
    if (row < 0) {
        Log(Warning, "CPlayListCtrl::UpdateItemStatus", "UpdateItemStatus no found. %s", first.job.c_str());
        return;
    }
    if (first.count <= 0) {
        // No percentage can be had from it; the conversion manager never sends such a list.
        Log(Warning, "CPlayListCtrl::UpdateItemStatus", "UpdateItemStatus bad count: %d", first.count);
        return;
    }
    PlayItem& item = items_[static_cast<size_t>(row)];
    const unsigned finished = static_cast<unsigned>(vctInfo.size());
    const unsigned count = static_cast<unsigned>(first.count);
    item.progressText = std::to_wstring(finished * 100u / count) + L"%";
    if (finished == count) {
        item.progressText = L"100%";
        item.operationText = L"完成";
        item.status = Done;
        const std::wstring folder = PubUtils::CutString(AnsiToWide(first.file), L"/", true, true, false);
        item.durationSeconds = GetMediaDuration(folder + L"/audio.mp3");
        item.timeText = AnsiToWide(PubUtils::FormatDuration(item.durationSeconds));
    }
    Invalidate();
}

bool CPlayListCtrl::PtInItemColumn(CControlUI* row, int x, int y, bool operation) {
    if (!row || GetItemIndex(row) < 0)
        return false;
    // The point is in the window's client coordinates, as the row's "itemclick" reports it.
    QWidget* window = OwnerWindow() ? static_cast<QWidget*>(OwnerWindow()) : this->window();
    const QRect column = ColumnRect(operation ? 5 : 6);
    const QPoint columnLeft = window->mapFromGlobal(mapToGlobal(column.topLeft()));
    const QPoint rowTop = window->mapFromGlobal(row->mapToGlobal(QPoint(0, 0)));
    const QRect cell =
        QRect(columnLeft.x(), rowTop.y(), column.width(), row->height()).marginsRemoved(ItemTextPadding());
    return cell.contains(x, y);
}

void CPlayListCtrl::TickElapsed() {
    for (PlayItem& item : items_)
        if (item.status == Converting)
            ++item.elapsedSeconds;
    Invalidate();
}

QString CPlayListCtrl::GetItemText(CListTextElementUI* row, int index, int column) {
    std::wstring text = kUnknown;
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        Log(Warning, "CPlayListCtrl::GetItemText", "row not eq data size: row: %d, size: %lu", index,
            static_cast<unsigned long>(items_.size()));
    } else {
        const PlayItem& item = items_[static_cast<size_t>(index)];
        switch (column) {
            case 0:
                text = item.fileName;
                break;
            case 1:
                text = item.fileType;
                break;
            case 2:
                text = item.timeText;
                break;
            case 3:
                text = item.progressText;
                break;
            case 4:
                text = item.status == Idle ? L"00:00"
                                           : AnsiToWide(PubUtils::FormatDuration(item.elapsedSeconds));
                break;
            case 5:
                text = item.operationText;
                break;
            case 6:
                text = item.deleteText;
                break;
            default:
                break;
        }
    }
    if (!row)
        return QString::fromStdWString(text);
    row->userData = QString::fromStdWString(text);
    return row->userData;
}

bool CPlayListCtrl::Remove(CControlUI* row) {
    return RemoveAt(GetItemIndex(row));
}

bool CPlayListCtrl::RemoveAt(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        Log(Warning, "CPlayListCtrl::RemoveAt", "row not eq data size: row: %d, size: %lu", index,
            static_cast<unsigned long>(items_.size()));
        return false;
    }
    items_.erase(items_.begin() + index);
    CListUI::RemoveAt(index);
    return true;
}

void CPlayListCtrl::RemoveAll() {
    items_.clear();
    CListUI::RemoveAll();
}
