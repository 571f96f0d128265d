#include "ui/rtmp_player.h"

#include "app/data.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/text_convert.h"
#include "maintenance/update_checker.h"
#include "playlist/play_list_ctrl.h"
#include "skinui/skin_controls.h"
#include "skinui/skin_resources.h"
#include "speech/audio_convert.h"
#include "speech/speech_client.h"
#include "support/loopback_server.h"
#include "support/speech_server.h"
#include "support/test_env.h"
#include "ui/about_app_dlg.h"
#include "ui/desktop_opener.h"
#include "ui/file_pickers.h"
#include "ui/message_wnd.h"
#include "ui/skin_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include <sys/stat.h>

namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;

// A folder picker that answers what the test says.
class CannedPicker : public FilePicker {
public:
    QStringList PickFiles(QWidget*, const QString&, const QString&, const QString&, bool) override {
        return files;
    }
    QString PickFolder(QWidget*, const QString& title) override {
        titles << title;
        return folder;
    }
    QStringList files;
    QString folder;
    QStringList titles;
};

class MainWindowTest : public testenv::TempEnvTest {
protected:
    MainWindowTest() {
        PubUtils::GetDataDir();
        WriteFile(env.DataDir() + "/config.ini", "[Parlatto]\nTokenUrl=" + server.TokenUrl() +
                                                     "\nSynthesisUrl=" + server.SynthesisUrl() + "\n");
        Logger::ReopenGlobalForTesting();
        SpeechClient::ClearTokenCacheForTesting();
        UseSkinFolder();
        SkinResources::Instance().SetDiagnosticHook(
            [this](const std::wstring& text) { diagnostics << QString::fromStdWString(text); });
        SetFilePickerForTesting(&picker);
        SetDesktopOpenerForTesting([this](const QUrl& url) { opened << url.toLocalFile(); });
        window = new RtmpPlayer;
        window->Create(nullptr, 0, 0, 0, 800, 600);
        list = window->PlayList();
    }
    ~MainWindowTest() override {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<CMessageWnd*>(w))
                delete w;
        delete window;
        CData::Instance().SetMainWindow(platform::WindowHandle::Null);
        SetFilePickerForTesting(nullptr);
        SetDesktopOpenerForTesting(nullptr);
        SkinResources::Instance().Clear();
        SkinResources::Instance().SetDiagnosticHook(nullptr);
    }

    void Click(const char* name) { QTest::mouseClick(window->FindControl(name), Qt::LeftButton); }
    // A press on a row's cell, as a person clicks it.
    void ClickCell(int row, int column) {
        CListTextElementUI* element = list->GetItemAt(row);
        ASSERT_NE(element, nullptr);
        const QRect header = list->ColumnRect(column);
        const QPoint inList(header.center().x(), 0);
        const QPoint local(element->mapFrom(list, inList).x(), element->height() / 2);
        QTest::mouseClick(element, Qt::LeftButton, {}, local);
    }
    QString Cell(int row, int column) { return list->GetItemText(list->GetItemAt(row), row, column); }
    bool WaitForStatus(int row, int status) {
        return QTest::qWaitFor([&] { return list->GetItemStatus(row) == status; }, 60000);
    }
    QStringList Boxes() {
        QStringList texts;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<CMessageWnd*>(w); box && box->isVisible())
                texts << box->Find<CTextUI>("MainTxtLab")->GetText();
        return texts;
    }
    std::string Text(const std::string& name, const std::string& content) {
        WriteFile(env.Root() + "/" + name, content);
        return env.Root() + "/" + name;
    }

    testenv::SpeechServer server;
    CannedPicker picker;
    QStringList opened;
    QStringList diagnostics;
    RtmpPlayer* window = nullptr;
    CPlayListCtrl* list = nullptr;
};

TEST_F(MainWindowTest, TypedTextBecomesARowThatFinishesWithADuration) {
    EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join("").toStdString();
    EXPECT_EQ(window->size(), QSize(800, 600));
    window->Find<CRichEditUI>("edtText")->SetText("你好，世界。Hello world.");
    Click("btnStart");
    ASSERT_EQ(list->GetCount(), 1);
    EXPECT_EQ(Cell(0, 0), "文本1.txt");
    ASSERT_TRUE(WaitForStatus(0, Done));
    EXPECT_EQ(Cell(0, 3), "100%");
    EXPECT_EQ(Cell(0, 5), "完成");
    EXPECT_NE(Cell(0, 2), "00:00");
    EXPECT_NE(Cell(0, 2), "");
}

