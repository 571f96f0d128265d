#include "playlist/play_list_ctrl.h"

#include "core/logger.h"
#include "core/paths.h"
#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "playlist/sine_mp3.h"
#include "skinui/skin_resources.h"
#include "skinui/window_impl_base.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QTest>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The list sits off the window's origin (layout inset, a bar above, its own inset), and its cells
// have text insets, so that a hit test in the wrong coordinates misses.
constexpr char kSkin[] = R"(<Window size="700,300"><VerticalLayout inset="5,0,0,0">
  <Control name="bar" height="40"/>
  <CPlayListCtrl name="playList">
    <ListHeader height="24">
      <ListHeaderItem text="文件"/>
      <ListHeaderItem text="类型" width="60"/>
      <ListHeaderItem text="时间" width="100"/>
      <ListHeaderItem text="进度" width="80"/>
      <ListHeaderItem text="用时" width="80"/>
      <ListHeaderItem text="操作" width="80"/>
      <ListHeaderItem text="删除" width="80"/>
    </ListHeader>
  </CPlayListCtrl>
</VerticalLayout></Window>)";

class PlayListWindow : public WindowImplBase {
public:
    QString GetWindowClassName() const override { return "PlayListTest"; }
    QString GetSkinFile() const override { return "playlist.xml"; }
    CControlUI* CreateControl(const QString& className) override {
        return className == CPlayListCtrl::kSkinClass ? new CPlayListCtrl : nullptr;
    }
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == "itemclick")
            clicks.push_back(msg);
        WindowImplBase::Notify(msg);
    }
    std::vector<TNotifyUI> clicks;
};

class PlayListTest : public testenv::TempEnvTest {
protected:
    void SetUp() override {
        PubUtils::GetDataDir();
        Logger::ReopenGlobalForTesting();
        SkinResources::Instance().SetFileSource([](const QString& name) -> std::optional<QByteArray> {
            if (name == "playlist.xml")
                return QByteArray(kSkin);
            return std::nullopt;
        });
        SkinResources::Instance().SetDiagnosticHook(
            [this](const std::wstring& text) { diagnostics += QString::fromStdWString(text); });
        ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
        list = window.Find<CPlayListCtrl>("playList");
        ASSERT_NE(list, nullptr) << "made by the window's hook for its skin class";
        // The skin parser lets a custom class keep only the plain control's attributes.
        for (const auto& [name, value] :
             {std::pair{"inset", "1,1,1,1"}, {"itemheight", "30"}, {"itemtextpadding", "2,3,4,5"}})
            ASSERT_TRUE(list->SetAttribute(name, value)) << name;
        ASSERT_TRUE(diagnostics.isEmpty()) << diagnostics.toStdString();
    }
    void TearDown() override {
        SkinResources::Instance().Clear();
        SkinResources::Instance().SetDiagnosticHook(nullptr);
    }

    // The seven cell texts of a row, as its element asks for them.
    std::vector<std::wstring> Cells(int row) {
        std::vector<std::wstring> cells;
        for (int column = 0; column < 7; ++column)
            cells.push_back(list->GetItemText(list->GetItemAt(row), row, column).toStdWString());
        return cells;
    }
    std::vector<std::wstring> Files() {
        std::vector<std::wstring> files;
        for (int row = 0; row < list->GetCount(); ++row)
            files.push_back(list->GetItemFile(row));
        return files;
    }
    // Each warning logged so far as "tag: text".
    std::vector<std::string> Warnings() {
        std::vector<std::string> lines;
        std::istringstream log(ReadFile(env.DataDir() + "/Parlatto.log"));
        for (std::string line; std::getline(log, line);) {
            const size_t mark = line.find(" warning>>> [");
            if (mark == std::string::npos)
                continue;
            std::string entry = line.substr(line.find(']', mark) + 1);
            if (!entry.empty() && entry.back() == '\r')
                entry.pop_back();
            const size_t tabs = entry.find(":\t\t");
            if (tabs != std::string::npos)
                entry.replace(tabs, 3, ": ");
            lines.push_back(entry);
        }
        return lines;
    }
    // A text file of its own; only its path matters to the list.
    std::wstring TextFile(const std::string& name) {
        const std::string path = env.Root() + "/" + name;
        WriteFile(path, "text\n");
        return AnsiToWide(path);
    }
    std::string WorkFile(int n) { return PubUtils::GetTempDir() + "/文本" + std::to_string(n) + ".txt"; }

