#include "skinui/window_impl_base.h"

#include "skinui/skin_document.h"
#include "skinui/skin_list.h"
#include "skinui/skin_resources.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>
#include <QBuffer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include <map>

namespace {

using ::testing::HasSubstr;

// Skin files served from memory; diagnostics collected.
class SkinFixture : public ::testing::Test {
protected:
    SkinFixture() {
        SkinResources::Instance().SetFileSource([this](const QString& name) -> std::optional<QByteArray> {
            auto it = files.find(name);
            if (it == files.end())
                return std::nullopt;
            return it->second;
        });
        SkinResources::Instance().SetDiagnosticHook(
            [this](const std::wstring& text) { diagnostics << QString::fromStdWString(text); });
    }
    ~SkinFixture() override {
        SkinResources::Instance().Clear();
        SkinResources::Instance().SetDiagnosticHook(nullptr);
    }
    static QByteArray Png(int w, int h) {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    std::map<QString, QByteArray> files;
    QStringList diagnostics;
};

class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(QString skin) : skin_(std::move(skin)) {}
    QString GetWindowClassName() const override { return "TestWindow"; }
    QString GetSkinFile() const override { return skin_; }
    CControlUI* CreateControl(const QString& className) override {
        if (className == "Gauge") {
            auto* gauge = new CLabelUI;
            gauge->SetText("custom");
            return gauge;
        }
        return nullptr;
    }
    void InitWindow() override { initialised = true; }
    void Notify(TNotifyUI& msg) override {
        seen.push_back({msg.sType, msg.pSender ? msg.pSender->GetName() : QString(), msg.wParam});
        WindowImplBase::Notify(msg);
    }
    void OnClick(TNotifyUI& msg) override { clicks << msg.pSender->GetName(); }
    bool MessageHandler(const WindowMessage& msg) override {
        filtered.push_back(msg.id == platform::WM_SYSCOMMAND ? msg.wParam : msg.id);
        return swallowKeys && msg.id == WM_KEYDOWN;
    }
    void OnFinalMessage() override { ++finals; }