TEST_F(MainWindowTest, ConvertAllStartsOnlyIdleRows) {
    picker.files = {QString::fromStdString(Text("a.txt", "Alpha.")),
                    QString::fromStdString(Text("b.txt", "Bravo.")),
                    QString::fromStdString(Text("c.txt", "Charlie."))};
    Click("btnAdd");
    ASSERT_EQ(list->GetCount(), 3);
    ClickCell(1, 5);  // the operation cell starts row 1
    ASSERT_TRUE(WaitForStatus(1, Done));
    server.Hold();
    Click("btnStartAll");
    EXPECT_EQ(list->GetItemStatus(0), Converting);
    EXPECT_EQ(list->GetItemStatus(1), Done);
    EXPECT_EQ(list->GetItemStatus(2), Converting);
    ClickCell(1, 5);
    EXPECT_EQ(list->GetItemStatus(1), Done) << "the operation cell of a Done row does nothing";
    server.Release();
    ASSERT_TRUE(WaitForStatus(0, Done));
    ASSERT_TRUE(WaitForStatus(2, Done));
}

TEST_F(MainWindowTest, DeletingAConvertingRowIsRefusedWithAMessage) {
    picker.files = {QString::fromStdString(Text("a.txt", "Alpha.")),
                    QString::fromStdString(Text("b.txt", "Bravo."))};
    Click("btnAdd");
    server.Hold();
    Click("btnStart");
    ASSERT_EQ(list->GetItemStatus(0), Converting);
    ClickCell(0, 6);
    EXPECT_EQ(list->GetCount(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Boxes() == QStringList{"当前文件正在识别中，无法删除!"}; }));
    ClickCell(1, 6);
    EXPECT_EQ(list->GetCount(), 1) << "an Idle row goes";
    server.Release();
    ASSERT_TRUE(WaitForStatus(0, Done));
    ClickCell(0, 6);
    EXPECT_EQ(list->GetCount(), 0) << "a Done row goes";
}

TEST_F(MainWindowTest, RefusedTextGoesBackToIdleAndTheUserIsTold) {
    picker.files = {QString::fromStdString(Text("empty.txt", ""))};
    Click("btnAdd");
    Click("btnStart");
    EXPECT_EQ(list->GetItemStatus(0), Idle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Boxes().size() == 1; }));
    EXPECT_THAT(Boxes()[0].toStdString(), HasSubstr("empty.txt"));
    EXPECT_THAT(Boxes()[0].toStdString(), HasSubstr("文件是空的"));
}

TEST_F(MainWindowTest, SavingCopiesEveryDoneResultUnderItsName) {
    Click("btnSave");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Boxes() == QStringList{"暂无需要保存的内容!"}; }));
    EXPECT_TRUE(picker.titles.isEmpty()) << "no folder picker without results";
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<CMessageWnd*>(w))
            w->hide();

    ::mkdir((env.Root() + "/one").c_str(), 0700);
    ::mkdir((env.Root() + "/two").c_str(), 0700);
    ::mkdir((env.Root() + "/saved").c_str(), 0700);
    picker.files = {QString::fromStdString(Text("one/story.txt", "First story.")),
                    QString::fromStdString(Text("two/story.txt", "Second story."))};
    Click("btnAdd");
    Click("btnStartAll");
    ASSERT_TRUE(WaitForStatus(0, Done));
    ASSERT_TRUE(WaitForStatus(1, Done));
    picker.folder = QString::fromStdString(env.Root() + "/saved");
    Click("btnSave");
    EXPECT_EQ(picker.titles, QStringList{"选择保存目录"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return Boxes() == QStringList{"成功保存 2 个结果"}; }))
        << Boxes().join("|").toStdString();
    EXPECT_TRUE(testenv::Exists(env.Root() + "/saved/story.mp3"));
}

TEST_F(MainWindowTest, CtrlShiftLOpensTheDataFolderAndVoicesAreStored) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : window;
    QTest::keyClick(focus, Qt::Key_L);
    QTest::keyClick(focus, Qt::Key_L, Qt::ControlModifier);
    QTest::keyClick(focus, Qt::Key_L, Qt::ShiftModifier);
    EXPECT_TRUE(opened.isEmpty());
    QTest::keyClick(focus, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(opened, QStringList{QString::fromStdString(env.DataDir())});

    Click("optAudio3");
    EXPECT_THAT(ReadFile(env.DataDir() + "/config.ini"), HasSubstr("AudioType=3"));
    EXPECT_TRUE(window->Find<COptionUI>("optAudio3")->IsSelected());
    EXPECT_FALSE(window->Find<COptionUI>("optAudio1")->IsSelected());
}

