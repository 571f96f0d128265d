#include "ui/about_app_dlg.h"

#include "app/data.h"
#include "core/paths.h"
#include "skinui/skin_controls.h"
#include "skinui/skin_resources.h"
#include "support/test_env.h"
#include "ui/desktop_opener.h"
#include "ui/skin_folder.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QTest>

namespace {

class AboutTest : public testenv::TempEnvTest {
protected:
    AboutTest() {
        PubUtils::GetDataDir();
        UseSkinFolder();
        SetDesktopOpenerForTesting([this](const QUrl& url) { opened << url.toString(); });
        CData::Instance().SetMainWindow(mainWindow.Handle());
        CData::Instance().SetUpdateOnExit(false);
    }
    ~AboutTest() override {
        CData::Instance().SetMainWindow(platform::WindowHandle::Null);
        CData::Instance().SetUpdateOnExit(false);
        SetDesktopOpenerForTesting(nullptr);
        SkinResources::Instance().Clear();
    }
    static CAboutAppDlg::UpdateState State(bool remote, bool newer) {
        return {[remote] { return remote; }, [newer] { return newer; }};
    }
    platform::MessageQueue mainWindow;
    QStringList opened;
};

TEST_F(AboutTest, UpdateLineShowsTheThreeStates) {
    const struct {
        bool remote, newer;
        const char* info;
        QRgb colour;
        const char* ok;
    } cases[] = {
        {false, false, "更新失败,有问题请联系客服!", 0xFFFF3333u, "确定"},
        {false, true, "更新失败,有问题请联系客服!", 0xFFFF3333u, "确定"},
        {true, true, "发现新的版本", 0xFFFF3333u, "立即更新"},
        {true, false, "已是最新版本", 0xFF999999u, "确定"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.info);
        CAboutAppDlg about(State(c.remote, c.newer));
        about.Open();
        EXPECT_EQ(about.size(), QSize(520, 360));
        EXPECT_EQ(about.Find<CLabelUI>("labVersion")->GetText(), "软件版本: v1.0.6");
        EXPECT_EQ(about.Find<CLabelUI>("labVerInfo")->GetText(), QString::fromUtf8(c.info));
        EXPECT_EQ(about.Find<CLabelUI>("labVerInfo")->GetTextColor().rgba(), c.colour);
        EXPECT_EQ(about.Find<CButtonUI>("btnOK")->GetText(), QString::fromUtf8(c.ok));
        EXPECT_EQ(about.Find<CButtonUI>("btnAppUrl")->GetText(),
                  "<u>Lumeo官网: http://parlatto.example/</u>");
    }
}

TEST_F(AboutTest, UpdateNowClosesTheProgramForTheUpdater) {
    CAboutAppDlg about(State(true, true));
    about.Open();
    QTest::mouseClick(about.FindControl("btnOK"), Qt::LeftButton);
    EXPECT_TRUE(CData::Instance().IsUpdateOnExit());
    auto message = mainWindow.TryTake();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->wParam, platform::SC_CLOSE);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !about.IsOpen(); }));
}

TEST_F(AboutTest, CloseAndOkWithoutANewVersionOnlyCloseTheDialog) {
    for (const char* button : {"btnClose", "btnOK"}) {
        CAboutAppDlg about(State(true, false));
        about.Open();
        QTest::mouseClick(about.FindControl(button), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !about.IsOpen(); })) << button;
        EXPECT_FALSE(CData::Instance().IsUpdateOnExit());
        EXPECT_FALSE(mainWindow.TryTake().has_value());
    }
}

TEST_F(AboutTest, LinkOpensTheWebSiteAndASecondOpenKeepsOneWindow) {
    CAboutAppDlg about(State(true, false));
    about.Open();
    const platform::WindowHandle handle = about.Handle();
    about.Open();
    EXPECT_EQ(about.Handle(), handle) << "brought to the top, not made again";
    QTest::mouseClick(about.FindControl("btnAppUrl"), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{"http://parlatto.example/"});
    EXPECT_TRUE(about.IsOpen());
}

}  // namespace
