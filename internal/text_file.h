// Reading small text files through plain descriptors (O_CLOEXEC, no stdio).
// Files are opened with O_NONBLOCK, so no open or read waits for a writer at
// the other end of a FIFO (a lease on a regular file is waited out, as a
// plain open waits for it), and memory stays within kMaxLineLength and a small
// buffer whatever the file's size.
#ifndef KORVANTA_HARDWARE_TEXT_FILE_H
#define KORVANTA_HARDWARE_TEXT_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace korvanta_hardware {

// The longest line the readers hold. Identity files and cpuinfo lines are a few
// dozen bytes long; a longer line is none of theirs.
inline constexpr size_t kMaxLineLength = 64 * 1024;

// Reads the characters before the first line feed, or the whole file when it
// has none. A first line longer than kMaxLineLength is cut there: line holds its
// first kMaxLineLength characters and the rest of the file is not read. Only a
// regular file is read: a FIFO, a device (/dev/zero) or a directory counts as a
// file that cannot be opened. False when the file cannot be opened or read;
// line is then untouched.
bool read_first_line(const std::string& path, std::string& line);

// The lines of a file, one at a time, each without its line feed; a last line
// without one counts too. A line longer than kMaxLineLength is skipped whole. A
// read error ends the lines quietly, the line it broke included, and so does
// reaching kMaxLineLength bytes in a file that is not a regular one: a device
// such as /dev/zero would never end. (procfs files are regular ones.)
class LineReader {
public:
    explicit LineReader(const char* path);
    bool opened() const { return static_cast<bool>(fd_); }
    // The next line, valid until the next call; false after the last one.
    bool next(std::string_view& line);

private:
    bool refill();

    UniqueFd fd_;
    char buffer_[4096];
    size_t begin_ = 0;  // the unread bytes of buffer_
    size_t end_ = 0;
    size_t total_ = 0;       // bytes read so far
    bool checked_ = false;   // whether a file that reached kMaxLineLength bytes is a regular one
    std::string long_line_;  // a line that began in an earlier read
    bool at_end_ = false;
    bool failed_ = false;
};

// Writes all of data, retrying short writes and interrupted calls.
bool write_all(int fd, std::string_view data);
// The same at offset, leaving the file position alone.
bool write_all_at(int fd, std::string_view data, off_t offset);

}  // namespace korvanta_hardware

#endif