    struct Seen {
        QString type, sender;
        int wParam;
    };
    std::vector<Seen> seen;
    QStringList clicks;
    std::vector<std::uintptr_t> filtered;
    bool initialised = false;
    bool swallowKeys = false;
    int finals = 0;

private:
    QString skin_;
};

QRect Geometry(const TestWindow& window, const QString& name) {
    CControlUI* control = window.FindControl(name);
    if (!control)
        return {};
    return QRect(control->mapTo(&window, QPoint(0, 0)), control->size());
}

TEST_F(SkinFixture, LayoutHonoursFixedSizesAndSharesTheRest) {
    files["layout.xml"] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300">
  <VerticalLayout name="root" inset="10,10,10,10" childpadding="5">
    <HorizontalLayout name="top" height="40" inset="2,2,2,2" childpadding="4">
      <Control name="a" width="50"/>
      <Control name="b"/>
      <Control name="c"/>
      <Control name="d" width="30" height="20" padding="3,4,5,0"/>
    </HorizontalLayout>
    <Control name="middle"/>
    <Control name="fixed" height="30" padding="20,0,20,0"/>
    <Control name="lower"/>
    <Control name="hidden" height="500" visible="false"/>
  </VerticalLayout>
</Window>)";
    TestWindow window("layout.xml");
    ASSERT_TRUE(window.Create(nullptr, 0, 0, 0, 0, 0));
    window.show();
    EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join("").toStdString();
    const struct {
        const char* name;
        QRect rect;
    } cases[] = {
        {"root", {0, 0, 400, 300}},
        {"top", {10, 10, 380, 40}},
        // top's row: 376 wide inside its inset; 50 + 30 + 3 + 5 fixed, 3 gaps of 4: b and c share 276
        {"a", {12, 12, 50, 36}},
        {"b", {66, 12, 138, 36}},
        {"c", {208, 12, 138, 36}},
        {"d", {353, 16, 30, 20}},
        // below: 280 - 40 - 30 - 3 gaps of 5 = 195 shared by middle and lower
        {"middle", {10, 55, 380, 97}},
        {"fixed", {30, 157, 340, 30}},
        {"lower", {10, 192, 380, 98}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Geometry(window, c.name), c.rect) << c.name;
    EXPECT_FALSE(window.FindControl("hidden")->isVisible());
}

TEST_F(SkinFixture, EveryControlBuildsAndClicksNotify) {
    files["img.png"] = Png(10, 10);
    files["all.xml"] =
        R"(<Window size="500,400" mininfo="300,200" caption="0,0,0,30" sizebox="4,4,4,4" roundcorner="5,5">
  <Font id="0" name="微软雅黑" size="14" default="true"/>
  <Font id="1" name="微软雅黑" size="18" bold="true"/>
  <Default class="VScrollBar" width="8" bkcolor="#FFEEEEEE" thumbcolor="#FFAAAAAA"/>
  <VerticalLayout bkcolor="#FFF0F0F0" bkcolor2="#FFE0E0E0" bordersize="1" bordercolor="#FF808080">
    <HorizontalLayout height="40">
      <Label name="label" text="标签" font="1" textcolor="#FF000000" align="center" textpadding="2,0,2,0" endellipsis="true"/>
      <Text name="text" text="多行文字" multiline="true"/>
      <Button name="button" width="60" text="&lt;u&gt;按钮&lt;/u&gt;" showhtml="true" normalimage="img.png" hotimage="img.png" pushedimage="img.png"/>
      <Option name="one" width="40" group="g" selected="true" normalimage="img.png" selectedimage="img.png" dest="0,0,10,10"/>
      <Option name="two" width="40" group="g"/>
      <Gauge name="gauge" width="40"/>
    </HorizontalLayout>
    <RichEdit name="edit" height="60" vscrollbar="true" autovscroll="true" wantreturn="false"/>
    <List name="list" itemheight="20" itembkcolor="#FFFFFFFF" itemaltbkcolor="#FFF5F5F5" itemselectedbkcolor="#FFCCE0FF" itemhotbkcolor="#FFE5F0FF" itemalign="center" itemendellipsis="true">
      <ListHeader height="24" bkcolor="#FFDDDDDD">
        <ListHeaderItem text="名称" width="200" sepimage="img.png"/>
        <ListHeaderItem text="类型" width="100"/>
      </ListHeader>
    </List>
  </VerticalLayout>
</Window>)";
    TestWindow window("all.xml");
    ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
    EXPECT_TRUE(window.initialised);
    EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join("").toStdString();
    EXPECT_EQ(window.size(), QSize(500, 400));
    EXPECT_EQ(window.minimumSize(), QSize(300, 200));
    EXPECT_EQ(window.Find<CLabelUI>("gauge")->GetText(), "custom") << "made by the window's hook";
    EXPECT_EQ(window.Font(1).pixelSize(), 18);
    EXPECT_TRUE(window.Font(1).bold());

    QTest::mouseClick(window.FindControl("button"), Qt::LeftButton);
    EXPECT_EQ(window.clicks, QStringList{"button"});

    auto* one = window.Find<COptionUI>("one");
    auto* two = window.Find<COptionUI>("two");
    EXPECT_TRUE(one->IsSelected());
    QTest::mouseClick(two, Qt::LeftButton);
    EXPECT_TRUE(two->IsSelected());
    EXPECT_FALSE(one->IsSelected()) << "one selected option per group";
    std::vector<QString> changes;
    for (const auto& s : window.seen)
        if (s.type == "selectchanged")
            changes.push_back(s.sender);
    EXPECT_THAT(changes, ::testing::UnorderedElementsAre("one", "two"));
    EXPECT_EQ(window.clicks, (QStringList{"button", "two"}));
}

class Rows : public IListCallbackUI {
public:
    QString GetItemText(CListTextElementUI* row, int index, int column) override {
        row->userData = QString("%1:%2").arg(index).arg(column);
        return row->userData;
    }
};

