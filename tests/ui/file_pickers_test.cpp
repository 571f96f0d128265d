#include "ui/file_pickers.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// Records what it was asked and gives a canned choice; no dialog ever opens.
class FakeFilePicker final : public FilePicker {
public:
    QStringList PickFiles(QWidget* owner, const QString& title, const QString& filterDescription,
                          const QString& pattern, bool multiple) override {
        ++fileCalls;
        this->owner = owner;
        this->title = title;
        description = filterDescription;
        this->pattern = pattern;
        this->multiple = multiple;
        return files;
    }
    QString PickFolder(QWidget* owner, const QString& title) override {
        ++folderCalls;
        this->owner = owner;
        this->title = title;
        return folder;
    }

    QStringList files;
    QString folder;
    int fileCalls = 0;
    int folderCalls = 0;
    QWidget* owner = nullptr;
    QString title;
    QString description;
    QString pattern;
    bool multiple = false;
};

class FilePickersTest : public ::testing::Test {
protected:
    FilePickersTest() { SetFilePickerForTesting(&picker); }
    ~FilePickersTest() override { SetFilePickerForTesting(nullptr); }

    FakeFilePicker picker;
};

// Every path the walk gives, from GetFirstFile until the cursor is null.
std::vector<std::wstring> Walk(const OpenFileDialog& dialog) {
    std::vector<std::wstring> paths;
    const wchar_t* cursor = dialog.GetFirstFile();
    while (cursor && paths.size() < 100)
        paths.push_back(dialog.GetNextFile(cursor));
    return paths;
}

struct WalkCase {
    const char* name;
    bool multiple;
    QStringList picked;
    std::vector<std::wstring> expected;
};

void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.name;
}

