#include "skinui/skin_archive.h"

#include <zip.h>
#include <QFile>

#include <utility>

namespace {

// A skin archive is a few megabytes; anything far larger is not one.
constexpr qint64 kMaxArchiveSize = 512 * 1024 * 1024;

zip_t* OpenBuffer(const void* data, std::size_t size) {
    // libzip takes an empty buffer for a new, empty archive; here it can only be a missing one.
    if (!data || size == 0)
        return nullptr;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    zip_error_fini(&error);
    if (!source)
        return nullptr;
    zip_error_init(&error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    // The archive owns the source only once opened.
    if (!archive)
        zip_source_free(source);
    return archive;
}

}  // namespace

SkinArchive SkinArchive::FromMemory(const unsigned char* data, std::size_t size) {
    SkinArchive archive;
    archive.zip_ = OpenBuffer(data, size);
    return archive;
}

SkinArchive SkinArchive::FromFile(const QString& path) {
    SkinArchive archive;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxArchiveSize)
        return archive;
    archive.owned_ = file.readAll();
    // The source points into owned_, which is never written again, so its bytes stay put.
    archive.zip_ = OpenBuffer(archive.owned_.constData(), static_cast<std::size_t>(archive.owned_.size()));
    if (!archive.zip_)
        archive.owned_.clear();
    return archive;
}

SkinArchive::SkinArchive(SkinArchive&& other) noexcept
    : zip_(std::exchange(other.zip_, nullptr)), owned_(std::move(other.owned_)) {}

SkinArchive& SkinArchive::operator=(SkinArchive&& other) noexcept {
    if (this != &other) {
        Close();
        zip_ = std::exchange(other.zip_, nullptr);
        owned_ = std::move(other.owned_);
    }
    return *this;
}

SkinArchive::~SkinArchive() {
    Close();
}

void SkinArchive::Close() {
    if (zip_)
        zip_discard(zip_);
    zip_ = nullptr;
    owned_.clear();
}

std::optional<QByteArray> SkinArchive::Read(const QString& name) const {
    if (!zip_ || name.isEmpty())
        return std::nullopt;
    const QByteArray key = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).toUtf8();
    zip_int64_t index = zip_name_locate(zip_, key.constData(), ZIP_FL_ENC_GUESS);
    if (index < 0)
        index = zip_name_locate(zip_, key.constData(), ZIP_FL_ENC_GUESS | ZIP_FL_NOCASE);
    if (index < 0)
        return std::nullopt;

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
        !(stat.valid & ZIP_STAT_SIZE) || stat.size > static_cast<zip_uint64_t>(kMaxEntrySize))
        return std::nullopt;

    zip_file_t* file = zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0);
    if (!file)
        return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    qsizetype filled = 0;
    bool ok = true;
    // Read on to the end even after the declared size: libzip checks the CRC only there, and a
    // damaged entry may inflate to more than its header says.
    for (;;) {
        char spill;
        char* into = filled < bytes.size() ? bytes.data() + filled : &spill;
        const zip_uint64_t room =
            filled < bytes.size() ? static_cast<zip_uint64_t>(bytes.size() - filled) : 1;
        const zip_int64_t got = zip_fread(file, into, room);
        if (got == 0)
            break;
        if (got < 0 || into == &spill) {
            ok = false;
            break;
        }
        filled += static_cast<qsizetype>(got);
    }
    if (zip_fclose(file) != 0)
        ok = false;
    if (!ok || filled != bytes.size())
        return std::nullopt;
    return bytes;
}

QStringList SkinArchive::Names() const {
    QStringList names;
    if (!zip_)
        return names;
    const zip_int64_t count = zip_get_num_entries(zip_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!name)
            continue;
        const QString text = QString::fromUtf8(name);
        if (!text.endsWith(QLatin1Char('/')))
            names.append(text);
    }
    return names;
}
