#include "support/zip_reader.h"

#include <gtest/gtest.h>
#include <zip.h>

namespace testenv {

void PrintTo(const ZipEntry& entry, std::ostream* out) {
    *out << entry.name << " (" << entry.content.size() << " bytes)";
}

std::vector<ZipEntry> ReadZip(const std::string& path) {
    std::vector<ZipEntry> entries;
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip)
        return entries;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &stat);
        EXPECT_EQ(stat.comp_method, ZIP_CM_DEFLATE) << stat.name;
        std::string content(stat.size, '\0');
        zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
        EXPECT_EQ(zip_fread(file, content.data(), stat.size), static_cast<zip_int64_t>(stat.size));
        zip_fclose(file);
        entries.push_back({stat.name, content});
    }
    zip_discard(zip);
    return entries;
}

}  // namespace testenv