    QString diagnostics;
    PlayListWindow window;
    CPlayListCtrl* list = nullptr;
};

// The finished pieces of a job, as the conversion manager hands them over.
PieceList Finished(const std::wstring& job, const std::string& folder, int count, int finished) {
    PieceList pieces;
    for (int i = 0; i < finished; ++i) {
        auto piece = std::make_shared<AudioPiece>();
        piece->job = WideToAnsi(job);
        piece->count = count;
        piece->index = i;
        piece->file = folder + "/" + std::to_string(i + 1) + ".mp3";
        piece->finished = true;
        pieces.push_back(piece);
    }
    return pieces;
}

TEST_F(PlayListTest, NewRowShowsNameTypeAndItsStartAndDeleteCells) {
    const struct {
        std::wstring path;
        std::wstring name;
        std::wstring type;
    } cases[] = {
        {L"/home/u/story.txt", L"story.txt", L".txt"},
        {L"/home/u/a.b.txt", L"a.b.txt", L".txt"},
        {L"/home/u/README", L"README", L"/home/u/README"},
        {L"/home/u/notes.d/README", L"README", L".d/README"},
        {L"/home/u/故事 一.txt", L"故事 一.txt", L".txt"},
    };
    for (const auto& c : cases)
        list->AddPlayFile(c.path);
    ASSERT_EQ(list->GetCount(), 5);
    for (int row = 0; row < 5; ++row) {
        const auto& c = cases[row];
        EXPECT_THAT(Cells(row), ElementsAre(c.name, c.type, L"", L"0", L"00:00", L"开始", L"删除"))
            << WideToAnsi(c.path);
        EXPECT_EQ(list->GetItemStatus(row), Idle);
    }
    CListTextElementUI* row = list->GetItemAt(0);
    EXPECT_EQ(list->GetItemText(row, 0, 7), "unknown");
    EXPECT_EQ(list->GetItemText(row, 0, -1), "unknown");
    row->grab();
    EXPECT_EQ(row->userData, "删除") << "drawing asked the list for the cells, the last one kept";
}

TEST_F(PlayListTest, APathIsAddedOnceAndAgainAfterItsRowWasRemoved) {
    list->AddPlayFile(L"/t/a.txt");
    list->AddPlayFile(L"/t/b.txt");
    list->AddPlayFile(L"/t/a.txt");
    list->AddPlayFile(L"/t/A.txt");
    EXPECT_THAT(Files(), ElementsAre(L"/t/a.txt", L"/t/b.txt", L"/t/A.txt")) << "the key is case-sensitive";
    ASSERT_TRUE(list->SetItemConverting(0));
    EXPECT_TRUE(list->RemoveAt(0)) << "the list itself does not guard converting rows";
    EXPECT_TRUE(list->Remove(list->GetItemAt(1)));
    EXPECT_THAT(Files(), ElementsAre(L"/t/b.txt"));
    EXPECT_EQ(Cells(0)[0], L"b.txt") << "rows and records stay in step";
    list->AddPlayFile(L"/t/a.txt");
    EXPECT_THAT(Files(), ElementsAre(L"/t/b.txt", L"/t/a.txt"));
    EXPECT_EQ(list->GetItemStatus(1), Idle) << "a new row, not the removed one";
    list->RemoveAll();
    EXPECT_EQ(list->GetCount(), 0);
    list->AddPlayFile(L"/t/b.txt");
    EXPECT_THAT(Files(), ElementsAre(L"/t/b.txt"));
    EXPECT_THAT(Warnings(), IsEmpty());
}

