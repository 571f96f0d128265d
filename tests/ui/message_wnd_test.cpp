#include "ui/message_wnd.h"

#include "skinui/skin_controls.h"
#include "skinui/skin_resources.h"
#include "support/test_env.h"
#include "ui/skin_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QFile>
#include <QScreen>
#include <QTest>

#include <vector>

namespace {

// The real skin files, read from the source tree.
class MessageWndTest : public ::testing::Test {
protected:
    MessageWndTest() {
        UseSkinFolder();
        SkinResources::Instance().SetDiagnosticHook(
            [this](const std::wstring& text) { diagnostics.push_back(QString::fromStdWString(text)); });
        CMessageWnd::tickMilliseconds = 5;
    }
    ~MessageWndTest() override {
        CMessageWnd::tickMilliseconds = 1000;
        SkinResources::Instance().Clear();
        SkinResources::Instance().SetDiagnosticHook(nullptr);
    }
    std::vector<QString> diagnostics;
    std::vector<std::pair<int, std::uintptr_t>> answers;
    CMessageWnd::ResultCallback Record() {
        return [this](int result, std::uintptr_t data) { answers.emplace_back(result, data); };
    }
};

// Counts its countdown ticks and its own deletion.
class CountingBox : public CMessageWnd {
public:
    CountingBox(bool autoDelete, int seconds, int* deleted, int* ticks = nullptr)
        : CMessageWnd(autoDelete, seconds), deleted_(deleted), ticks_(ticks) {}
    ~CountingBox() override {
        if (deleted_)
            ++*deleted_;
    }
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == "timer" && ticks_)
            ++*ticks_;
        CMessageWnd::Notify(msg);
    }
    void OnFinalMessage() override {
        ++finals;
        CMessageWnd::OnFinalMessage();
    }
    int finals = 0;

private:
    int* deleted_;
    int* ticks_;
};

TEST(MessageBoxPlacement, CentredOnTheOwnerAndKeptInsideTheWorkArea) {
    const QSize box(400, 260);
    const QRect work(0, 0, 1920, 1040);
    const QRect second(1920, 0, 1280, 984);
    const struct {
        const char* name;
        std::optional<QRect> owner;
        QRect work;
        QPoint at;
    } cases[] = {
        {"on the owner", QRect(100, 100, 800, 600), work, {300, 270}},
        {"no owner", std::nullopt, work, {760, 390}},
        {"owner near the right edge", QRect(1700, 100, 400, 300), work, {1520, 120}},
        {"owner near the bottom edge", QRect(100, 950, 300, 200), work, {50, 780}},
        {"owner off the top left", QRect(-500, -400, 300, 300), work, {0, 0}},
        {"second screen, clamped at its bottom", QRect(2900, 800, 400, 300), second, {2800, 724}},
        {"minimised owner on the second screen", std::nullopt, second, {2360, 362}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMessageWnd::Placement(box, c.owner, c.work), c.at) << c.name;
}

TEST_F(MessageWndTest, ShowsTheTextsAndCentresALoneOkButton) {
    for (bool showCancel : {true, false}) {
        SCOPED_TRACE(showCancel);
        CountingBox box(false, 0, nullptr);
        box.SetButtons(L"好的", L"算了", showCancel);
        box.SetMessageText(L"当前文件正在识别中，无法删除!");
        box.ShowMessage(nullptr);
        EXPECT_TRUE(diagnostics.empty()) << diagnostics.front().toStdString();
        EXPECT_EQ(box.size(), QSize(400, 260));
        EXPECT_EQ(box.Find<CLabelUI>("TitleTxtLab")->GetText(), "提示");
        EXPECT_EQ(box.Find<CTextUI>("MainTxtLab")->GetText(), "当前文件正在识别中，无法删除!");
        EXPECT_EQ(box.Find<CTextUI>("MainTxtLab")->toolTip(), "当前文件正在识别中，无法删除!");
        auto* ok = box.Find<CButtonUI>("btnOK");
        auto* cancel = box.Find<CButtonUI>("btnCancel");
        EXPECT_EQ(ok->GetText(), "好的");
        EXPECT_EQ(cancel->isVisible(), showCancel);
        EXPECT_EQ(ok->size(), QSize(100, 30));
        const int okCentre = ok->mapTo(&box, ok->rect().center()).x();
        if (!showCancel)
            EXPECT_NEAR(okCentre, box.width() / 2, 2) << "centred in the button row";
        else
            EXPECT_NEAR((okCentre + cancel->mapTo(&box, cancel->rect().center()).x()) / 2, box.width() / 2,
                        2);
        EXPECT_FALSE(box.HasTimer(box.FindControl("btnClose"), 0)) << "no countdown";
    }
}

TEST_F(MessageWndTest, ButtonsAnswerOneOrTwoAndClose) {
    const struct {
        const char* button;
        int result;
    } cases[] = {{"btnOK", 1}, {"btnCancel", 2}, {"btnClose", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        answers.clear();
        CountingBox box(false, 0, nullptr);
        box.ShowMessage(nullptr, Record(), 77);
        QTest::mouseClick(box.FindControl(c.button), Qt::LeftButton);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0], std::make_pair(c.result, std::uintptr_t{77}));
        EXPECT_TRUE(box.isVisible()) << "the callback runs while the box still exists";
        ASSERT_TRUE(QTest::qWaitFor([&] { return box.finals == 1; }));
        EXPECT_EQ(box.CloseCode(), c.result);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST_F(MessageWndTest, CountdownClosesAfterTheFifthTickWithoutAnswering) {
    int deleted = 0, ticks = 0;
    auto* box = new CountingBox(true, 5, &deleted, &ticks);
    box->SetButtons(L"确定", L"", false);
    box->SetMessageText(L"暂无需要保存的内容!");
    box->ShowMessage(nullptr, Record());
    ASSERT_TRUE(QTest::qWaitFor([&] { return deleted == 1; }));
    EXPECT_EQ(ticks, 5) << "closed by the fifth tick";
    EXPECT_TRUE(answers.empty());
    QTest::qWait(30);
    EXPECT_EQ(deleted, 1) << "deleted once";
}

TEST_F(MessageWndTest, AutoDeleteAfterAClickFreesTheBoxOnce) {
    int deleted = 0;
    auto* box = new CountingBox(true, 0, &deleted);
    box->ShowMessage(nullptr, Record());
    QTest::mouseClick(box->FindControl("btnOK"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return deleted == 1; }));
    EXPECT_EQ(answers.size(), 1u);
}

TEST_F(MessageWndTest, BoxesOwnedByAWindowGoWithIt) {
    int deleted = 0;
    {
        QWidget owner;
        owner.setGeometry(100, 100, 800, 600);
        owner.show();
        auto* box = new CountingBox(true, 0, &deleted);
        box->ShowMessage(&owner);
        EXPECT_EQ(box->pos(), CMessageWnd::Placement(box->size(), owner.frameGeometry(),
                                                     owner.screen()->availableGeometry()));
    }
    EXPECT_EQ(deleted, 1);
    QTest::qWait(20);  // nothing runs later on the freed box
    EXPECT_EQ(deleted, 1);
}

}  // namespace
