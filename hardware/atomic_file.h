// Replacing a small file so that a reader, or a power cut, sees the old
// content or the new one, never a mix or an empty file.
#ifndef KORVANTA_HARDWARE_ATOMIC_FILE_H
#define KORVANTA_HARDWARE_ATOMIC_FILE_H

#include <string>

namespace korvanta_hardware {

enum class ReplaceResult {
    kReplaced,    // the new content is in place and synced to disk
    kOpenFailed,  // the file could not be opened for writing; nothing changed
    kWriteFailed  // writing, syncing or renaming failed; the old content stands where it could be kept
};

// Writes content to a temporary file beside path, syncs it, gives it the old
// file's mode (and its owner and group, where allowed), renames it over path
// and syncs the directory. A symbolic link keeps pointing at the replaced
// target. When no temporary file can be made beside it, path is rewritten in
// place instead. The directory is never created.
ReplaceResult replace_file(const std::string& path, const std::string& content);

}  // namespace korvanta_hardware

#endif
