#include "device_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ios>
#include <system_error>

namespace korvanta_hardware {
namespace {

[[noreturn]] void fail(const char* what) {
    int error = errno;  // before anything below can change it
    throw std::ios_base::failure(what, std::error_code(error, std::system_category()));
}

}  // namespace

// O_NONBLOCK: opening a FIFO for reading would wait for a writer, and a device
// read for data that may never come. The sysfs EEPROM file ignores the flag;
// a lease on a regular file in its place is waited out.
bool DeviceStreamBuf::open(const char* path, bool writable) {
    read_only_ = false;
    fd_ = open_nonblocking_at(AT_FDCWD, path, writable ? O_RDWR : O_RDONLY);
    // Reading needs no write access: a service granted read access alone still reads.
    if (!fd_ && writable && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd_ = open_nonblocking_at(AT_FDCWD, path, O_RDONLY);
        read_only_ = static_cast<bool>(fd_);
    }
    if (fd_ && positionAtEnd()) return true;
    fd_.reset();
    read_only_ = false;
    return false;
}

// Fields sit at fixed offsets: what cannot be positioned (a FIFO, a socket, a
// terminal) or is no file at all (a directory) counts as a failed open, not as
// a failed transfer later on. A regular file's end is its size.
bool DeviceStreamBuf::positionAtEnd() {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) return false;
    // A regular file is then read as a plain open reads it: a lock makes a read wait, not fail.
    if (S_ISREG(st.st_mode))
        position_ = ::fcntl(fd_.get(), F_SETFL, 0) == 0 ? st.st_size : -1;
    else if (S_ISCHR(st.st_mode))
        position_ = ::lseek(fd_.get(), 0, SEEK_END);
    else
        return false;
    return position_ >= 0;
}

std::streamsize DeviceStreamBuf::xsgetn(char* buffer, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_.get(), buffer + done, static_cast<size_t>(count - done), position_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("eeprom read");
        if (n == 0) break;  // end of the device: the stream reports the short read
        done += n;
        position_ += n;
    }
    return done;
}

std::streamsize DeviceStreamBuf::xsputn(const char* buffer, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd_.get(), buffer + done, static_cast<size_t>(count - done), position_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("eeprom write");
        if (n == 0) break;
        done += n;
        position_ += n;
    }
    return done;
}

DeviceStreamBuf::int_type DeviceStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

DeviceStreamBuf::pos_type DeviceStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                   std::ios_base::openmode) {
    off_t base = direction == std::ios_base::beg ? 0
                 : direction == std::ios_base::cur ? position_
                                                   : ::lseek(fd_.get(), 0, SEEK_END);
    off_t position;
    if (base < 0 || __builtin_add_overflow(base, offset, &position) || position < 0) return pos_type(off_type(-1));
    position_ = position;
    return pos_type(position);
}

DeviceStreamBuf::pos_type DeviceStreamBuf::seekpos(pos_type position, std::ios_base::openmode mode) {
    return seekoff(off_type(position), std::ios_base::beg, mode);
}

}  // namespace korvanta_hardware
