#include "app/key_file.h"

#include "core/logger.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testenv::ReadFile;
using ::testing::HasSubstr;
using ::testing::Not;

class KeyFileTest : public testenv::TempEnvTest {
protected:
    KeyFileTest() { Logger::ReopenGlobalForTesting(); }
    std::string Path() const { return env.Root() + "/keys"; }
    void Write(const std::string& content, mode_t mode) {
        testenv::WriteFile(Path(), content);
        ::chmod(Path().c_str(), mode);
    }
    std::string LogText() const { return ReadFile(env.DataDir() + "/Parlatto.log"); }
};

TEST_F(KeyFileTest, ReadsPairsAndSkipsCommentsAndBlankLines) {
    Write("# mine\n\n  apiA   secretA  \r\napiB\tsecretB\n#apiC secretC\n", 0600);
    EXPECT_EQ(PubUtils::ReadKeyFile(Path()),
              (std::vector<KeyPair>{{"apiA", "secretA"}, {"apiB", "secretB"}}));
}

TEST_F(KeyFileTest, MalformedLinesAreNamedByNumberNeverByContent) {
    Write("apiA secretA\nonly-one-word\napiB secretB extra\napiC secretC", 0600);
    EXPECT_EQ(PubUtils::ReadKeyFile(Path()),
              (std::vector<KeyPair>{{"apiA", "secretA"}, {"apiC", "secretC"}}));
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("key file line 2 skipped"));
    EXPECT_THAT(log, HasSubstr("key file line 3 skipped"));
    EXPECT_THAT(log, Not(HasSubstr("only-one-word")));
    EXPECT_THAT(log, Not(HasSubstr("secret")));
}

TEST_F(KeyFileTest, FileOpenToOthersIsRefused) {
    for (mode_t mode : {0640, 0604, 0644, 0666}) {
        SCOPED_TRACE(mode);
        Write("apiA secretA\n", mode);
        EXPECT_TRUE(PubUtils::ReadKeyFile(Path()).empty());
    }
    EXPECT_THAT(LogText(), HasSubstr(" warning>>> "));
    EXPECT_THAT(LogText(), HasSubstr("mode 0600"));
    EXPECT_THAT(LogText(), Not(HasSubstr("secretA")));
}

TEST_F(KeyFileTest, MissingFileGivesNoPairsAndNoWarning) {
    EXPECT_TRUE(PubUtils::ReadKeyFile(Path()).empty());
    EXPECT_THAT(LogText(), Not(HasSubstr("warning")));
}

}  // namespace
