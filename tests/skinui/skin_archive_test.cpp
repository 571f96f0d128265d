#include "skinui/skin_archive.h"

#include "platform/process.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#ifndef PARLATTO_CMAKE
#define PARLATTO_CMAKE "cmake"
#endif

namespace {

using testenv::ReadFile;
using testenv::WriteFile;

struct Entry {
    std::string name;
    std::string bytes;
    bool stored = false;  // no compression
};

// Bytes a PNG could hold: zeros, high bytes and line ends that a text path would mangle.
std::string BinaryBytes(std::size_t size) {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    bytes += std::string("\0\0\0\rIHDR", 8);
    for (std::size_t i = 0; bytes.size() < size; ++i)
        bytes += static_cast<char>((i * 37 + i / 251) & 0xff);
    bytes.resize(size);
    return bytes;
}

const std::vector<Entry>& SkinEntries() {
    static const std::vector<Entry> entries = {
        {"RtmpPlayer.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Window size=\"800,600\"/>\n"},
        {"images/bg.png", BinaryBytes(3000)},
        {"images/icon.png", BinaryBytes(200), true},
    };
    return entries;
}

QByteArray Q(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

const unsigned char* Data(const std::string& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

SkinArchive Open(const std::string& bytes) {
    return SkinArchive::FromMemory(Data(bytes), bytes.size());
}

class SkinArchiveTest : public testenv::TempEnvTest {
protected:
    std::string Path(const std::string& relative) const { return env.Root() + "/" + relative; }

    // Builds the archive with libzip as a file and gives its bytes.
    std::string MakeZip(const std::vector<Entry>& entries, const std::string& file = "skin.zip") const {
        int error = 0;
        zip_t* archive = zip_open(Path(file).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        EXPECT_NE(archive, nullptr) << "libzip error " << error;
        if (!archive)
            return {};
        for (const Entry& entry : entries) {
            // libzip reads the bytes only when closing, and entries outlive that.
            zip_source_t* source = zip_source_buffer(archive, entry.bytes.data(), entry.bytes.size(), 0);
            const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
            EXPECT_GE(index, 0) << entry.name;
            if (index < 0) {
                zip_source_free(source);
                continue;
            }
            if (entry.stored)
                zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        }
        EXPECT_EQ(zip_close(archive), 0);
        return ReadFile(Path(file));
    }
};

TEST_F(SkinArchiveTest, ReadsEveryEntryByNameWithIdenticalBytes) {
    const std::string zip = MakeZip(SkinEntries());
    const SkinArchive archive = Open(zip);
    ASSERT_TRUE(archive.IsValid());
    EXPECT_EQ(archive.Names(), (QStringList{"RtmpPlayer.xml", "images/bg.png", "images/icon.png"}));
    for (const Entry& entry : SkinEntries()) {
        SCOPED_TRACE(entry.name);
        const std::optional<QByteArray> bytes = archive.Read(QString::fromStdString(entry.name));
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(*bytes, Q(entry.bytes));
    }
}

TEST_F(SkinArchiveTest, NamesAreLookedUpExactlyFirstThenIgnoringCase) {
    const std::string zip = MakeZip({{"a.xml", "lower"},
                                     {"A.xml", "upper"},
                                     {"images/Bg.png", "png"},
                                     {"empty.xml", ""},
                                     {"folder/", ""}});
    const SkinArchive archive = Open(zip);
    ASSERT_TRUE(archive.IsValid());
    const struct {
        const char* name;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"a.xml", "lower"},        {"A.xml", "upper"},          {"IMAGES/bg.PNG", "png"},
        {"images\\Bg.png", "png"}, {"empty.xml", QByteArray()}, {"missing.xml", std::nullopt},
        {"images", std::nullopt},  {"Bg.png", std::nullopt},    {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(archive.Read(QString::fromUtf8(c.name)), c.expected);
    }
    EXPECT_EQ(archive.Names(), (QStringList{"a.xml", "A.xml", "images/Bg.png", "empty.xml"}));
}

TEST_F(SkinArchiveTest, BuffersThatAreNoArchiveGiveAnInvalidOne) {
    const std::string zip = MakeZip(SkinEntries());
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"garbage", BinaryBytes(4096)},
        {"text", "<?xml version=\"1.0\"?><Window/>"},
        {"header only", zip.substr(0, 30)},
        {"central directory cut off", zip.substr(0, zip.size() / 2)},
        {"end record cut short", zip.substr(0, zip.size() - 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SkinArchive archive = Open(c.bytes);
        EXPECT_FALSE(archive.IsValid());
        EXPECT_EQ(archive.Read("RtmpPlayer.xml"), std::nullopt);
        EXPECT_TRUE(archive.Names().isEmpty());
    }
    EXPECT_FALSE(SkinArchive::FromMemory(nullptr, 0).IsValid());
    EXPECT_FALSE(SkinArchive().IsValid());
}

// Every damage short of a CRC collision must be refused, never read as other bytes or overrun.
TEST_F(SkinArchiveTest, DamagedArchivesNeverGiveWrongBytes) {
    const std::vector<Entry> entries = {{"a.xml", "<Window size=\"1,1\"/><Window/><Window/>"},
                                        {"b.png", BinaryBytes(64), true}};
    const std::string zip = MakeZip(entries);
    auto check = [&](const std::string& damaged, const std::string& what) {
        const SkinArchive archive = Open(damaged);
        for (const Entry& entry : entries) {
            const std::optional<QByteArray> bytes = archive.Read(QString::fromStdString(entry.name));
            if (bytes) {
                ASSERT_EQ(*bytes, Q(entry.bytes)) << what << ", " << entry.name;
            }
        }
    };
    for (std::size_t length = 0; length < zip.size(); ++length)
        check(zip.substr(0, length), "cut to " + std::to_string(length));
    for (std::size_t at = 0; at < zip.size(); ++at) {
        std::string damaged = zip;
        damaged[at] = static_cast<char>(damaged[at] ^ 0xff);
        check(damaged, "byte " + std::to_string(at) + " flipped");
    }

    // The data itself, where only the checksum can tell.
    std::string damaged = zip;
    ASSERT_NE(damaged.find(entries[1].bytes), std::string::npos);
    const std::size_t at = damaged.find(entries[1].bytes) + 10;
    damaged[at] = static_cast<char>(damaged[at] ^ 1);
    const SkinArchive archive = Open(damaged);
    EXPECT_TRUE(archive.IsValid());
    EXPECT_EQ(archive.Read("b.png"), std::nullopt);
    EXPECT_EQ(archive.Read("a.xml"), Q(entries[0].bytes));
}

TEST_F(SkinArchiveTest, EntriesOverTheSizeCapAreRefused) {
    const std::string big(static_cast<std::size_t>(SkinArchive::kMaxEntrySize) + 1, 'x');
    const std::string zip = MakeZip({{"big.png", big}, {"small.xml", "<Window/>"}});
    const SkinArchive archive = Open(zip);
    ASSERT_TRUE(archive.IsValid());
    EXPECT_EQ(archive.Read("big.png"), std::nullopt);
    EXPECT_EQ(archive.Read("small.xml"), QByteArray("<Window/>"));
}

TEST_F(SkinArchiveTest, FromFileReadsTheFileAndRefusesMissingOrDamagedOnes) {
    MakeZip(SkinEntries(), "skin.zip");
    const SkinArchive archive = SkinArchive::FromFile(QString::fromStdString(Path("skin.zip")));
    ASSERT_TRUE(archive.IsValid());
    EXPECT_EQ(archive.Read("images/bg.png"), Q(SkinEntries()[1].bytes));

    WriteFile(Path("empty.zip"), "");
    WriteFile(Path("text.zip"), "not a zip");
    for (const char* name : {"missing.zip", "empty.zip", "text.zip", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(SkinArchive::FromFile(QString::fromStdString(Path(name))).IsValid());
    }
}

TEST_F(SkinArchiveTest, MovingHandsOverTheOpenArchive) {
    const std::string zip = MakeZip(SkinEntries());
    MakeZip({{"other.xml", "<Window/>"}}, "other.zip");

    SkinArchive first = Open(zip);
    SkinArchive second(std::move(first));
    EXPECT_FALSE(first.IsValid());
    EXPECT_EQ(first.Read("RtmpPlayer.xml"), std::nullopt);
    ASSERT_TRUE(second.IsValid());
    EXPECT_TRUE(second.Read("RtmpPlayer.xml").has_value());

    // Assigning over an open archive closes it (the leak checker of a sanitizer build sees it).
    SkinArchive fromFile = SkinArchive::FromFile(QString::fromStdString(Path("other.zip")));
    ASSERT_TRUE(fromFile.IsValid());
    second = std::move(fromFile);
    EXPECT_EQ(second.Names(), QStringList{"other.xml"});
    EXPECT_EQ(second.Read("other.xml"), QByteArray("<Window/>"));
    EXPECT_FALSE(fromFile.IsValid());
}

// The build packs the skin folder with this very command (cmake/SkinArchive.cmake).
TEST_F(SkinArchiveTest, ArchivesPackedByCMakeAreRead) {
    const std::vector<Entry> files = {
        {"RtmpPlayer.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Window caption=\"0,0,0,30\"/>\n"},
        {"images/b.png", BinaryBytes(5000)},
        {"images/按钮.png", BinaryBytes(700)},
    };
    std::filesystem::create_directories(Path("skin/images"));
    std::vector<std::string> args = {"-E",  "env", "LC_ALL=C.UTF-8", PARLATTO_CMAKE, "-E",
                                     "tar", "cf",  Path("skin.zip"), "--format=zip", "--"};
    for (const Entry& file : files) {
        WriteFile(Path("skin/" + file.name), file.bytes);
        args.push_back(file.name);
    }

    const platform::SpawnResult result = platform::DefaultProcessStarter().RunAndWait(
        {PARLATTO_CMAKE, args, Path("skin"), platform::OutputRouting::ToStderr});
    ASSERT_TRUE(result.started) << "errno " << result.error;
    ASSERT_EQ(result.exitCode, 0);

    const std::string zip = ReadFile(Path("skin.zip"));
    const SkinArchive archive = Open(zip);
    ASSERT_TRUE(archive.IsValid());
    EXPECT_EQ(archive.Names(),
              (QStringList{"RtmpPlayer.xml", "images/b.png", QString::fromUtf8("images/按钮.png")}));
    for (const Entry& file : files)
        EXPECT_EQ(archive.Read(QString::fromStdString(file.name)), Q(file.bytes)) << file.name;
}

// The generated source must hold the bytes in order with one zero after them, and the true size.
TEST_F(SkinArchiveTest, EmbedScriptWritesEveryByteAndTheSize) {
    const std::filesystem::path script =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "cmake/EmbedFile.cmake";
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16}, std::size_t{531}}) {
        SCOPED_TRACE(size);
        std::string input;
        for (std::size_t i = 0; i < size; ++i)
            input += static_cast<char>((i * 7) & 0xff);
        WriteFile(Path("input.bin"), input);

        const platform::SpawnResult result = platform::DefaultProcessStarter().RunAndWait(
            {PARLATTO_CMAKE,
             {"-DINPUT=" + Path("input.bin"), "-DOUTPUT=" + Path("out.cpp"), "-DNAME=kSample", "-P",
              script.string()},
             env.Root(),
             platform::OutputRouting::ToStderr});
        ASSERT_TRUE(result.started);
        ASSERT_EQ(result.exitCode, 0);

        const std::string source = ReadFile(Path("out.cpp"));
        EXPECT_NE(source.find("extern const unsigned char kSample[];"), std::string::npos);
        EXPECT_NE(source.find("const std::size_t kSampleSize = " + std::to_string(size) + ";"),
                  std::string::npos);
        const std::size_t open = source.find("kSample[] = {");
        const std::size_t close = source.find("};", open);
        ASSERT_NE(open, std::string::npos);
        ASSERT_NE(close, std::string::npos);
        const std::string body = source.substr(open, close - open);
        std::string bytes;
        const std::regex hex("0x([0-9a-f]{2})");
        for (auto it = std::sregex_iterator(body.begin(), body.end(), hex); it != std::sregex_iterator();
             ++it)
            bytes += static_cast<char>(std::strtol((*it)[1].str().c_str(), nullptr, 16));
        EXPECT_EQ(bytes, input + std::string(1, '\0'));
    }
}

#ifdef PARLATTO_SKIN_DIR
// The archive linked into this program holds the skin folder as it is on disk.
TEST(EmbeddedSkinArchiveTest, HoldsEveryFileOfTheSkinFolder) {
    const SkinArchive archive = SkinArchive::FromMemory(kParlattoSkinZip, kParlattoSkinZipSize);
    ASSERT_TRUE(archive.IsValid());
    QStringList expected;
    for (const auto& item : std::filesystem::recursive_directory_iterator(PARLATTO_SKIN_DIR)) {
        if (!item.is_regular_file())
            continue;
        const std::string name = std::filesystem::relative(item.path(), PARLATTO_SKIN_DIR).generic_string();
        expected.append(QString::fromStdString(name));
        EXPECT_EQ(archive.Read(QString::fromStdString(name)), Q(ReadFile(item.path().string()))) << name;
    }
    expected.sort();
    QStringList names = archive.Names();
    names.sort();
    EXPECT_EQ(names, expected);
}
#endif

}  // namespace