TEST_F(PlayListTest, ChosenFilesFillAtMostAHundredRowsButTypedTextHasNoLimit) {
    std::vector<std::wstring> chosen = {L""};
    for (int i = 0; i < 150; ++i)
        chosen.push_back(L"/t/f" + std::to_wstring(i) + L".txt");
    chosen.insert(chosen.begin() + 2, L"/t/f0.txt");
    QWidget* owner = nullptr;
    list->SelectPlayFiles([&](QWidget* w) {
        owner = w;
        return chosen;
    });
    EXPECT_EQ(owner, &window);
    ASSERT_EQ(list->GetCount(), 100);
    std::vector<std::wstring> expected(chosen.begin() + 1, chosen.end());
    expected.erase(expected.begin() + 1);
    expected.resize(100);
    EXPECT_THAT(Files(), ElementsAreArray(expected))
        << "the dialog's order; empty names and duplicates skipped";

    list->SelectPlayFiles({});
    list->SelectPlayFiles([](QWidget*) { return std::vector<std::wstring>{L"/t/more.txt"}; });
    EXPECT_EQ(list->GetCount(), 100);
    EXPECT_EQ(list->AddPlayText(L"typed"), 100);
    EXPECT_EQ(list->GetCount(), 101);
}

TEST_F(PlayListTest, DroppedTextFilesAreAddedUpToTheSameLimit) {
    platform::MakeDirs(env.Root() + "/folder.txt");
    const std::wstring a = TextFile("a.txt");
    const std::wstring upper = TextFile("B.TXT");
    const QStringList dropped = {QString::fromStdWString(a),
                                 QString::fromStdWString(TextFile("c.md")),
                                 QString::fromStdWString(upper),
                                 QString::fromStdString(env.Root() + "/folder.txt"),
                                 QString::fromStdString(env.Root() + "/gone.txt"),
                                 QString::fromStdWString(a)};
    EXPECT_TRUE(list->AddDroppedFiles(dropped));
    EXPECT_THAT(Files(), ElementsAre(a, upper));
    EXPECT_FALSE(list->AddDroppedFiles(dropped)) << "nothing new";

    for (int i = 2; i < 99; ++i)
        list->AddPlayFile(L"/t/f" + std::to_wstring(i) + L".txt");
    EXPECT_TRUE(list->AddDroppedFiles(
        {QString::fromStdWString(TextFile("d.txt")), QString::fromStdWString(TextFile("e.txt"))}));
    EXPECT_EQ(list->GetCount(), 100);
    EXPECT_EQ(list->GetItemFile(99), TextFile("d.txt"));
}

TEST_F(PlayListTest, TypedTextIsSavedAsItsOwnNumberedFileInTheWorkFolder) {
    const std::wstring texts[] = {L"第一行\n第二行\r\nabc 😀", L"second", L""};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(list->AddPlayText(texts[i]), i);
    EXPECT_EQ(ReadFile(WorkFile(1)), "第一行\n第二行\r\nabc 😀") << "UTF-8 bytes as they are, nothing added";
    EXPECT_EQ(ReadFile(WorkFile(2)), "second");
    EXPECT_TRUE(platform::PathExists(WorkFile(3)));
    EXPECT_THAT(Files(),
                ElementsAre(AnsiToWide(WorkFile(1)), AnsiToWide(WorkFile(2)), AnsiToWide(WorkFile(3))));
    EXPECT_EQ(Cells(0)[0], L"文本1.txt");

    ASSERT_TRUE(list->RemoveAt(2));
    EXPECT_EQ(list->AddPlayText(L"fourth"), 2);
    EXPECT_EQ(list->GetItemFile(2), AnsiToWide(WorkFile(4))) << "a number is never used twice";

    CPlayListCtrl other;
    EXPECT_EQ(other.AddPlayText(L"new list"), 0);
    EXPECT_EQ(other.GetItemFile(0), AnsiToWide(WorkFile(1))) << "each list counts from 1";
}

