#include "playlist/media_duration.h"

#include "core/text_convert.h"
#include "playlist/sine_mp3.h"
#include "support/media_info.h"
#include "support/test_env.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Where the installed library lies, whatever the machine's library folder.
std::string InstalledLibrary() {
    void* module = ::dlopen("libmediainfo.so.0", RTLD_NOW);
    Dl_info info{};
    if (!module || !::dladdr(::dlsym(module, "MediaInfo_New"), &info) || !info.dli_fname)
        return {};
    return info.dli_fname;
}

class MediaDurationTest : public testenv::TempEnvTest {
protected:
    ~MediaDurationTest() override { SetMediaInfoLibraryForTesting({}); }

    std::string Mp3(const std::string& name, const std::string& seconds) {
        const std::string path = env.Root() + "/" + name;
        EXPECT_TRUE(testenv::MakeSineMp3(path, seconds)) << path;
        return path;
    }
};

TEST_F(MediaDurationTest, GivesWholeSecondsOfTheAudioAndZeroForWhatItCannotRead) {
    testenv::WriteFile(env.Root() + "/notes.txt", "no audio in here\n");
    const struct {
        const char* name;
        std::string path;
        int seconds;
    } cases[] = {
        {"three seconds", Mp3("three.mp3", "3"), 3},
        {"three minutes and 3.2 seconds, truncated", Mp3("long.mp3", "183.2"), 183},
        {"under a second", Mp3("short.mp3", "0.5"), 0},
        {"a name the locale must carry", Mp3("声音 文件.mp3", "3"), 3},
        {"a file without audio", env.Root() + "/notes.txt", 0},
        {"a path that does not exist", env.Root() + "/missing.mp3", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetMediaDuration(AnsiToWide(c.path)), c.seconds) << c.name;
    EXPECT_EQ(GetMediaDuration(AnsiToWide(cases[1].path)), testenv::MediaDurationMs(cases[1].path) / 1000)
        << "the audio stream's length agrees with the file's";
}

TEST_F(MediaDurationTest, WithoutAUsableLibraryEveryFileReadsZero) {
    const std::string mp3 = Mp3("three.mp3", "3");
    // libz loads but lacks the entry points.
    for (const std::string& library : {env.Root() + "/nowhere/libmediainfo.so.0", std::string("libz.so.1")}) {
        SetMediaInfoLibraryForTesting(library);
        EXPECT_EQ(GetMediaDuration(AnsiToWide(mp3)), 0) << library;
    }
}

TEST_F(MediaDurationTest, AFailedLoadIsTriedAgainAtTheNextCall) {
    const std::string mp3 = Mp3("three.mp3", "3");
    const std::string library = env.Root() + "/libmediainfo.so.0";
    SetMediaInfoLibraryForTesting(library);
    EXPECT_EQ(GetMediaDuration(AnsiToWide(mp3)), 0);
    const std::string installed = InstalledLibrary();
    ASSERT_FALSE(installed.empty());
    ASSERT_EQ(::symlink(installed.c_str(), library.c_str()), 0);
    EXPECT_EQ(GetMediaDuration(AnsiToWide(mp3)), 3) << "the library that appeared is used";
}

TEST_F(MediaDurationTest, ConcurrentFirstCallsAllRead) {
    const std::wstring mp3 = AnsiToWide(Mp3("three.mp3", "3"));
    std::vector<int> seconds(4, -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seconds.size(); ++i)
        threads.emplace_back([&, i] { seconds[i] = GetMediaDuration(mp3); });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(seconds, std::vector<int>(4, 3));
}

}  // namespace
