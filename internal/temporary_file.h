// A temporary file beside the file it is to replace. Its writer holds an
// exclusive flock on it for as long as it exists, so that a later writer can
// tell a dead writer's leftover from a file still being written.
#ifndef KORVANTA_HARDWARE_TEMPORARY_FILE_H
#define KORVANTA_HARDWARE_TEMPORARY_FILE_H

#include <sys/types.h>

#include <string>

#include "unique_fd.h"

namespace korvanta_hardware {

class TemporaryFile {
public:
    // An unnamed file (O_TMPFILE) where the file system and /proc allow it, so
    // that a writer killed while writing leaves nothing; else one named
    // ".NAME.tmp-<thread>-<random>" from the start. mode is reduced by the umask.
    // directory is an open descriptor of the directory (O_PATH will do) that
    // outlives this object: every name is looked up in it, never by a path.
    TemporaryFile(int directory, const std::string& name, mode_t mode);
    // Removes its name, unless it was renamed into place.
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool created() const { return static_cast<bool>(fd_); }
    int error() const { return error_; }  // why it could not be created
    int fd() const { return fd_.get(); }

    // Puts it in place of target, a name in the directory; errno says why not.
    bool rename_to(const std::string& target);

private:
    bool create_unnamed(mode_t mode);
    bool create_named(mode_t mode);
    bool link_name();
    std::string unique_name() const;

    int directory_;
    std::string prefix_;
    UniqueFd fd_;
    std::string name_;  // its name in the directory while it has one
    int error_ = 0;
};

// Removes the temporary files of name in the directory open at directory that
// no writer holds any more.
void remove_stale_temporaries(int directory, const std::string& name);

}  // namespace korvanta_hardware

#endif