TEST_F(PlayListTest, TypedTextThatCannotBeAddedAnswersMinusOne) {
    // A folder in the way: even root cannot open it for writing.
    ASSERT_TRUE(platform::MakeDirs(WorkFile(1)));
    EXPECT_EQ(list->AddPlayText(L"blocked"), -1);
    EXPECT_EQ(list->GetCount(), 0);

    // A chosen file that already has the next typed text's path: overwritten, no second row.
    list->AddPlayFile(AnsiToWide(WorkFile(2)));
    EXPECT_EQ(list->AddPlayText(L"typed"), -1);
    EXPECT_EQ(ReadFile(WorkFile(2)), "typed");
    EXPECT_EQ(list->GetCount(), 1);

    EXPECT_THAT(Warnings(), ElementsAre("CPlayListCtrl::AddPlayText: fopen " + WorkFile(1) + " failed."));
}

// A list whose framework refuses every row.
class RefusingList : public CPlayListCtrl {
public:
    bool AddAt(CListTextElementUI*, int) override { return false; }
};

TEST_F(PlayListTest, ARowTheFrameworkRefusesLeavesNoRecord) {
    RefusingList refusing;
    EXPECT_EQ(refusing.AddPlayText(L"text"), -1);
    refusing.AddPlayFile(L"/t/a.txt");
    EXPECT_EQ(refusing.GetCount(), 0);
    EXPECT_EQ(refusing.GetItemFile(0), L"") << "no record without its row";
}

TEST_F(PlayListTest, RowsGoFromIdleToConvertingToDoneAndARefusedStartGoesBack) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        list->AddPlayFile(AnsiToWide("/t/" + std::string(name)));
    EXPECT_TRUE(list->SetItemConverting(0));
    EXPECT_EQ(list->GetItemStatus(0), Converting);
    EXPECT_EQ(Cells(0)[5], L"识别中");
    EXPECT_FALSE(list->SetItemConverting(0)) << "already converting";

    EXPECT_FALSE(list->SetItemIdle(1)) << "only a converting row goes back";
    ASSERT_TRUE(list->SetItemConverting(1));
    list->TickElapsed();
    EXPECT_TRUE(list->SetItemIdle(1));
    EXPECT_EQ(list->GetItemStatus(1), Idle);
    EXPECT_THAT(Cells(1), ElementsAre(L"b.txt", L".txt", L"", L"0", L"00:00", L"开始", L"删除"));
    EXPECT_TRUE(list->SetItemConverting(1)) << "and can be started again";

    list->UpdateItemStatus(Finished(L"/t/a.txt", env.Root(), 1, 1));
    ASSERT_EQ(list->GetItemStatus(0), Done);
    EXPECT_FALSE(list->SetItemConverting(0));
    EXPECT_FALSE(list->SetItemIdle(0)) << "a row never leaves Done";
    EXPECT_EQ(list->GetItemStatus(0), Done);
    EXPECT_THAT(Warnings(), IsEmpty());
}

TEST_F(PlayListTest, JobStatusShowsTruncatedPercentagesThenTheResultsDuration) {
    const std::string folder = env.Root() + "/job";
    ASSERT_TRUE(platform::MakeDirs(folder));
    ASSERT_TRUE(testenv::MakeSineMp3(folder + "/audio.mp3", "3"));
    const std::wstring seven = AnsiToWide(env.Root() + "/故事.txt");
    const std::wstring three = L"/t/three.txt";
    list->AddPlayFile(three);
    list->AddPlayFile(seven);
    ASSERT_TRUE(list->SetItemConverting(0));
    ASSERT_TRUE(list->SetItemConverting(1));
    const struct {
        int row;
        std::wstring job;
        int count;
        std::vector<std::wstring> progress;
    } jobs[] = {
        {1, seven, 7, {L"14%", L"28%", L"42%", L"57%", L"71%", L"85%"}},
        {0, three, 3, {L"33%", L"66%"}},
    };
    for (const auto& job : jobs) {
        for (size_t finished = 1; finished <= job.progress.size(); ++finished) {
            list->UpdateItemStatus(Finished(job.job, folder, job.count, static_cast<int>(finished)));
            EXPECT_EQ(Cells(job.row)[3], job.progress[finished - 1]) << job.count << " pieces";
            EXPECT_EQ(Cells(job.row)[5], L"识别中");
            EXPECT_EQ(Cells(job.row)[2], L"");
            EXPECT_EQ(list->GetItemStatus(job.row), Converting);
        }
    }
    list->UpdateItemStatus(Finished(seven, folder, 7, 7));
    EXPECT_EQ(list->GetItemStatus(1), Done);
    EXPECT_THAT(Cells(1), ElementsAre(L"故事.txt", L".txt", L"00:03", L"100%", L"00:00", L"完成", L"删除"));
    EXPECT_EQ(Cells(0)[3], L"66%") << "the other job's row is untouched";

    // Repeated for a done row: the result is read again; a missing one gives 00:00, still done.
    ASSERT_TRUE(platform::RemoveTree(folder + "/audio.mp3"));
    list->UpdateItemStatus(Finished(seven, folder, 7, 7));
    EXPECT_EQ(Cells(1)[2], L"00:00");
    EXPECT_EQ(list->GetItemStatus(1), Done);
    EXPECT_THAT(Warnings(), IsEmpty());
}

