#include "ui/rtmp_player.h"

#include "app/data.h"
#include "core/helpers.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/text_convert.h"
#include "maintenance/update_exe.h"
#include "playlist/play_list_ctrl.h"
#include "speech/audio_convert.h"
#include "ui/about_app_dlg.h"
#include "ui/desktop_opener.h"
#include "ui/file_pickers.h"
#include "ui/message_wnd.h"
#include "ui/result_saving.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTimer>

namespace {

QStringList TextFiles(const QMimeData* data) {
    QStringList files;
    if (data)
        for (const QUrl& url : data->urls())
            if (url.isLocalFile() && url.toLocalFile().endsWith(".txt"))
                files << url.toLocalFile();
    return files;
}

// The files the user picks for the play list, walked as the open-file dialog returns them.
std::vector<std::wstring> PickTextFiles(QWidget* owner) {
    OpenFileDialog dialog;
    dialog.SetMultiSelect(true);
    dialog.SetFilter(CPlayListCtrl::ChooserFilter());
    dialog.SetOwner(owner);
    dialog.SetTitle(CPlayListCtrl::kChooserTitle);
    dialog.SetFileBufferSize(CPlayListCtrl::kChooserBufferSize);
    std::vector<std::wstring> files;
    if (dialog.Show())
        for (const wchar_t* cursor = dialog.GetFirstFile(); cursor;)
            files.push_back(dialog.GetNextFile(cursor));
    return files;
}

}  // namespace

RtmpPlayer::RtmpPlayer() : convert_(std::make_unique<CAudioConvert>()) {
    setAcceptDrops(true);
}

RtmpPlayer::~RtmpPlayer() = default;

void RtmpPlayer::ShowAbout() {
    // Each opening makes the window anew and reads the update state afresh.
    if (!about_ || !about_->IsOpen()) {
        UpdateChecker& checker = CData::Instance().GetUpdateChecker();
        about_ = std::make_unique<CAboutAppDlg>(
            CAboutAppDlg::UpdateState{[&checker] { return checker.HasRemoteVersion(); },
                                      [&checker] { return checker.HasNewerVersion(); }});
    }
    about_->Open();
}

CControlUI* RtmpPlayer::CreateControl(const QString& className) {
    if (className == CPlayListCtrl::kSkinClass)
        return new CPlayListCtrl;
    return nullptr;
}

void RtmpPlayer::InitWindow() {
    btnMin_ = Find<CButtonUI>("btnMin");
    btnMax_ = Find<CButtonUI>("btnMax");
    btnClose_ = Find<CButtonUI>("btnClose");
    btnAbout_ = Find<CButtonUI>("btnAbout");
    for (int i = 0; i < 4; ++i)
        optAudio_[i] = Find<COptionUI>(QString("optAudio%1").arg(i + 1));
    btnAdd_ = Find<CButtonUI>("btnAdd");
    btnStart_ = Find<CButtonUI>("btnStart");
    btnStartAll_ = Find<CButtonUI>("btnStartAll");
    btnSave_ = Find<CButtonUI>("btnSave");
    playList_ = Find<CPlayListCtrl>("playList");
    edtText_ = Find<CRichEditUI>("edtText");

    CData::Instance().SetMainWindow(Handle());
    if (btnClose_)
        SetTimer(btnClose_, 0, 1000);
    const int voice = CData::Instance().GetAudioType();
    if (COptionUI* option = optAudio_[voice >= 1 && voice <= 3 ? voice - 1 : 3])
        option->Selected(true, false);
    WriteConfigString(L"DownloadURL", AnsiToWide(kDownloadUrl));
    CData::Instance().GetUpdateChecker().SetNotifyWindow(Handle());
    CData::Instance().GetUpdateChecker().StartCheck();
    show();
    activateWindow();
    if (edtText_)
        edtText_->Editor()->setFocus();
}

