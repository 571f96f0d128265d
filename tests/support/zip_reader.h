#pragma once
// Reads a ZIP archive back with libzip, so that tests see the entries a program wrote, in order.

#include <ostream>
#include <string>
#include <vector>

namespace testenv {

struct ZipEntry {
    std::string name;
    std::string content;
    bool operator==(const ZipEntry&) const = default;
};

void PrintTo(const ZipEntry& entry, std::ostream* out);

// Entries in archive order; each must be deflated. A broken or missing archive reads as none.
std::vector<ZipEntry> ReadZip(const std::string& path);

}  // namespace testenv