TEST_F(SkinFixture, ListRowsAskTheCallbackAndReportClicksWithTheirElement) {
    files["list.xml"] = R"(<Window size="300,200"><VerticalLayout>
    <List name="list" itemheight="20"><ListHeader height="24">
      <ListHeaderItem text="a" width="100"/><ListHeaderItem text="b" width="100"/>
    </ListHeader></List></VerticalLayout></Window>)";
    TestWindow window("list.xml");
    ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
    auto* list = window.Find<CListUI>("list");
    Rows rows;
    list->SetTextCallback(&rows);
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(list->AddAt(new CListTextElementUI(list), i));
    auto* stray = new CListTextElementUI(list);
    EXPECT_FALSE(list->AddAt(stray, 3)) << "rows are added at the end";
    delete stray;
    EXPECT_EQ(list->GetCount(), 12);
    EXPECT_EQ(list->ColumnRect(1), QRect(100, 0, 100, 24));
    EXPECT_TRUE(list->VerticalScrollBar()->isVisible()) << "12 rows of 20 do not fit in 176";

    CListTextElementUI* third = list->GetItemAt(2);
    EXPECT_EQ(list->GetItemIndex(third), 2);
    QTest::mouseClick(third, Qt::LeftButton, {}, QPoint(150, 5));
    ASSERT_FALSE(window.seen.empty());
    const auto& click = window.seen.back();
    EXPECT_EQ(click.type, "itemclick");
    EXPECT_EQ(click.wParam, 2);
    EXPECT_EQ(list->GetCurSel(), 2);
    third->grab();  // paints it
    EXPECT_EQ(third->userData, "2:1") << "the cells were drawn through the callback";

    EXPECT_TRUE(list->Remove(list->GetItemAt(0)));
    EXPECT_EQ(list->GetItemIndex(third), 1);
    EXPECT_FALSE(list->RemoveAt(11));
    list->RemoveAll();
    EXPECT_EQ(list->GetCount(), 0);
}

TEST_F(SkinFixture, RowBackgroundsAlternateAsTheSkinSays) {
    const struct {
        const char* attributes;
        QRgb even, odd;
    } cases[] = {
        {R"(itembkcolor="#FFFF0000")", 0xFFFF0000u, 0xFFFF0000u},
        {R"(itembkcolor="#FFFF0000" itemaltbkcolor="#FF00FF00")", 0xFFFF0000u, 0xFF00FF00u},
        {R"(itembkcolor="#FFFF0000" itemaltbk="true")", 0xFFFF0000u, 0xFFFFFFFFu},  // the list shows through
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        files["rows.xml"] =
            QByteArray(R"(<Window size="200,200"><VerticalLayout><List name="list" bkcolor="#FFFFFFFF" )") +
            c.attributes +
            R"(><ListHeader height="20"><ListHeaderItem text="a" width="200"/></ListHeader></List>)"
            R"(</VerticalLayout></Window>)";
        TestWindow window("rows.xml");
        ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
        auto* list = window.Find<CListUI>("list");
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(list->AddAt(new CListTextElementUI(list), i));
        const QImage image = list->grab().toImage();
        const auto at = [&](int row) {
            const QRect r = list->GetItemAt(row)->geometry();
            return image.pixel(list->GetItemAt(row)->mapTo(list, QPoint(r.width() / 2, r.height() / 2)));
        };
        EXPECT_EQ(at(0), c.even);
        EXPECT_EQ(at(1), c.odd);
        EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join("\n").toStdString();
    }
}

// Each part of the bar in a colour of its own, so that the picture tells which image went where.
TEST_F(SkinFixture, VerticalScrollBarsAreDrawnFromTheSkinImages) {
    const auto solid = [](int w, int h, QRgb colour, int rows = 0, QRgb edge = 0) {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(colour);
        for (int y = 0; y < rows; ++y)  // distinct top and bottom rows: the fixed corners
            for (int x = 0; x < w; ++x) {
                image.setPixel(x, y, edge);
                image.setPixel(x, h - 1 - y, edge);
            }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    };
    files["bk.png"] = solid(16, 16, 0xFF101010);
    files["up.png"] = solid(16, 16, 0xFFFF0000);
    files["down.png"] = solid(16, 16, 0xFF00FF00);
    files["thumb.png"] = solid(16, 10, 0xFF0000FF, 1, 0xFFFFFF00);
    files["bar.xml"] = R"(<Window size="200,200"><Default class="VScrollBar" width="16" bkimage="bk.png"
      button1normalimage="up.png" button2normalimage="down.png" thumbnormalimage="thumb.png" thumbcorner="0,1,0,1"/>
      <VerticalLayout><List name="list" itemheight="20"><ListHeader height="20">
      <ListHeaderItem text="a" width="100"/></ListHeader></List></VerticalLayout></Window>)";
    TestWindow window("bar.xml");
    ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
    auto* list = window.Find<CListUI>("list");
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(list->AddAt(new CListTextElementUI(list), i));
    QScrollBar* bar = list->VerticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->width(), 16);
    EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join("\n").toStdString();

    const QImage image = bar->grab().toImage();
    const int x = image.width() / 2;
    EXPECT_EQ(image.pixel(x, 2), 0xFFFF0000u) << "the up button";
    EXPECT_EQ(image.pixel(x, image.height() - 3), 0xFF00FF00u) << "the down button";
    // The thumb sits at the top of the track: its corner row, then its stretched middle.
    int top = -1;
    for (int y = 0; y < image.height() && top < 0; ++y)
        if (image.pixel(x, y) == 0xFFFFFF00u)
            top = y;
    ASSERT_GT(top, 0) << "the thumb's fixed top row";
    EXPECT_EQ(image.pixel(x, top + 1), 0xFF0000FFu);
    EXPECT_EQ(image.pixel(x, top + 8), 0xFF0000FFu) << "stretched beyond the image's 10 rows";
    EXPECT_EQ(image.pixel(x, image.height() - 25), 0xFF101010u) << "the track below the thumb";
}

TEST_F(SkinFixture, TimersTickFromTheirControlUntilKilled) {
    files["t.xml"] =
        R"(<Window size="100,100"><VerticalLayout><Button name="btnClose"/><Label name="other"/></VerticalLayout></Window>)";
    TestWindow window("t.xml");
    ASSERT_TRUE(window.Create(nullptr, 0, 0, 0, 0, 0));
    CControlUI* button = window.FindControl("btnClose");
    window.SetTimer(button, 0, 5);
    window.SetTimer(window.FindControl("other"), 7, 5);
    auto ticks = [&](const QString& sender, int id) {
        return std::count_if(window.seen.begin(), window.seen.end(), [&](const auto& s) {
            return s.type == "timer" && s.sender == sender && s.wParam == id;
        });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks("btnClose", 0) >= 3 && ticks("other", 7) >= 1; }));
    window.KillTimer(button);
    EXPECT_FALSE(window.HasTimer(button, 0));
    const auto before = ticks("btnClose", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks("other", 7) >= 4; }));
    EXPECT_EQ(ticks("btnClose", 0), before) << "no tick after the kill";
}

