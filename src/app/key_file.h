#pragma once
// The user's own speech-service credentials: the file "keys" in the data folder, one
// "API_KEY SECRET_KEY" pair per line, "#" starting a comment line. The file must be private to
// the user (no group or world permissions); its contents never reach the log.

#include "app/data.h"

#include <string>
#include <vector>

namespace PubUtils {

// The pairs of the file. A missing file gives none; a file open to others is refused with a
// Warning entry; a malformed line is skipped with a Warning naming its number.
std::vector<KeyPair> ReadKeyFile(const std::string& path);

}  // namespace PubUtils
