// An unbuffered stream buffer over a device file. On an I2C EEPROM every byte
// read is a bus transfer, so nothing is read ahead or held back: a block read
// is one read of exactly its bytes, a block write one write of exactly its bytes.
// The position is kept here and handed to pread and pwrite, so positioning
// costs no system call.
#ifndef KORVANTA_HARDWARE_DEVICE_STREAM_H
#define KORVANTA_HARDWARE_DEVICE_STREAM_H

#include <sys/types.h>

#include <streambuf>

#include "unique_fd.h"

namespace korvanta_hardware {

class DeviceStreamBuf : public std::streambuf {
public:
    // Opens without creating or truncating, positioned at the end of the file.
    // Only a regular file or a character device that can be positioned will do;
    // nothing blocks, a FIFO included. When writable and the system refuses
    // write access (no permission, a read-only file system), the file is opened
    // for reading only and read_only() says so.
    bool open(const char* path, bool writable);
    // Opened for reading only because write access was refused.
    bool read_only() const { return read_only_; }

protected:
    // Block transfers. A failing system call throws std::ios_base::failure
    // naming the error; the owning stream then turns bad for good.
    std::streamsize xsgetn(char* buffer, std::streamsize count) override;
    std::streamsize xsputn(const char* buffer, std::streamsize count) override;
    int_type overflow(int_type c) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode) override;
    // Nothing is held back, so a flush has nothing left to do.
    int sync() override { return 0; }

private:
    bool positionAtEnd();

    UniqueFd fd_;
    off_t position_ = 0;
    bool read_only_ = false;
};

}  // namespace korvanta_hardware

#endif
