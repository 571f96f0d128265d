#include "convert/converter.h"

#include "core/paths.h"
#include "support/media_info.h"
#include "support/speech_server.h"
#include "support/test_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Piece(const std::string& words) {
    return std::string(1000 - words.size() - 1, ' ') + words + "\n";
}

class ConverterTest : public testenv::TempEnvTest {
protected:
    ConverterTest() {
        PubUtils::GetDataDir();
        WriteFile(env.DataDir() + "/config.ini", "[Parlatto]\nAudioType=2\nTokenUrl=" + server.TokenUrl() +
                                                     "\nSynthesisUrl=" + server.SynthesisUrl() + "\n");
        ::mkdir(Out().c_str(), 0755);
    }

    std::string Out() const { return env.Root() + "/out"; }
    std::string Text(const std::string& name, const std::string& content) {
        WriteFile(env.Root() + "/" + name, content);
        return env.Root() + "/" + name;
    }

    // Runs the real program with the test's environment; stdout and stderr go to files.
    Outcome Run(std::vector<std::string> args) {
        const std::string outFile = env.Root() + "/stdout", errFile = env.Root() + "/stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        args.insert(args.begin(), PARLATTO_CONVERT);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        Outcome outcome;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        outcome.out = ReadFile(outFile);
        outcome.err = ReadFile(errFile);
        return outcome;
    }
    std::vector<std::string> WorkFolders() {
        std::vector<std::string> found;
        if (DIR* dir = ::opendir(env.TempBase().c_str())) {
            while (dirent* entry = ::readdir(dir))
                if (std::string(entry->d_name).rfind("parlatto-convert-", 0) == 0)
                    found.push_back(entry->d_name);
            ::closedir(dir);
        }
        return found;
    }

    testenv::SpeechServer server;
};

TEST_F(ConverterTest, ConvertsEveryTextIntoTheOutputFolder) {
    const std::string story = Text("story.txt", Piece("One.") + Piece("Two."));
    const std::string poem = Text("诗.txt", "床前明月光，疑是地上霜。");
    const Outcome run = Run({"--tick-ms", "20", "--voice", "3", "--out", Out(), story, poem});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(testenv::MediaDurationMs(Out() + "/story.mp3"), 300);
    EXPECT_GT(testenv::MediaDurationMs(Out() + "/诗.mp3"), 300);
    EXPECT_THAT(run.out, HasSubstr("story.txt: 2/2 pieces (100%)"));
    EXPECT_THAT(run.out, HasSubstr(" -> " + Out() + "/story.mp3"));
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_TRUE(WorkFolders().empty()) << "the private work folder is removed";
    EXPECT_FALSE(testenv::Exists(env.DataDir() + "/Temp")) << "the window's work folder is not used";
    EXPECT_THAT(ReadFile(env.DataDir() + "/config.ini"), HasSubstr("AudioType=2")) << "--voice is not stored";
    EXPECT_THAT(ReadFile(env.DataDir() + "/Parlatto.log"), HasSubstr("text2audio text: "));
}

TEST_F(ConverterTest, TextsThatCannotBeLoadedAreNamedWhileTheOthersAreConverted) {
    ::mkdir((env.Root() + "/folder.txt").c_str(), 0700);
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {env.Root() + "/missing.txt", "file not found"},
        {env.Root() + "/folder.txt", "not a text file"},
        {Text("big.txt", std::string(11u << 20, 'a')), "larger than 10 MiB"},
        {Text("empty.txt", ""), "is empty"},
        {Text("unbroken.txt", std::string(1200, 'x')), "without a line break"},
    };
    std::vector<std::string> args{"--tick-ms", "20", "--out", Out()};
    for (const auto& c : cases)
        args.push_back(c.path);
    args.push_back(Text("good.txt", "Still converted."));
    const Outcome run = Run(args);
    EXPECT_EQ(run.exitCode, 2);
    for (const auto& c : cases)
        EXPECT_THAT(run.err, HasSubstr(c.path + ": ")) << c.path;
    for (const auto& c : cases)
        EXPECT_THAT(run.err, HasSubstr(c.reason));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 5) << run.err;
    EXPECT_GT(testenv::MediaDurationMs(Out() + "/good.mp3"), 100);
}

TEST_F(ConverterTest, PieceThatFailsForGoodIsNamedAndThePartialResultDelivered) {
    testenv::SpeechServer failing({"--fail-text", "Hopeless:10"});
    WriteFile(env.DataDir() + "/config.ini", "[Parlatto]\nTokenUrl=" + failing.TokenUrl() +
                                                 "\nSynthesisUrl=" + failing.SynthesisUrl() + "\n");
    const std::string text = Text("gap.txt", Piece("First.") + Piece("Hopeless.") + Piece("Third."));
    const Outcome run = Run({"--tick-ms", "5", "--out", Out(), text});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("gap.txt: pieces 2 failed after 10 attempts"));
    EXPECT_GT(testenv::MediaDurationMs(Out() + "/gap.mp3"), 300);
}

TEST_F(ConverterTest, UsageErrorsExitWithTwo) {
    const std::string text = Text("a.txt", "Hello.");
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--voice", "9", text}, {"--voice"}, {"--bogus", text}, {"--tick-ms", "x", text}};
    for (const auto& args : cases) {
        const Outcome run = Run(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_THAT(run.err, HasSubstr("usage: parlatto-convert"));
    }
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("usage: parlatto-convert"));
}

TEST_F(ConverterTest, KeepWorkLeavesThePiecesAndSaysWhere) {
    const Outcome run =
        Run({"--keep-work", "--tick-ms", "20", "--out", Out(), Text("kept.txt", "Kept pieces.")});
    EXPECT_EQ(run.exitCode, 0);
    const auto folders = WorkFolders();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_THAT(run.err, HasSubstr("the work folder is " + env.TempBase() + "/" + folders[0]));
}

TEST(ConvertArgs, ParsesOptionsAndFiles) {
    std::string message;
    const auto options =
        ParseConvertArgs({"--voice", "4", "--out", "o", "--keep-work", "--", "--odd.txt", "b.txt"}, message);
    ASSERT_TRUE(options.has_value()) << message;
    EXPECT_EQ(options->voice, 4);
    EXPECT_EQ(options->outDir, "o");
    EXPECT_TRUE(options->keepWork);
    EXPECT_EQ(options->files, (std::vector<std::string>{"--odd.txt", "b.txt"}));
    EXPECT_FALSE(ParseConvertArgs({"--out"}, message).has_value());
    EXPECT_THAT(message, HasSubstr("--out"));
}

}  // namespace