class OpenFileDialogWalkTest : public FilePickersTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(OpenFileDialogWalkTest, GivesEveryChosenPathOnce) {
    const WalkCase& c = GetParam();
    picker.files = c.picked;
    OpenFileDialog dialog;
    dialog.SetMultiSelect(c.multiple);
    ASSERT_TRUE(dialog.Show());
    EXPECT_EQ(picker.multiple, c.multiple);
    EXPECT_EQ(Walk(dialog), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, OpenFileDialogWalkTest,
    ::testing::Values(
        WalkCase{"OneFileOfMany", true, {"/home/u/a.txt"}, {L"/home/u/a.txt"}},
        WalkCase{"ThreeFilesInOrder",
                 true,
                 {"/home/u/c.txt", "/home/u/a.txt", "/home/u/b.txt"},
                 {L"/home/u/c.txt", L"/home/u/a.txt", L"/home/u/b.txt"}},
        WalkCase{"FilesAtTheRoot", true, {"/a.txt", "/b.txt"}, {L"/a.txt", L"/b.txt"}},
        WalkCase{"MultiSelectOff", false, {"/home/u/a.txt"}, {L"/home/u/a.txt"}},
        WalkCase{
            "MultiSelectOffKeepsTheFirst", false, {"/home/u/a.txt", "/home/u/b.txt"}, {L"/home/u/a.txt"}},
        WalkCase{"WideNames",
                 true,
                 {QString::fromUtf8("/home/用户/文本 一.txt"), QString::fromUtf8("/home/用户/二.txt")},
                 {L"/home/用户/文本 一.txt", L"/home/用户/二.txt"}},
        WalkCase{"SeveralFolders",
                 true,
                 {"/data/b/x.txt", "/data/c/d/y.txt", "/data/b/z.txt"},
                 {L"/data/b/x.txt", L"/data/c/d/y.txt", L"/data/b/z.txt"}},
        WalkCase{"FoldersThatShareOnlyAPrefix",
                 true,
                 {"/data/bc/x.txt", "/data/b/y.txt"},
                 {L"/data/bc/x.txt", L"/data/b/y.txt"}},
        WalkCase{"FoldersThatShareOnlyTheRoot", true, {"/x/1.txt", "/y/2.txt"}, {L"/x/1.txt", L"/y/2.txt"}},
        WalkCase{"RelativePathsWithNothingShared", true, {"a.txt", "b/c.txt"}, {L"a.txt", L"b/c.txt"}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST_F(FilePickersTest, SeveralFilesAreLaidOutAsFolderThenNames) {
    picker.files = {"/home/u/a.txt", "/home/u/b.txt"};
    OpenFileDialog dialog;
    dialog.SetMultiSelect(true);
    ASSERT_TRUE(dialog.Show());
    const std::wstring layout = L"/home/u\0a.txt\0b.txt\0\0"s;
    EXPECT_EQ(std::wstring(dialog.GetFirstFile(), layout.size()), layout);

    // A cursor that is not into this dialog's choice walks nothing.
    const wchar_t other[] = L"/elsewhere";
    const wchar_t* cursor = other;
    EXPECT_EQ(dialog.GetNextFile(cursor), L"");
    EXPECT_EQ(cursor, nullptr);
}

TEST_F(FilePickersTest, CancelLeavesNoFileAndAWalkableBuffer) {
    for (const bool multiple : {false, true}) {
        SCOPED_TRACE(multiple);
        OpenFileDialog dialog;
        dialog.SetMultiSelect(multiple);
        picker.files = {"/home/u/a.txt", "/home/u/b.txt"};
        ASSERT_TRUE(dialog.Show());

        // A second Show that is cancelled must not leave the first choice behind.
        picker.files.clear();
        EXPECT_FALSE(dialog.Show());
        ASSERT_NE(dialog.GetFirstFile(), nullptr);
        EXPECT_EQ(*dialog.GetFirstFile(), L'\0');
        EXPECT_EQ(Walk(dialog), std::vector<std::wstring>{L""});
    }
    OpenFileDialog neverShown;
    ASSERT_NE(neverShown.GetFirstFile(), nullptr);
    EXPECT_EQ(*neverShown.GetFirstFile(), L'\0');
}

TEST_F(FilePickersTest, PickerIsAskedWithTheTitleFilterAndOwner) {
    // Only passed on, never dereferenced.
    QWidget* const owner = reinterpret_cast<QWidget*>(std::uintptr_t{0x1000});
    OpenFileDialog dialog;
    dialog.SetOwner(owner);
    dialog.Show();
    EXPECT_EQ(picker.fileCalls, 1);
    EXPECT_EQ(picker.owner, owner);
    EXPECT_EQ(picker.title, QString::fromUtf8("选择文件"));
    EXPECT_EQ(picker.description, "text files");
    EXPECT_EQ(picker.pattern, "*.txt");
    EXPECT_FALSE(picker.multiple);

    dialog.SetTitle(L"添加文本");
    dialog.Show();
    EXPECT_EQ(picker.title, QString::fromUtf8("添加文本"));
}

struct FilterCase {
    const char* name;
    std::wstring filter;
    const char* description;
    const char* pattern;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}

class OpenFileDialogFilterTest : public FilePickersTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(OpenFileDialogFilterTest, FirstPairReachesThePicker) {
    const FilterCase& c = GetParam();
    OpenFileDialog dialog;
    dialog.SetFilter(c.filter);
    dialog.Show();
    EXPECT_EQ(picker.description, QString::fromUtf8(c.description));
    EXPECT_EQ(picker.pattern, QString::fromUtf8(c.pattern));
    const std::wstring& kept = dialog.Filter();
    ASSERT_GE(kept.size(), 2u);
    EXPECT_EQ(kept.substr(kept.size() - 2), std::wstring(2, L'\0'));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, OpenFileDialogFilterTest,
    ::testing::Values(FilterCase{"OnePair", L"文本文件\0*.txt\0\0"s, "文本文件", "*.txt"},
                      FilterCase{"SeveralPatterns", L"Texts\0*.txt; *.text;;*.log\0All\0*.*\0\0"s, "Texts",
                                 "*.txt *.text *.log"},
                      FilterCase{"NotClosed", L"Texts\0*.txt"s, "Texts", "*.txt"},
                      FilterCase{"DescriptionWithoutPattern", L"Texts\0\0"s, "", ""},
                      FilterCase{"Empty", std::wstring(), "", ""}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

std::wstring Pair(const std::wstring& description, const std::wstring& pattern) {
    return description + L'\0' + pattern + L'\0';
}

TEST_F(FilePickersTest, OverlongFilterKeepsTheWholePairsThatFit) {
    std::wstring filter;
    std::vector<std::wstring> pairs;
    for (int i = 0; i < 40; ++i) {
        pairs.push_back(Pair(L"Description number " + std::to_wstring(i), L"*.e" + std::to_wstring(i)));
        filter += pairs.back();
    }
    filter += L'\0';
    OpenFileDialog dialog;
    dialog.SetFilter(filter);

    std::wstring expected;
    std::size_t count = 0;
    while (expected.size() + pairs[count].size() + 1 <= OpenFileDialog::kMaxFilterLength)
        expected += pairs[count++];
    expected += L'\0';
    ASSERT_GT(count, 1u);
    ASSERT_LT(count, pairs.size());
    EXPECT_EQ(dialog.Filter(), expected);
    dialog.Show();
    EXPECT_EQ(picker.description, "Description number 0");
}

TEST_F(FilePickersTest, PairAtTheLengthLimitIsKeptOneOverIsDropped) {
    // A pair's text, its two zeros and the closing zero.
    const std::size_t fits = OpenFileDialog::kMaxFilterLength - std::wstring(L"*.txt").size() - 3;
    for (const std::size_t length : {fits, fits + 1}) {
        SCOPED_TRACE(length);
        const std::wstring pair = Pair(std::wstring(length, L'd'), L"*.txt");
        OpenFileDialog dialog;
        dialog.SetFilter(pair + L'\0');
        if (length == fits) {
            EXPECT_EQ(dialog.Filter(), pair + L'\0');
            EXPECT_EQ(dialog.Filter().size(), OpenFileDialog::kMaxFilterLength);
        } else {
            EXPECT_EQ(dialog.Filter(), std::wstring(2, L'\0'));
        }
        dialog.Show();
        EXPECT_EQ(picker.pattern, length == fits ? "*.txt" : "");
    }
}

TEST_F(FilePickersTest, BrowseForFolderGivesTheChoiceOrNothing) {
    picker.folder = QString::fromUtf8("/home/u/输出");
    EXPECT_EQ(BrowseForFolder(nullptr, L""), L"/home/u/输出");
    EXPECT_EQ(picker.title, QString::fromUtf8("选择一个文件夹"));

    EXPECT_EQ(BrowseForFolder(nullptr, L"保存到"), L"/home/u/输出");
    EXPECT_EQ(picker.title, QString::fromUtf8("保存到"));

    picker.folder.clear();
    EXPECT_EQ(BrowseForFolder(nullptr, L""), L"");
    EXPECT_EQ(picker.folderCalls, 3);
}

TEST(FilePickerSeamTest, NullPutsTheQtPickerBack) {
    EXPECT_NE(dynamic_cast<QtFilePicker*>(&CurrentFilePicker()), nullptr);
    FakeFilePicker fake;
    SetFilePickerForTesting(&fake);
    EXPECT_EQ(&CurrentFilePicker(), &fake);
    SetFilePickerForTesting(nullptr);
    EXPECT_NE(dynamic_cast<QtFilePicker*>(&CurrentFilePicker()), nullptr);
}

}  // namespace