TEST_F(SkinFixture, MissingPiecesAreDiagnosedAndTheWindowStillComesUp) {
    files["broken.xml"] = R"(<Window size="120,80"><VerticalLayout>
      <Label name="pic" bkimage="missing.png"/>
      <Widget name="strange"/>
    </VerticalLayout></Window>)";
    {
        TestWindow window("broken.xml");
        ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
        EXPECT_TRUE(window.isVisible());
        EXPECT_NE(window.FindControl("strange"), nullptr) << "a stand-in keeps the layout";
    }
    TestWindow missing("nowhere.xml");
    ASSERT_TRUE(missing.Create(nullptr, kWindowVisible, 0, 0, 200, 100));
    EXPECT_TRUE(missing.isVisible());
    const QString all = diagnostics.join("");
    EXPECT_THAT(all.toStdString(), HasSubstr("missing.png"));
    EXPECT_THAT(all.toStdString(), HasSubstr("unknown control class Widget"));
    EXPECT_THAT(all.toStdString(), HasSubstr("skin file not found: nowhere.xml"));
    for (const QString& text : diagnostics)
        EXPECT_TRUE(text.endsWith('\n')) << text.toStdString();
}

TEST_F(SkinFixture, MalformedSkinsAreReportedNotFatal) {
    const struct {
        const char* name;
        const char* xml;
        const char* diagnostic;
    } cases[] = {
        {"broken XML", "<Window size=\"100,100\"><VerticalLayout><Label name=\"x\"></VerticalLayout>",
         "broken XML"},
        {"unknown attribute", "<Window size=\"100,100\"><Label sparkle=\"yes\"/></Window>",
         "unknown attribute sparkle"},
        {"bad number", "<Window size=\"100,100\"><Label width=\"wide\"/></Window>",
         "bad value \"wide\" for width"},
        {"bad colour", "<Window size=\"100,100\"><Label bkcolor=\"red\"/></Window>",
         "bad value \"red\" for bkcolor"},
        {"bad rectangle", "<Window size=\"100,100\"><Label padding=\"1,2,3\"/></Window>",
         "bad value \"1,2,3\""},
        {"wrong root", "<Dialog/>", "root element must be Window"},
        {"empty", "", "empty skin file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        diagnostics.clear();
        files["bad.xml"] = c.xml;
        TestWindow window("bad.xml");
        ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
        EXPECT_THAT(diagnostics.join("").toStdString(), HasSubstr(c.diagnostic));
    }
}

TEST_F(SkinFixture, SystemCommandsMinimiseMaximiseAndRestore) {
    files["w.xml"] = R"(<Window size="200,120" mininfo="150,100"><HorizontalLayout>
      <Control name="left" width="50"/><Label name="right"/></HorizontalLayout></Window>)";
    TestWindow window("w.xml");
    ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
    EXPECT_EQ(window.FindControlAt(QPoint(10, 10)), window.FindControl("left"));
    EXPECT_EQ(window.FindControlAt(QPoint(120, 10)), window.FindControl("right"));
    const struct {
        std::uintptr_t command;
        std::function<bool()> holds;
    } steps[] = {
        {0xF030, [&] { return window.isMaximized(); }},
        {platform::SC_RESTORE, [&] { return !window.isMaximized() && !window.isMinimized(); }},
        {0xF020, [&] { return window.isMinimized(); }},
        {platform::SC_RESTORE, [&] { return !window.isMinimized(); }},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(platform::PostMessage(window.Handle(), platform::WM_SYSCOMMAND, step.command));
        EXPECT_TRUE(QTest::qWaitFor(step.holds)) << std::hex << step.command;
    }
    window.resize(10, 10);
    EXPECT_EQ(window.size(), QSize(150, 100)) << "the minimum size holds";
    EXPECT_EQ(window.finals, 0);
}

