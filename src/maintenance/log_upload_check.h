#pragma once
// The start-up check for crash dumps: when dumps exist and the last upload is at least 60 minute
// stamps old, the newest four dumps, the log and the settings go to the upload server, and those
// dumps are deleted whatever became of the upload.

#include <string>

namespace PubUtils {

inline constexpr char kLogUploadUrl[] = "http://upload.parlatto.example:20000/upload";

// force skips the spacing between uploads; start-up passes false.
void CheckLogUpload(const std::string& dataDir, bool force);

// Points the check at another upload server (empty: the built-in one).
void SetLogUploadUrlForTesting(std::string url);

}  // namespace PubUtils