void RtmpPlayer::Notify(TNotifyUI& msg) {
    WindowImplBase::Notify(msg);
    if (msg.sType == "timer" && msg.pSender == btnClose_ && btnClose_) {
        if (convert_)
            convert_->StartNextTask();
        if (playList_)
            playList_->TickElapsed();
    } else if (msg.sType == "itemactivate" && playList_) {
        // A double-click on a finished row plays its result with the desktop's player. Not on the
        // operation and delete cells: there the first press acted already (a deleted row's
        // successor now sits under the pointer).
        const int row = msg.wParam;
        const QPoint at = msg.ptMouse;
        const bool onActionCell = playList_->PtInItemColumn(msg.pSender, at.x(), at.y(), true) ||
                                  playList_->PtInItemColumn(msg.pSender, at.x(), at.y(), false);
        if (!onActionCell && playList_->GetItemStatus(row) == Done && convert_) {
            const PieceList pieces = convert_->GetFinishedPieces(WideToAnsi(playList_->GetItemFile(row)));
            if (!pieces.empty()) {
                const std::string& file = pieces.front()->file;
                OpenWithDesktop(QUrl::fromLocalFile(
                    QString::fromStdString(file.substr(0, file.find_last_of('/')) + "/audio.mp3")));
            }
        }
    }
}

void RtmpPlayer::OnClick(TNotifyUI& msg) {
    CControlUI* sender = msg.pSender;
    if (sender == btnClose_) {
        Close();
    } else if (sender == btnMax_) {
        ToggleMaximized();
    } else if (sender == btnAbout_) {
        ShowAbout();
    } else if (sender == btnMin_) {
        showMinimized();
    } else if (sender == btnAdd_ && playList_) {
        playList_->SelectPlayFiles(&PickTextFiles);
    } else if (sender == btnStart_) {
        ConvertOne();
    } else if (sender == btnStartAll_) {
        ConvertAll();
    } else if (sender == btnSave_ && playList_ && convert_) {
        SaveResults(this, *playList_, *convert_);
    } else {
        for (int i = 0; i < 4; ++i)
            if (sender == optAudio_[i] && sender)
                CData::Instance().SetAudioType(i + 1);
    }
}

void RtmpPlayer::ToggleMaximized() {
    if (!btnMax_)
        return;
    const bool restore = isMaximized();
    if (restore)
        showNormal();
    else
        showMaximized();
    const QString prefix = restore ? "restore_" : "max_";
    btnMax_->SetAttribute("normalimage", prefix + "normal.png");
    btnMax_->SetAttribute("hotimage", prefix + "over.png");
    btnMax_->SetAttribute("pushedimage", prefix + "over.png");
}

void RtmpPlayer::StartRow(int row) {
    if (!playList_ || !convert_ || !playList_->SetItemConverting(row))
        return;
    const std::wstring path = playList_->GetItemFile(row);
    PubUtils::TextError error = PubUtils::TextError::None;
    if (convert_->StartJob(WideToAnsi(path), &error))
        return;
    // Left Converting, the row could neither finish nor be deleted.
    playList_->SetItemIdle(row);
    const std::wstring name = PubUtils::CutString(path, L"/", true, false, false);
    ShowBox(L"无法转换 " + name + L"：" + PubUtils::TextErrorTextZh(error), 0);
}

void RtmpPlayer::ConvertOne() {
    if (!playList_)
        return;
    for (int row = 0; row < playList_->GetCount(); ++row) {
        if (playList_->GetItemStatus(row) == Idle) {
            StartRow(row);
            return;
        }
    }
    const QString text = edtText_ ? edtText_->GetText() : QString();
    if (text.isEmpty())
        return;
    const int row = playList_->AddPlayText(text.toStdWString());
    if (row != -1)
        StartRow(row);
}

void RtmpPlayer::ConvertAll() {
    if (!playList_)
        return;
    for (int row = 0; row < playList_->GetCount(); ++row)
        if (playList_->GetItemStatus(row) == Idle)
            StartRow(row);
}

