/* The misbehaving EEPROM of failing_device.h. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE
/* Defines libc's native and 64-bit lseek side by side (a 32-bit build with
 * 64-bit offsets calls the latter), so off_t must stay the native one. */
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

/* How much of a transfer of count bytes may go through; 0 means fail it now. */
static size_t allowance(size_t count) { return count < good_bytes_left ? count : good_bytes_left; }

static void used(ssize_t moved) {
    if (moved > 0) good_bytes_left -= (size_t)moved;
}

ssize_t read(int fd, void* buffer, size_t count) {
    REAL(read);
    if (armed != kBreakTransfers || count == 0 || !on_device(fd)) return real(fd, buffer, count);
    size_t allowed = allowance(count);
    if (allowed == 0) {
        errno = transfer_error;
        return -1;
    }
    ssize_t moved = real(fd, buffer, allowed);
    used(moved);
    return moved;
}

ssize_t write(int fd, const void* buffer, size_t count) {
    REAL(write);
    if (armed == kPassThrough || count == 0 || !on_device(fd)) return real(fd, buffer, count);
    if (armed == kDiscardWrites) return (ssize_t)count;
    size_t allowed = allowance(count);
    if (allowed == 0) {
        errno = transfer_error;
        return -1;
    }
    ssize_t moved = real(fd, buffer, allowed);
    used(moved);
    return moved;
}

/* Every field access starts with a positioning: a new transfer. */
static void positioned(int fd) {
    if (armed == kBreakTransfers && on_device(fd)) good_bytes_left = good_bytes_per_transfer;
}

off_t lseek(int fd, off_t offset, int whence) {
    REAL(lseek);
    positioned(fd);
    return real(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
    REAL(lseek64);
    positioned(fd);
    return real(fd, offset, whence);
}
