#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "file_identity.h"
#include "temporary_file.h"
#include "text_file.h"
#include "unique_fd.h"

namespace korvanta_hardware {
namespace {

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the content goes: the directory that holds the file, open from the
// first step to the last so that every name is looked up in the same one and
// the new name can always be synced, and the file's name in it.
struct Place {
    UniqueFd directory;
    bool readable = false;  // else O_PATH: names can be looked up in it, but it cannot be synced
    std::string name;
};

// The kernel resolves path, relative to at, and the links on the way to it.
bool enter_directory(Place& place, int at, const std::string& path) {
    UniqueFd directory = open_descriptor_at(at, path.c_str(), O_RDONLY | O_DIRECTORY);
    place.readable = static_cast<bool>(directory);
    if (!directory && errno == EACCES) directory = open_descriptor_at(at, path.c_str(), O_PATH | O_DIRECTORY);
    if (!directory) return false;
    place.directory = std::move(directory);
    return true;
}

// As fs.protected_symlinks has it: in a sticky world-writable directory
// (/tmp) a link is followed only when it is the writer's own or the
// directory owner's, so that no user can aim another user's write elsewhere.
bool may_follow(int directory, const struct stat& link) {
    struct stat st;
    if (::fstat(directory, &st) != 0) return false;
    const bool shared = (st.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == st.st_uid;
}

// The name path ends in. "dir/" ends in none: a directory, which is no
// identity file, and nothing is to be made in it.
bool take_name(Place& place, const std::string& path) {
    place.name = name_of(path);
    if (!place.name.empty()) return true;
    errno = path.empty() ? ENOENT : EISDIR;
    return false;
}

bool read_link(const Place& place, std::string& target) {
    char text[PATH_MAX];
    ssize_t n = ::readlinkat(place.directory.get(), place.name.c_str(), text, sizeof text);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text) return false;
    target.assign(text, static_cast<size_t>(n));
    return true;
}

// Follows the links that path ends in, one name at a time in the directory
// that holds it, so that the link survives and its target is replaced. False
// with errno when the place cannot be reached; refused when a link may not be
// followed.
bool find_place(const std::string& path, Place& place, bool& refused) {
    refused = false;
    if (!enter_directory(place, AT_FDCWD, directory_of(path)) || !take_name(place, path)) return false;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::fstatat(place.directory.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
            return true;  // what is not there is created; any other failure shows at the open
        refused = !may_follow(place.directory.get(), st);
        if (refused) errno = EACCES;  // what the kernel says
        std::string target;
        if (refused || !read_link(place, target)) return false;
        if (!enter_directory(place, place.directory.get(), directory_of(target)) || !take_name(place, target))
            return false;
    }
    errno = ELOOP;
    return false;
}

// O_NONBLOCK: a FIFO without a reader fails at once instead of holding the writer.
// O_NOFOLLOW: a link put there since it was looked at is not followed unchecked.
UniqueFd open_for_writing(const Place& place, int flags) {
    return open_nonblocking_at(place.directory.get(), place.name.c_str(), flags | O_WRONLY | O_NOCTTY | O_NOFOLLOW,
                               0666);
}

// A sync the file does not support (a character device, a pseudo file) is no failed write.
bool sync_file(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

// A directory we may write but not read cannot be synced itself: its file
// system is, through the new file, which lies on it.
bool sync_directory(const Place& place, int file) {
    return place.readable ? ::fsync(place.directory.get()) == 0 : ::syncfs(file) == 0;
}

// The name cannot be replaced (a mount point, a directory we may not change,
// a name too long for a temporary's beside it), but the file may be rewritten.
bool rename_refused(int error) {
    return error == EBUSY || error == EXDEV || error == EPERM || error == EACCES || error == EROFS ||
           error == ENAMETOOLONG;
}

struct OldFile {
    int fd;
    struct stat status;
};

// A temporary that could not be filled. When the file system ran out of room,
// the old file may still hold the new content in its own blocks, as it would
// after the truncate of a plain rewrite: nothing, so that the caller rewrites
// it in place, which first reserves what the content needs beyond them.
std::optional<ReplaceResult> not_filled(int error, const OldFile* old) {
    if ((error == ENOSPC || error == EDQUOT) && old) return std::nullopt;
    return ReplaceResult::kWriteFailed;
}

// Puts content in place under target through a temporary file. Nothing when
// that would change what the file is or cannot be done here: the caller then
// rewrites the file in place.
std::optional<ReplaceResult> replace_through_temporary(const Place& place, const std::string& content,
                                                       const OldFile* old) {
    remove_stale_temporaries(place.directory.get(), place.name);
    // A new file gets what a plain create gives; a copy of an old one admits no
    // one else until it has that file's owner and mode.
    TemporaryFile temporary(place.directory.get(), place.name, old ? 0600 : 0666);
    if (!temporary.created())
        return temporary.error() == EEXIST ? std::optional(ReplaceResult::kWriteFailed) : std::nullopt;
    if (old && !take_over_identity(old->fd, old->status, temporary.fd())) return std::nullopt;
    if (!write_all(temporary.fd(), content)) return not_filled(errno, old);
    if (old && !keep_mode(temporary.fd(), old->status)) return std::nullopt;
    // A file system that allocates late runs out of room here.
    if (!sync_file(temporary.fd())) return not_filled(errno, old);
    // A rename into a full directory may need a block for the name.
    if (!temporary.rename_to(place.name)) return rename_refused(errno) ? std::nullopt : not_filled(errno, old);
    // The new name is only durable once the directory is.
    return sync_directory(place, temporary.fd()) ? ReplaceResult::kReplaced : ReplaceResult::kWriteFailed;
}

// Room for content beyond the old file's end, taken before a byte is written:
// a write that ran out of room half-way would leave a mixed identity. Where
// the file system cannot reserve, the write itself finds out.
bool reserve(int fd, off_t old_size, off_t length) {
    if (length <= old_size || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length) == 0) return true;
    return errno != ENOSPC && errno != EDQUOT;
}

// Over the old bytes first, then cut to length: a reader may see a mix for a
// moment, never an empty or shorter file. made: the file's name was made by
// this write, and is only durable once its directory is.
ReplaceResult rewrite_in_place(UniqueFd file, const struct stat& old, const std::string& content,
                               const Place* made) {
    const off_t length = static_cast<off_t>(content.size());
    bool written;
    if (S_ISREG(old.st_mode))
        written = reserve(file.get(), old.st_size, length) && write_all_at(file.get(), content, 0) &&
                  (old.st_size <= length || ::ftruncate(file.get(), length) == 0);
    else  // a character device such as /dev/null takes the bytes where it stands
        written = write_all(file.get(), content);
    written = written && sync_file(file.get()) && (!made || sync_directory(*made, file.get()));
    return written && file.close() ? ReplaceResult::kReplaced : ReplaceResult::kWriteFailed;
}

}  // namespace

ReplaceResult replace_file(const std::string& path, const std::string& content) {
    Place place;
    bool refused;
    if (!find_place(path, place, refused)) return refused ? ReplaceResult::kLinkRefused : ReplaceResult::kOpenFailed;
    UniqueFd file = open_for_writing(place, 0);
    const bool made = !file && errno == ENOENT;
    if (made) {
        if (std::optional<ReplaceResult> result = replace_through_temporary(place, content, nullptr)) return *result;
        file = open_for_writing(place, O_CREAT);
    }
    if (!file) return ReplaceResult::kOpenFailed;
    struct stat old;
    if (::fstat(file.get(), &old) != 0) return ReplaceResult::kOpenFailed;
    // A FIFO, socket or block device holds no identity.
    if (!S_ISREG(old.st_mode) && !S_ISCHR(old.st_mode)) return ReplaceResult::kOpenFailed;
    // A regular file is written as a plain open writes it, waiting where a lock makes it wait.
    if (S_ISREG(old.st_mode) && ::fcntl(file.get(), F_SETFL, 0) != 0) return ReplaceResult::kOpenFailed;
    // Every other name of a hard-linked file must see the new content too. No
    // link at all means another writer replaced it since the open: replace again.
    if (S_ISREG(old.st_mode) && old.st_nlink <= 1) {
        const OldFile replaced{file.get(), old};
        if (std::optional<ReplaceResult> result = replace_through_temporary(place, content, &replaced)) return *result;
    }
    return rewrite_in_place(std::move(file), old, content, made ? &place : nullptr);
}

std::string replace_failure_reason(ReplaceResult result, int error) {
    if (result == ReplaceResult::kLinkRefused) return std::string(": it is behind ") + kRefusedLink;
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

}  // namespace korvanta_hardware