TEST_F(MainWindowTest, MaximiseSwapsTheButtonImagesAndRestoreSwapsThemBack) {
    auto* max = window->Find<CButtonUI>("btnMax");
    Click("btnMax");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isMaximized(); }));
    EXPECT_EQ(max->NormalImage(), "max_normal.png");
    Click("btnMax");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isMaximized(); }));
    EXPECT_EQ(max->NormalImage(), "restore_normal.png");
    Click("btnMin");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isMinimized(); }));
    EXPECT_TRUE(window->isVisible()) << "minimising does not hide";
}

TEST_F(MainWindowTest, FailedCopiesAreLoggedAndLeftOutOfTheCount) {
    picker.files = {QString::fromStdString(Text("gone.txt", "Gone soon."))};
    Click("btnAdd");
    Click("btnStart");
    ASSERT_TRUE(WaitForStatus(0, Done));
    const auto pieces = window->Converter()->GetFinishedPieces(WideToAnsi(list->GetItemFile(0)));
    ASSERT_FALSE(pieces.empty());
    const std::string folder = pieces.front()->file.substr(0, pieces.front()->file.find_last_of('/'));
    ::unlink((folder + "/audio.mp3").c_str());
    ::mkdir((env.Root() + "/saved").c_str(), 0700);
    picker.folder = QString::fromStdString(env.Root() + "/saved");
    Click("btnSave");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Boxes() == QStringList{"成功保存 0 个结果"}; }));
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, HasSubstr(" Error>>>>> "));
    EXPECT_THAT(log, HasSubstr("RtmpPlayer::OnClick:\t\tCopyFileA failed. " + folder + "/audio.mp3 to "));
}

TEST_F(MainWindowTest, DroppedTextFilesAreAddedAsChosenOnes) {
    const std::string text = Text("dropped.txt", "Dropped.");
    const std::string other = Text("picture.png", "not text");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(text)),
                  QUrl::fromLocalFile(QString::fromStdString(other))});
    QDragEnterEvent enter(QPoint(400, 400), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted()) << "text files are welcome";
    QDropEvent drop(QPointF(400, 400), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    ASSERT_EQ(list->GetCount(), 1);
    EXPECT_EQ(QString::fromStdWString(list->GetItemFile(0)).toStdString(), text);
    QApplication::sendEvent(window, &drop);
    EXPECT_EQ(list->GetCount(), 1) << "the same file once";
}

TEST_F(MainWindowTest, ScrollBarsWearTheSkinArt) {
    for (const char* look : {"normal", "highlight", "down"}) {
        for (const char* part : {"arrowup", "down", "bar"}) {
            const QString name = QString("v2scrollbar_%1_%2.png").arg(part, look);
            const QPixmap image = SkinResources::Instance().Image(name);
            EXPECT_FALSE(image.isNull()) << name.toStdString();
            EXPECT_EQ(image.width(), 14) << name.toStdString();
        }
    }
    EXPECT_EQ(SkinResources::Instance().Image("v2scrollbar_bkg.png").width(), 14);
    EXPECT_EQ(list->VerticalScrollBar()->sizeHint().width(), 14);
    EXPECT_EQ(window->Find<CRichEditUI>("edtText")->Editor()->verticalScrollBar()->sizeHint().width(), 14);
    EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join("\n").toStdString();
}

TEST_F(MainWindowTest, DoubleClickOnADoneRowOpensItsResult) {
    window->Find<CRichEditUI>("edtText")->SetText("Play me.");
    Click("btnStart");
    ASSERT_TRUE(WaitForStatus(0, Done));
    QTest::mouseDClick(list->GetItemAt(0), Qt::LeftButton, {}, QPoint(20, 5));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].endsWith("/audio.mp3")) << opened[0].toStdString();
    EXPECT_TRUE(testenv::Exists(opened[0].toStdString()));

    // The operation cell has its own meaning; a double-click there plays nothing.
    CListTextElementUI* element = list->GetItemAt(0);
    const QPoint operation(element->mapFrom(list, QPoint(list->ColumnRect(5).center().x(), 0)).x(),
                           element->height() / 2);
    QTest::mouseDClick(element, Qt::LeftButton, {}, operation);
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(MainWindowTest, UpdateReportsAreLoggedAndTheAboutButtonOpensOneDialog) {
    ASSERT_TRUE(platform::PostMessage(
        window->Handle(), WM_UPDATE_STATUS, UPDATE_FAILED,
        std::make_unique<platform::ValuePayload<UpdateNotice>>(UpdateNotice{"no server"})));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return ReadFile(env.DataDir() + "/Parlatto.log").find("update msg: 2, no server") !=
               std::string::npos;
    }));
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, HasSubstr(" warning>>> "));
    EXPECT_THAT(log, HasSubstr("RtmpPlayer::MessageHandler:\t\tcheck update version failed"));

    Click("btnAbout");
    ASSERT_NE(window->About(), nullptr);
    EXPECT_TRUE(window->About()->IsOpen());
    CAboutAppDlg* first = window->About();
    Click("btnAbout");
    EXPECT_EQ(window->About(), first) << "one dialog, brought to the top";
}

