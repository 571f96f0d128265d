#pragma once
// Read-only access to a ZIP of skin files (XML and images) held in memory or in a file. A damaged
// archive gives an invalid object whose reads all fail; nothing in it can crash the reader. Move-only:
// each object owns its open archive. Not for concurrent use.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

// The skin folder packed at build time (cmake/SkinArchive.cmake); defined only in programs that
// embed one.
extern const unsigned char kParlattoSkinZip[];
extern const std::size_t kParlattoSkinZipSize;

struct zip;

class SkinArchive {
public:
    // Entries larger than this are refused rather than allocated.
    static constexpr qint64 kMaxEntrySize = 64 * 1024 * 1024;

    // The bytes are not copied: they must outlive the archive (embedded data always does).
    static SkinArchive FromMemory(const unsigned char* data, std::size_t size);
    static SkinArchive FromFile(const QString& path);

    SkinArchive() = default;
    SkinArchive(SkinArchive&& other) noexcept;
    SkinArchive& operator=(SkinArchive&& other) noexcept;
    SkinArchive(const SkinArchive&) = delete;
    SkinArchive& operator=(const SkinArchive&) = delete;
    ~SkinArchive();

    bool IsValid() const { return zip_ != nullptr; }
    // The entry's bytes by its name ("images/x.png"); a name that matches no entry exactly is tried
    // again ignoring ASCII case, and '\' counts as '/'. nullopt when missing, too large or damaged.
    std::optional<QByteArray> Read(const QString& name) const;
    // The files in archive order; folder entries are left out.
    QStringList Names() const;

private:
    void Close();

    zip* zip_ = nullptr;
    QByteArray owned_;  // the file's bytes when opened from a file
};
