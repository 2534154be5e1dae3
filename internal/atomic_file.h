// Replacing a small file so that a reader, or a power cut, sees the old
// content or the new one, never an empty file.
#ifndef KORVANTA_HARDWARE_ATOMIC_FILE_H
#define KORVANTA_HARDWARE_ATOMIC_FILE_H

#include <string>

namespace korvanta_hardware {

enum class ReplaceResult {
    kReplaced,    // the new content is in place and synced to disk
    kOpenFailed,   // the file could not be opened for writing, or is no file (a FIFO); nothing changed
    kLinkRefused,  // behind a symbolic link that may not be followed (kRefusedLink); nothing changed
    kWriteFailed   // writing, syncing or renaming failed; the old content stands where it could be kept
};

// Why kLinkRefused, for messages.
inline constexpr char kRefusedLink[] = "a symbolic link that another user owns in a sticky world-writable directory";

// Writes content to a temporary file beside path that already has the old
// file's owner, group, extended attributes (ACL, security labels) and mode,
// syncs it, renames it over path and syncs the directory. A symbolic link
// keeps pointing at the replaced target; the directory is never created. A
// link is followed only where fs.protected_symlinks would let the kernel
// follow it (whatever that setting is): in a sticky world-writable directory
// only the writer's own links and those of the directory's owner.
//
// Where a replacement would change what the file is, path is rewritten in
// place instead, over the old bytes and then cut to length, so that it is never
// empty or shorter: a file with several links, a character device such as
// /dev/null, a file bind-mounted from elsewhere, a file whose owner, group,
// attributes or mode the writer may not give a new file, a file in a
// directory where no temporary file can be made or renamed, and a file on a
// file system with no room left for the temporary's content. Room the content
// needs beyond the old file's end is reserved first: where there is none, the
// write fails and the old content stays whole.
ReplaceResult replace_file(const std::string& path, const std::string& content);

// The tools' reason for a replacement that failed with result, to follow
// "cannot write PATH": ": " and why, from error (the errno replace_file left,
// 0 when it set none), or nothing when that is unknown.
std::string replace_failure_reason(ReplaceResult result, int error);

}  // namespace korvanta_hardware

#endif