TEST_F(MainWindowTest, CloseLogsMovesTheWorkFolderAndEndsTheLoop) {
    PubUtils::GetTempDir();
    Click("btnClose");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->Converter(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !platform::IsLiveWindow(window->Handle()); }));
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, HasSubstr("RtmpPlayer::Close:\t\tmain close"));
    EXPECT_THAT(log, HasSubstr("CData::PostAppExit:\t\tapp exit"));
    EXPECT_LT(log.find("main close"), log.find("app exit"));
    EXPECT_FALSE(testenv::Exists(env.DataDir() + "/Temp"));
}

// The update server asks for a version above the installed one: the window closes on its own road and
// hands over to the updater (a script standing in for it).
class ForcedUpdateTest : public testenv::TempEnvTest {
protected:
    ForcedUpdateTest() {
        PubUtils::GetDataDir();
        server.SetReply("/version/Parlatto", {200, "application/json",
                                              R"({"latest-version":"1.0.8","minimum-required":"1.0.7"})"});
        server.SetReply(
            "/latest/Parlatto",
            {200, "application/json",
             R"({"files":[{"path":"new.bin","size":3,"digest":"a9993e364706816aba3e25717850c26c9cd0d89d"}]})"});
        WriteFile(env.DataDir() + "/config.ini", "[Parlatto]\nUpdateUrl=" + server.Url("") + "\n");
        WriteFile(env.DataDir() + "/ver", R"({"version":"1.0.6","files":[]})");
        WriteFile(env.ExeDir() + "/AutoUpdate", "#!/bin/sh\nprintf '%s\\n' \"$0\" > '" + Marker() +
                                                    ".tmp' && mv '" + Marker() + ".tmp' '" + Marker() +
                                                    "'\n");
        ::chmod((env.ExeDir() + "/AutoUpdate").c_str(), 0755);
        Logger::ReopenGlobalForTesting();
        CData::Instance().ResetUpdateCheckerForTesting();
        CData::Instance().SetUpdateOnExit(false);
        UseSkinFolder();
    }
    ~ForcedUpdateTest() override {
        CData::Instance().SetMainWindow(platform::WindowHandle::Null);
        CData::Instance().ResetUpdateCheckerForTesting();
        SkinResources::Instance().Clear();
    }
    std::string Marker() const { return env.Root() + "/updater-started"; }

    testenv::LoopbackServer server;
};

TEST_F(ForcedUpdateTest, ClosesWithoutMainCloseAndStartsTheUpdaterCopy) {
    RtmpPlayer window;
    window.Create(nullptr, 0, 0, 0, 800, 600);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !platform::IsLiveWindow(window.Handle()); }, 20000))
        << ReadFile(env.DataDir() + "/Parlatto.log");
    ASSERT_TRUE(QTest::qWaitFor([&] { return testenv::Exists(Marker()); }, 20000));
    EXPECT_EQ(ReadFile(Marker()), env.ExeDir() + "/AutoUpdateTmp\n");

    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, HasSubstr("RtmpPlayer::MessageHandler:\t\tfind must update version. start update"));
    EXPECT_THAT(log, HasSubstr("CData::PostAppExit:\t\tapp exit"));
    EXPECT_THAT(log, HasSubstr("PubUtils::StartUpdateExe:\t\tstart update app"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("main close")));
    EXPECT_LT(log.find("find must update version"), log.find("app exit"));
    EXPECT_LT(log.find("app exit"), log.find("start update app"));
}

TEST_F(ForcedUpdateTest, AClosedWindowStartsNoUpdaterWithoutAReason) {
    server.SetReply("/version/Parlatto",
                    {200, "application/json", R"({"latest-version":"1.0.6","minimum-required":"1.0.5"})"});
    WriteFile(
        env.DataDir() + "/ver",
        R"({"version":"1.0.6","files":[{"path":"new.bin","size":3,"digest":"a9993e364706816aba3e25717850c26c9cd0d89d"}]})");
    RtmpPlayer window;
    window.Create(nullptr, 0, 0, 0, 800, 600);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ReadFile(env.DataDir() + "/Parlatto.log").find("update msg: 3") != std::string::npos; },
        20000))
        << ReadFile(env.DataDir() + "/Parlatto.log");

    window.Close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !platform::IsLiveWindow(window.Handle()); }));
    EXPECT_THAT(ReadFile(env.DataDir() + "/Parlatto.log"), ::testing::Not(HasSubstr("start update app")));
    EXPECT_FALSE(testenv::Exists(env.ExeDir() + "/AutoUpdateTmp"));
}

}  // namespace