void RtmpPlayer::ShowBox(const std::wstring& text, int seconds) {
    // From the event loop: a window made while a press is still being delivered would take it.
    QTimer::singleShot(0, this, [this, text, seconds] {
        auto* box = new CMessageWnd(true, seconds);
        box->SetButtons(L"确定", L"", false);
        box->SetMessageText(text);
        box->ShowMessage(this);
    });
}

void RtmpPlayer::OnPlayListPress(QPoint point) {
    if (!playList_)
        return;
    CControlUI* control = FindControlAt(point);
    const int row = control ? playList_->GetItemIndex(control) : -1;
    if (row < 0)
        return;
    const std::string path = WideToAnsi(playList_->GetItemFile(row));
    if (playList_->PtInItemColumn(control, point.x(), point.y(), false)) {
        if (playList_->GetItemStatus(row) == Converting) {
            ShowBox(L"当前文件正在识别中，无法删除!", 5);
        } else {
            if (convert_)
                convert_->RemoveJob(path);
            playList_->RemoveAt(row);
        }
    } else if (playList_->PtInItemColumn(control, point.x(), point.y(), true) &&
               playList_->GetItemStatus(row) == Idle) {
        StartRow(row);
    }
}

bool RtmpPlayer::MessageHandler(const WindowMessage& msg) {
    switch (msg.id) {
        case WM_KEYDOWN:
            if (msg.wParam == Qt::Key_L && (msg.modifiers & Qt::ControlModifier) &&
                (msg.modifiers & Qt::ShiftModifier))
                OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString(PubUtils::GetDataDir())));
            break;
        case platform::WM_SYSCOMMAND:
            if (msg.wParam == platform::SC_CLOSE)
                hide();
            break;
        case WM_LBUTTONDOWN:
            OnPlayListPress(msg.point);
            break;
        case WM_UPDATE_STATUS:
            OnUpdateStatus(msg);
            break;
        case WM_CONVERT_STATUS:
            if (convert_ && playList_ && msg.posted)
                if (const std::string* job = msg.posted->PayloadAs<std::string>())
                    playList_->UpdateItemStatus(convert_->GetFinishedPieces(*job));
            break;
        default:
            break;
    }
    return false;  // every message goes on to the framework
}

void RtmpPlayer::OnUpdateStatus(const WindowMessage& msg) {
    const auto code = static_cast<int>(msg.wParam);
    UpdateChecker& checker = CData::Instance().GetUpdateChecker();
    if (code == UPDATE_FAILED)
        Log(Warning, "RtmpPlayer::MessageHandler", "check update version failed");
    if (code == UPDATE_AVAILABLE) {
        if (checker.HasNewerVersion())
            Log(Info, "RtmpPlayer::MessageHandler", "has no must update version");
        if (checker.MustUpdate()) {
            Log(Info, "RtmpPlayer::MessageHandler", "find must update version. start update");
            CData::Instance().PostAppExit();
        }
    }
    const UpdateNotice* notice = msg.posted ? msg.posted->PayloadAs<UpdateNotice>() : nullptr;
    Log(Info, "RtmpPlayer::MessageHandler", "update msg: %d, %s", code, notice ? notice->text.c_str() : "");
}

void RtmpPlayer::Close() {
    if (closed_)
        return;
    closed_ = true;
    Log(Info, "RtmpPlayer::Close", "main close");
    if (btnClose_)
        KillTimer(btnClose_);
    hide();
    about_.reset();
    convert_.reset();
    CData::Instance().PostAppExit();
}

void RtmpPlayer::OnFinalMessage() {
    WindowImplBase::OnFinalMessage();
    CData& data = CData::Instance();
    if (data.GetUpdateChecker().MustUpdate() || data.IsUpdateOnExit())
        PubUtils::StartUpdateExe();
    QCoreApplication::exit(0);
}

void RtmpPlayer::dragEnterEvent(QDragEnterEvent* event) {
    if (!TextFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void RtmpPlayer::dropEvent(QDropEvent* event) {
    if (playList_ && playList_->AddDroppedFiles(TextFiles(event->mimeData())))
        event->acceptProposedAction();
}
