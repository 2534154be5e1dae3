#include "text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unique_fd.h"

namespace korvanta_hardware {
namespace {

UniqueFd open_for_reading(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

// Bytes read, 0 at the end of the file, -1 on an error.
ssize_t read_some(int fd, char* buffer, size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

bool read_first_line(const std::string& path, std::string& line) {
    UniqueFd fd = open_for_reading(path);
    if (!fd) return false;
    std::string result;
    char buffer[256];
    for (;;) {
        ssize_t n = read_some(fd.get(), buffer, sizeof buffer);
        if (n < 0) return false;  // a directory or an I/O error: nothing usable was read
        if (n == 0) break;
        const void* newline = std::memchr(buffer, '\n', static_cast<size_t>(n));
        result.append(buffer, newline ? static_cast<const char*>(newline) - buffer : n);
        if (newline) break;
    }
    line = std::move(result);
    return true;
}

bool for_each_line(const std::string& path, const std::function<void(const std::string&)>& on_line) {
    UniqueFd fd = open_for_reading(path);
    if (!fd) return false;
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read_some(fd.get(), buffer, sizeof buffer);
        if (n < 0) return true;  // the lines already seen stand; the broken one is dropped
        if (n == 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t newline; (newline = pending.find('\n', start)) != std::string::npos; start = newline + 1)
            on_line(pending.substr(start, newline - start));
        pending.erase(0, start);
    }
    if (!pending.empty()) on_line(pending);
    return true;
}

bool write_all(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool write_all_at(int fd, const std::string& data, off_t offset) {
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
