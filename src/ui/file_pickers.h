#pragma once
// Choosing files and folders. FilePicker is the seam to the toolkit's dialogs (the Qt one unless a
// test sets another); OpenFileDialog keeps the Windows-style walk over the chosen files that callers
// use, without its buffer limits. UI thread only.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <string>

class QWidget;

class FilePicker {
public:
    virtual ~FilePicker();
    // Existing files, or an empty list when cancelled. pattern is in Qt's form ("*.txt *.text");
    // an empty pattern offers every file.
    virtual QStringList PickFiles(QWidget* owner, const QString& title, const QString& filterDescription,
                                  const QString& pattern, bool multiple) = 0;
    // An existing folder, or empty when cancelled.
    virtual QString PickFolder(QWidget* owner, const QString& title) = 0;
};

// The toolkit's own dialogs, native or not as the desktop provides.
class QtFilePicker : public FilePicker {
public:
    QStringList PickFiles(QWidget* owner, const QString& title, const QString& filterDescription,
                          const QString& pattern, bool multiple) override;
    QString PickFolder(QWidget* owner, const QString& title) override;
};

FilePicker& CurrentFilePicker();
// The picker is not owned; nullptr puts the Qt one back.
void SetFilePickerForTesting(FilePicker* picker);

class OpenFileDialog {
public:
    // The longest filter kept, counted in characters with every zero.
    static constexpr std::size_t kMaxFilterLength = 511;

    OpenFileDialog();

    void SetMultiSelect(bool multiple) { multiple_ = multiple; }
    // Pairs of description and pattern, each ending with L'\0', the whole ending with one more
    // L'\0'. Whole pairs are kept while they fit in kMaxFilterLength; the dialog offers the first
    // one (patterns separated by ';'). No pair: every file is offered.
    void SetFilter(const std::wstring& filter);
    const std::wstring& Filter() const { return filter_; }
    void SetOwner(QWidget* owner) { owner_ = owner; }
    // An empty title stands for the default one, "选择文件".
    void SetTitle(const std::wstring& title) { title_ = title; }
    // Kept for callers that size a buffer; the choice is never cut to it.
    void SetFileBufferSize(unsigned size) { fileBufferSize_ = size; }
    unsigned FileBufferSize() const { return fileBufferSize_; }

    // True when at least one file was chosen; a cancel leaves no file.
    bool Show();

    // Never null. The choice in the Windows layout: one file (or multi-select off) is its path and
    // a zero; several are their folder, a zero, each name and a zero, and one more zero. Files of
    // several folders are given as their deepest common folder and paths relative to it; when they
    // share none (relative paths only) the folder is empty and each name is the whole path.
    const wchar_t* GetFirstFile() const { return buffer_.c_str(); }
    // Start with the cursor from GetFirstFile(); each call gives one full path and moves the cursor
    // on, to nullptr after the last. A cursor outside the buffer gives "" and becomes nullptr.
    std::wstring GetNextFile(const wchar_t*& cursor) const;

private:
    void SetChoice(const QStringList& files);

    bool multiple_ = false;
    std::wstring filter_;
    QWidget* owner_ = nullptr;
    std::wstring title_;
    unsigned fileBufferSize_ = 0;
    std::wstring buffer_;
};

// The chosen folder's path, or L"" when cancelled; an empty title stands for "选择一个文件夹".
std::wstring BrowseForFolder(QWidget* owner, const std::wstring& title);
