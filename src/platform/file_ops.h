#pragma once
// File-system operations the rest of the system builds on. All of them report failure by their
// result and leave errno set; none follows a symbolic link it did not create itself, except
// where a caller names a link as the whole path.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Writes every byte, resuming after interruptions and short writes.
bool WriteAll(int fd, const char* data, std::size_t size);

bool PathExists(const std::string& path);   // anything, a dangling link included
bool IsDirectory(const std::string& path);  // a real folder, not a link to one

// Creates the folder and any missing parents with the given mode. True when it exists afterwards.
bool MakeDirs(const std::string& path, mode_t mode = 0700);

// Reads a whole file; nullopt when it cannot be read or is larger than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes = SIZE_MAX);

// Replaces the file with the data so that a reader, or a crash at any moment, sees either the old
// or the new content: temporary file in the same folder, fsync, rename, fsync of the folder.
// The mode of an existing file is kept; a new file gets newMode.
bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t newMode = 0600);

// Copies a file's bytes over `target` (replacing it atomically), streaming, keeping the mode. A
// write-protected target or a folder in the way fails the copy and stays as it was.
bool CopyFileReplacing(const std::string& source, const std::string& target);

// Moves the folder `source` to `target`. When `target` exists, the trees are merged: files of the
// source replace those of the target, folders are merged recursively. Across file systems, the
// entries are copied and the originals removed. Links are moved as links, never followed.
bool MoveTree(const std::string& source, const std::string& target);

// Removes a file, a link or a whole folder tree (without following links).
bool RemoveTree(const std::string& path);

// The user's private folder "<TempBase>/<name>-<uid>": created with mode 0700 when missing;
// empty when it is a link, not a folder, not owned by the user, or open to other users.
std::string PrivateTempDir(const std::string& name);

}  // namespace platform