TEST(SkinValues, ParseTheirForms) {
    EXPECT_EQ(ParseSkinColor("#80FF0000"), QColor::fromRgba(0x80FF0000));
    EXPECT_FALSE(ParseSkinColor("#FF0000").has_value());
    EXPECT_FALSE(ParseSkinColor("#GG000000").has_value());
    EXPECT_EQ(ParseSkinRect("1,2,3,4"), QMargins(1, 2, 3, 4));
    EXPECT_FALSE(ParseSkinRect("1,2,x,4").has_value());
    EXPECT_EQ(ParseSkinSize("800,600"), QSize(800, 600));
    EXPECT_EQ(ParseSkinBool("true"), true);
    EXPECT_FALSE(ParseSkinBool("yes").has_value());
}

TEST_F(SkinFixture, PostedCloseAndKeysPassTheFilterFirst) {
    files["w.xml"] =
        R"(<Window size="100,100"><VerticalLayout><RichEdit name="edit" wantreturn="false"/></VerticalLayout></Window>)";
    TestWindow window("w.xml");
    ASSERT_TRUE(window.Create(nullptr, kWindowVisible, 0, 0, 0, 0));
    auto* edit = window.Find<CRichEditUI>("edit");
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->Editor()->setFocus();
    QTest::keyClicks(edit->Editor(), "ab");
    QTest::keyClick(edit->Editor(), Qt::Key_Return);
    EXPECT_EQ(edit->GetText(), "ab") << "Enter is not taken by the edit";
    EXPECT_EQ(std::count(window.filtered.begin(), window.filtered.end(), WM_KEYDOWN), 3);
    window.swallowKeys = true;
    QTest::keyClick(edit->Editor(), Qt::Key_C);
    EXPECT_EQ(edit->GetText(), "ab") << "a handled key goes no further";

    EXPECT_TRUE(platform::PostMessage(window.Handle(), platform::WM_SYSCOMMAND, platform::SC_CLOSE));
    const platform::WindowHandle handle = window.Handle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.finals == 1; }));
    EXPECT_EQ(window.filtered.back(), platform::SC_CLOSE)
        << "the filter saw the close before the window went";
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(platform::PostMessage(handle, platform::WM_SYSCOMMAND, platform::SC_CLOSE))
        << "the handle is gone";
}

}  // namespace
