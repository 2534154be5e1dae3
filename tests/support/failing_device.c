/* The misbehaving EEPROM of failing_device.h. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE
/* Defines libc's native and 64-bit entry points side by side, so off_t must
 * stay the native one whatever the build sets. */
#undef _FILE_OFFSET_BITS

#include "failing_device.h"

#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

enum mode { kPassThrough, kBreakTransfers, kDiscardWrites };

/* Set once, before the operation under test, in a single-threaded child. */
static enum mode armed = kPassThrough;
static dev_t armed_device;
static ino64_t armed_inode;
static size_t good_bytes_per_transfer;
static int transfer_error;
static size_t good_bytes_left;

/* real: the next definition of name, normally libc's, looked up on first use. */
#define REAL(name)                                                                     \
    static __typeof__(&name) real = 0;                                                 \
    if (!__atomic_load_n(&real, __ATOMIC_ACQUIRE))                                     \
        __atomic_store_n(&real, (__typeof__(&name))dlsym(RTLD_NEXT, #name), __ATOMIC_RELEASE);

static int arm(const char* path, enum mode mode) {
    struct stat64 st;
    if (stat64(path, &st) != 0) return -1;
    armed_device = st.st_dev;
    armed_inode = st.st_ino;
    armed = mode;
    return 0;
}

int failing_device_break_transfers(const char* path, size_t good_bytes, int error) {
    good_bytes_per_transfer = good_bytes_left = good_bytes;
    transfer_error = error;
    return arm(path, kBreakTransfers);
}

int failing_device_discard_writes(const char* path) { return arm(path, kDiscardWrites); }

static int on_device(int fd) {
    struct stat64 st;
    return armed != kPassThrough && fstat64(fd, &st) == 0 && st.st_dev == armed_device && st.st_ino == armed_inode;
}

/* How much of a transfer of count bytes at offset may go through; 0 means fail it now. */
static size_t allowance(size_t count, off_t offset) {
    static off_t transfer_end = -1;
    if (offset != transfer_end) good_bytes_left = good_bytes_per_transfer;
    size_t allowed = count < good_bytes_left ? count : good_bytes_left;
    transfer_end = offset + (off_t)allowed;
    return allowed;
}

static void used(ssize_t moved) {
    if (moved > 0) good_bytes_left -= (size_t)moved;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    REAL(pread);
    if (armed != kBreakTransfers || count == 0 || !on_device(fd)) return real(fd, buffer, count, offset);
    size_t allowed = allowance(count, offset);
    if (allowed == 0) {
        errno = transfer_error;
        return -1;
    }
    ssize_t moved = real(fd, buffer, allowed, offset);
    used(moved);
    return moved;
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    REAL(pwrite);
    if (armed == kPassThrough || count == 0 || !on_device(fd)) return real(fd, buffer, count, offset);
    if (armed == kDiscardWrites) return (ssize_t)count;
    size_t allowed = allowance(count, offset);
    if (allowed == 0) {
        errno = transfer_error;
        return -1;
    }
    ssize_t moved = real(fd, buffer, allowed, offset);
    used(moved);
    return moved;
}

/* The same calls under their 64-bit names (one off_t on 64-bit systems). */
ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) { return pread(fd, buffer, count, (off_t)offset); }

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
    return pwrite(fd, buffer, count, (off_t)offset);
}