TEST_F(PlayListTest, StatusListsWithoutARowAreLoggedAndChangeNothing) {
    list->AddPlayFile(L"/t/a.txt");
    ASSERT_TRUE(list->SetItemConverting(0));
    const auto before = Cells(0);
    list->UpdateItemStatus({});
    list->UpdateItemStatus(Finished(L"/t/removed.txt", env.Root(), 2, 1));
    list->UpdateItemStatus(Finished(L"/t/a.txt", env.Root(), 0, 1));
    EXPECT_EQ(Cells(0), before);
    EXPECT_EQ(list->GetItemStatus(0), Converting);
    EXPECT_THAT(Warnings(),
                ElementsAre("CPlayListCtrl::UpdateItemStatus: UpdateItemStatus vctInfo is empty",
                            "CPlayListCtrl::UpdateItemStatus: UpdateItemStatus no found. /t/removed.txt",
                            "CPlayListCtrl::UpdateItemStatus: UpdateItemStatus bad count: 0"));
}

TEST_F(PlayListTest, OutOfRangeRowsAreLoggedAndAnsweredEmpty) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        list->AddPlayFile(AnsiToWide("/t/" + std::string(name)));
    CListTextElementUI* row = list->GetItemAt(0);
    CPlayListCtrl other;
    other.AddPlayFile(L"/t/other.txt");
    const struct {
        const char* name;
        std::function<bool()> answersEmpty;
        const char* warning;
    } cases[] = {
        {"file of row 3", [&] { return list->GetItemFile(3).empty(); },
         "CPlayListCtrl::GetItemFile: row not eq data size: row: 3, size: 3"},
        {"file of row -1", [&] { return list->GetItemFile(-1).empty(); },
         "CPlayListCtrl::GetItemFile: row not eq data size: row: -1, size: 3"},
        {"status of row 3", [&] { return list->GetItemStatus(3) == -1; },
         "CPlayListCtrl::GetItemStatus: GetItemStatus not exist: 3"},
        {"start of row -1", [&] { return !list->SetItemConverting(-1); },
         "CPlayListCtrl::GetItemStatus: GetItemStatus not exist: -1"},
        {"text of row 5",
         [&] { return list->GetItemText(row, 5, 0) == "unknown" && row->userData == "unknown"; },
         "CPlayListCtrl::GetItemText: row not eq data size: row: 5, size: 3"},
        {"removal of row 3", [&] { return !list->RemoveAt(3); },
         "CPlayListCtrl::RemoveAt: row not eq data size: row: 3, size: 3"},
        {"removal of another list's row", [&] { return !list->Remove(other.GetItemAt(0)); },
         "CPlayListCtrl::RemoveAt: row not eq data size: row: -1, size: 3"},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        EXPECT_TRUE(c.answersEmpty()) << c.name;
        expected.push_back(c.warning);
    }
    EXPECT_THAT(Warnings(), ElementsAreArray(expected));
    EXPECT_EQ(list->GetCount(), 3);
    EXPECT_EQ(other.GetCount(), 1);
}

