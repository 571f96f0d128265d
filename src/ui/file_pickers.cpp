#include "ui/file_pickers.h"

#include <QFileDialog>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace {

FilePicker* g_testPicker = nullptr;

using namespace std::string_literals;

const std::wstring kDefaultFilter = L"text files\0*.txt\0\0"s;
constexpr wchar_t kDefaultTitle[] = L"选择文件";
constexpr wchar_t kDefaultFolderTitle[] = L"选择一个文件夹";

// The double-zero list's pairs; an empty text ends it, as on the platform it comes from, and a
// description without a pattern is dropped.
std::vector<std::pair<std::wstring, std::wstring>> FilterPairs(const std::wstring& filter) {
    std::vector<std::wstring> texts;
    std::size_t at = 0;
    while (at < filter.size()) {
        const std::size_t end = std::min(filter.find(L'\0', at), filter.size());
        if (end == at)
            break;
        texts.push_back(filter.substr(at, end - at));
        at = end + 1;
    }
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (std::size_t i = 0; i + 1 < texts.size(); i += 2)
        pairs.emplace_back(texts[i], texts[i + 1]);
    return pairs;
}

QString QtPattern(const std::wstring& pattern) {
    QStringList patterns = QString::fromStdWString(pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& one : patterns)
        one = one.trimmed();
    patterns.removeAll(QString());
    return patterns.join(QLatin1Char(' '));
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

bool Holds(const QString& folder, const QString& path) {
    return folder == QLatin1String("/") ? path.startsWith(QLatin1Char('/'))
                                        : path.startsWith(folder + QLatin1Char('/'));
}

// The deepest folder that holds every path: "/" at worst for absolute paths, empty when they share
// none.
QString CommonFolder(const QStringList& paths) {
    QString common = FolderOf(paths.front());
    for (const QString& path : paths) {
        while (!common.isEmpty() && !Holds(common, path))
            common = common == QLatin1String("/") ? QString() : FolderOf(common);
    }
    return common;
}

}  // namespace

FilePicker::~FilePicker() = default;

QStringList QtFilePicker::PickFiles(QWidget* owner, const QString& title, const QString& filterDescription,
                                    const QString& pattern, bool multiple) {
    QString filter;
    if (!pattern.isEmpty())
        filter = filterDescription.isEmpty()
                     ? pattern
                     : filterDescription + QStringLiteral(" (") + pattern + QLatin1Char(')');
    if (multiple)
        return QFileDialog::getOpenFileNames(owner, title, QString(), filter);
    const QString file = QFileDialog::getOpenFileName(owner, title, QString(), filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

QString QtFilePicker::PickFolder(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
}

FilePicker& CurrentFilePicker() {
    static QtFilePicker qtPicker;
    return g_testPicker ? *g_testPicker : qtPicker;
}

void SetFilePickerForTesting(FilePicker* picker) {
    g_testPicker = picker;
}

OpenFileDialog::OpenFileDialog() : filter_(kDefaultFilter), buffer_(2, L'\0') {}

void OpenFileDialog::SetFilter(const std::wstring& filter) {
    std::wstring kept;
    for (const auto& [description, pattern] : FilterPairs(filter)) {
        // Room for this pair's two zeros and the closing one.
        if (kept.size() + description.size() + pattern.size() + 3 > kMaxFilterLength)
            break;
        kept += description;
        kept += L'\0';
        kept += pattern;
        kept += L'\0';
    }
    // With no pair left the list is still closed by two zeros.
    kept += L'\0';
    if (kept.size() == 1)
        kept += L'\0';
    filter_ = std::move(kept);
}

bool OpenFileDialog::Show() {
    const auto pairs = FilterPairs(filter_);
    const QString description = pairs.empty() ? QString() : QString::fromStdWString(pairs.front().first);
    const QString pattern = pairs.empty() ? QString() : QtPattern(pairs.front().second);
    const QString title = QString::fromStdWString(title_.empty() ? std::wstring(kDefaultTitle) : title_);
    QStringList files = CurrentFilePicker().PickFiles(owner_, title, description, pattern, multiple_);
    files.removeAll(QString());
    if (!multiple_ && files.size() > 1)
        files = QStringList{files.front()};
    SetChoice(files);
    return !files.isEmpty();
}

void OpenFileDialog::SetChoice(const QStringList& files) {
    buffer_.clear();
    if (files.size() == 1) {
        buffer_ = files.front().toStdWString();
        buffer_ += L'\0';
    } else if (files.size() > 1) {
        const QString folder = CommonFolder(files);
        const qsizetype skip =
            folder.isEmpty() ? 0 : folder.size() + (folder.endsWith(QLatin1Char('/')) ? 0 : 1);
        buffer_ = folder.toStdWString();
        buffer_ += L'\0';
        for (const QString& file : files) {
            buffer_ += file.mid(skip).toStdWString();
            buffer_ += L'\0';
        }
    }
    // The closing zero; with no file, two, so that a walk of either kind ends at once.
    buffer_ += L'\0';
    if (buffer_.size() == 1)
        buffer_ += L'\0';
}

std::wstring OpenFileDialog::GetNextFile(const wchar_t*& cursor) const {
    const wchar_t* begin = buffer_.c_str();
    const wchar_t* end = begin + buffer_.size();
    if (!cursor || std::less<const wchar_t*>()(cursor, begin) || !std::less<const wchar_t*>()(cursor, end)) {
        cursor = nullptr;
        return {};
    }
    const std::wstring first(begin);
    if (!multiple_) {
        cursor = nullptr;
        return first;
    }
    if (cursor == begin) {
        cursor += first.size() + 1;
        if (*cursor == L'\0') {
            cursor = nullptr;
            return first;
        }
    }
    const std::wstring name(cursor);
    std::wstring path = first;
    if (!path.empty() && path.back() != L'/')
        path += L'/';
    path += name;
    cursor += name.size() + 1;
    if (cursor >= end || *cursor == L'\0')
        cursor = nullptr;
    return path;
}

std::wstring BrowseForFolder(QWidget* owner, const std::wstring& title) {
    const QString shown = QString::fromStdWString(title.empty() ? std::wstring(kDefaultFolderTitle) : title);
    return CurrentFilePicker().PickFolder(owner, shown).toStdWString();
}
