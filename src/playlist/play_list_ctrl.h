#pragma once
// The play list: one row per text to convert, in the order added, keyed by the text file's full
// path (no two rows share one). It shows each row's name, type, result duration, progress, time
// spent and its start and delete cells; the main window drives it. UI thread only.

#include "skinui/skin_list.h"
#include "speech/audio_join.h"

#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QWidget;

enum PlayItemStatus { Idle = 0, Converting = 1, Done = 2 };

struct PlayItem {
    std::wstring fileName;
    std::wstring fileType;
    std::wstring timeText;
    std::wstring progressText;
    int elapsedSeconds = 0;
    std::wstring operationText;
    std::wstring deleteText;
    int durationSeconds = 0;
    std::wstring filePath;
    int status = Idle;
};

class CPlayListCtrl : public CListUI, public IListCallbackUI {
    Q_OBJECT
public:
    // The skin's class name for this control.
    static constexpr const char* kSkinClass = "CPlayListCtrl";
    // More rows than this are not added from the file dialog or a drop.
    static constexpr int kMaxChosenRows = 100;
    // How the file chooser given to SelectPlayFiles is to show its dialog.
    static constexpr wchar_t kChooserTitle[] = L"选择文件";
    static constexpr unsigned kChooserBufferSize = 26000;
    // In OpenFileDialog's form: description and pattern, each ended by a zero, and one more.
    static std::wstring ChooserFilter();

    // The chosen files' full paths in the dialog's order; none when cancelled.
    using FileChooser = std::function<std::vector<std::wstring>(QWidget* owner)>;

    explicit CPlayListCtrl(QWidget* parent = nullptr);

    void AddPlayFile(const std::wstring& path);
    // Asks the chooser for files and adds them in its order; its dialog belongs to owner, or to
    // this list's window without one.
    void SelectPlayFiles(const FileChooser& chooser, QWidget* owner = nullptr);
    // Files dropped onto the window; only existing ".txt" files. True when a row was added.
    bool AddDroppedFiles(const QStringList& paths);
    // Saves the text in the work folder as a file of its own and adds it: the new row's number,
    // or -1.
    int AddPlayText(const std::wstring& text);

    std::wstring GetItemFile(int row);
    int GetItemStatus(int row);
    // True when an Idle row became Converting.
    bool SetItemConverting(int row);
    // A start that was refused: true when a Converting row became Idle again.
    bool SetItemIdle(int row);
    // The finished pieces of one job, sorted by index.
    void UpdateItemStatus(const PieceList& vctInfo);
    // Whether (x, y), in the window's client coordinates, lies in the row's operation cell
    // (operation true) or delete cell.
    bool PtInItemColumn(CControlUI* row, int x, int y, bool operation);
    // Once a second: Converting rows count one more second.
    void TickElapsed();

    QString GetItemText(CListTextElementUI* row, int index, int column) override;
    bool Remove(CControlUI* row) override;
    bool RemoveAt(int index) override;
    void RemoveAll() override;

private:
    bool AddChosenFile(const std::wstring& path);
    int RowOf(const std::wstring& path) const;

    std::vector<PlayItem> items_;
    int textCounter_ = 1;
};