TEST_F(PlayListTest, HitTestFindsTheOperationAndDeleteCellsInWindowCoordinates) {
    list->AddPlayFile(L"/t/a.txt");
    list->AddPlayFile(L"/t/b.txt");
    CListTextElementUI* second = list->GetItemAt(1);
    // The list's rows start at (6, 65) in the window: 693 wide, header 24, rows 30 high. Column 5
    // spans x 539..618 and column 6 619..698; row 1 spans y 95..124; the text insets (2, 3, 4, 5)
    // leave x 541..614 and 621..694, y 98..119.
    const struct {
        int x, y;
        bool operation;
        bool inside;
    } points[] = {
        {541, 98, true, true},   {614, 119, true, true},   {540, 110, true, false},  {615, 110, true, false},
        {580, 97, true, false},  {580, 120, true, false},  {580, 110, false, false}, {621, 98, false, true},
        {694, 119, false, true}, {620, 110, false, false}, {695, 110, false, false}, {650, 110, true, false},
        {650, 80, false, false}, {575, 70, true, false},
    };
    for (const auto& p : points)
        EXPECT_EQ(list->PtInItemColumn(second, p.x, p.y, p.operation), p.inside)
            << p.x << "," << p.y << (p.operation ? " operation" : " delete");
    EXPECT_FALSE(list->PtInItemColumn(nullptr, 580, 110, true));
    EXPECT_FALSE(list->PtInItemColumn(window.FindControl("bar"), 580, 10, true)) << "not a row";
}

TEST_F(PlayListTest, AClickedPointHitsTheCellItWasIn) {
    for (int i = 0; i < 20; ++i)
        list->AddPlayFile(L"/t/f" + std::to_wstring(i) + L".txt");
    ASSERT_TRUE(list->VerticalScrollBar()->isVisible());
    list->VerticalScrollBar()->setValue(list->VerticalScrollBar()->maximum());
    CListTextElementUI* last = list->GetItemAt(19);
    const QRect operation = list->ColumnRect(5);
    const struct {
        const char* name;
        QPoint point;  // in the row
        bool operation, remove;
    } clicks[] = {
        {"delete cell", QPoint(last->width() - 20, 15), false, true},
        {"operation cell", QPoint(operation.center().x() - last->mapTo(list, QPoint()).x(), 15), true, false},
        {"name cell", QPoint(20, 15), false, false},
    };
    for (const auto& c : clicks) {
        window.clicks.clear();
        QTest::mouseClick(last, Qt::LeftButton, {}, c.point);
        ASSERT_EQ(window.clicks.size(), 1u) << c.name;
        const TNotifyUI& msg = window.clicks.front();
        ASSERT_EQ(msg.pSender, last);
        EXPECT_EQ(list->PtInItemColumn(msg.pSender, msg.ptMouse.x(), msg.ptMouse.y(), true), c.operation)
            << c.name;
        EXPECT_EQ(list->PtInItemColumn(msg.pSender, msg.ptMouse.x(), msg.ptMouse.y(), false), c.remove)
            << c.name;
    }
}

TEST_F(PlayListTest, EveryTickCountsASecondForConvertingRowsOnly) {
    for (const char* name : {"idle.txt", "converting.txt", "done.txt"})
        list->AddPlayFile(AnsiToWide("/t/" + std::string(name)));
    ASSERT_TRUE(list->SetItemConverting(1));
    ASSERT_TRUE(list->SetItemConverting(2));
    list->TickElapsed();
    list->UpdateItemStatus(Finished(L"/t/done.txt", env.Root(), 1, 1));
    for (int i = 0; i < 64; ++i)
        list->TickElapsed();
    EXPECT_EQ(Cells(0)[4], L"00:00");
    EXPECT_EQ(Cells(1)[4], L"01:05");
    EXPECT_EQ(Cells(2)[4], L"00:01") << "the time it took, kept once done";
}

}  // namespace
