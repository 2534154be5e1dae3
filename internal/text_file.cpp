#include "text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvanta_hardware {
namespace {

bool is_regular_file(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

UniqueFd open_regular_file(const char* path) {
    UniqueFd fd = open_nonblocking_at(AT_FDCWD, path, O_RDONLY);
    if (fd && !is_regular_file(fd.get())) fd.reset();
    return fd;
}

// Bytes read, 0 at the end of the file, -1 on an error.
ssize_t read_some(int fd, char* buffer, size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

// A regular file answers EAGAIN only where a plain read would wait (a lock,
// a network file system): without O_NONBLOCK, it waits as that read would.
ssize_t read_regular(int fd, char* buffer, size_t size) {
    ssize_t n = read_some(fd, buffer, size);
    if (n < 0 && errno == EAGAIN && ::fcntl(fd, F_SETFL, 0) == 0) n = read_some(fd, buffer, size);
    return n;
}

}  // namespace

bool read_first_line(const std::string& path, std::string& line) {
    UniqueFd fd = open_regular_file(path.c_str());
    if (!fd) return false;
    std::string result;
    char buffer[4096];
    while (result.size() < kMaxLineLength) {
        ssize_t n = read_regular(fd.get(), buffer, std::min(sizeof buffer, kMaxLineLength - result.size()));
        if (n < 0) return false;  // an I/O error: nothing usable was read
        if (n == 0) break;
        const void* newline = std::memchr(buffer, '\n', static_cast<size_t>(n));
        result.append(buffer, newline ? static_cast<const char*>(newline) - buffer : n);
        if (newline) break;
    }
    line = std::move(result);
    return true;
}

LineReader::LineReader(const char* path) : fd_(open_nonblocking_at(AT_FDCWD, path, O_RDONLY)) {}

// Most lines lie whole in the buffer and are handed out in place; only a line
// that spans reads is gathered in long_line_. Each byte is looked at once.
bool LineReader::next(std::string_view& line) {
    long_line_.clear();
    bool too_long = false;  // skipped up to its line feed
    for (;;) {
        if (begin_ == end_ && !refill()) {
            if (failed_ || too_long || long_line_.empty()) return false;
            line = long_line_;
            return true;
        }
        std::string_view rest(buffer_ + begin_, end_ - begin_);
        const size_t newline = rest.find('\n');
        const std::string_view piece = rest.substr(0, newline);
        begin_ += piece.size() + (newline == std::string_view::npos ? 0 : 1);
        if (newline != std::string_view::npos && long_line_.empty() && !too_long) {
            line = piece;
            return true;
        }
        too_long = too_long || long_line_.size() + piece.size() > kMaxLineLength;
        if (too_long)
            long_line_.clear();
        else
            long_line_.append(piece);
        if (newline == std::string_view::npos) continue;
        if (!too_long) {
            line = long_line_;
            return true;
        }
        too_long = false;
    }
}

// The file type is looked at only once a file has grown past any line the
// reader holds, which a real /proc/cpuinfo seldom does: no system call is spent
// on it in the common case.
bool LineReader::refill() {
    if (!checked_ && total_ > kMaxLineLength) {
        checked_ = true;
        failed_ = !is_regular_file(fd_.get());
        at_end_ = failed_;
    }
    if (!fd_ || at_end_) return false;
    ssize_t n = read_some(fd_.get(), buffer_, sizeof buffer_);
    at_end_ = n <= 0;
    failed_ = n < 0;
    begin_ = 0;
    end_ = n > 0 ? static_cast<size_t>(n) : 0;
    total_ += end_;
    return !at_end_;
}

bool write_all(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool write_all_at(int fd, std::string_view data, off_t offset) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace korvanta_hardware
