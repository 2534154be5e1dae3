/* The preloaded EEPROM transfer counter; use and limits in eeprom_io_counter.h.
 * Counts calls made and bytes actually transferred; descriptors above kMaxFd,
 * and copies made other than by fcntl's F_DUPFD and F_DUPFD_CLOEXEC, are not
 * followed. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE
/* Defines libc's native and 64-bit entry points side by side, so off_t must
 * stay the native one whatever the build sets. */
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include "eeprom_io_counter.h"

enum { kMaxFd = 4096 };

static unsigned char watched[kMaxFd];
static struct korvanta_io_counts counts;

/* real: the next definition of name, normally libc's, looked up on first use. */
#define REAL(name)                                                                     \
    static __typeof__(&name) real = 0;                                                 \
    if (!__atomic_load_n(&real, __ATOMIC_ACQUIRE))                                     \
        __atomic_store_n(&real, (__typeof__(&name))dlsym(RTLD_NEXT, #name), __ATOMIC_RELEASE);

static void add(unsigned long* counter, unsigned long amount) {
    __atomic_fetch_add(counter, amount, __ATOMIC_RELAXED);
}

static int is_watched_path(const char* path) {
    const char* target = getenv("KORVANTA_IO_COUNTER_PATH");
    if (!target || !*target) target = "/sys/bus/i2c/devices/5-0050/eeprom";
    return path && strcmp(path, target) == 0;
}

static int is_watched(int fd) { return fd >= 0 && fd < kMaxFd && __atomic_load_n(&watched[fd], __ATOMIC_RELAXED); }

static int opened(int fd, const char* path) {
    if (fd >= 0 && fd < kMaxFd && is_watched_path(path)) {
        __atomic_store_n(&watched[fd], 1, __ATOMIC_RELAXED);
        add(&counts.opens, 1);
    }
    return fd;
}

static void transferred(int fd, unsigned long* calls, unsigned long* bytes, ssize_t result) {
    if (!is_watched(fd)) return;
    add(calls, 1);
    if (result > 0) add(bytes, (unsigned long)result);
}

/* open's mode argument is only there when the flags ask for one. */
static mode_t mode_of(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
    REAL(open);
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_of(flags, args);
    va_end(args);
    return opened(real(path, flags, mode), path);
}

int open64(const char* path, int flags, ...) {
    REAL(open64);
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_of(flags, args);
    va_end(args);
    return opened(real(path, flags, mode), path);
}

int openat(int dirfd, const char* path, int flags, ...) {
    REAL(openat);
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_of(flags, args);
    va_end(args);
    return opened(real(dirfd, path, flags, mode), path);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    REAL(openat64);
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_of(flags, args);
    va_end(args);
    return opened(real(dirfd, path, flags, mode), path);
}

ssize_t read(int fd, void* buffer, size_t count) {
    REAL(read);
    ssize_t result = real(fd, buffer, count);
    transferred(fd, &counts.reads, &counts.bytes_read, result);
    return result;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    REAL(pread);
    ssize_t result = real(fd, buffer, count, offset);
    transferred(fd, &counts.reads, &counts.bytes_read, result);
    return result;
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
    REAL(pread64);
    ssize_t result = real(fd, buffer, count, offset);
    transferred(fd, &counts.reads, &counts.bytes_read, result);
    return result;
}

ssize_t write(int fd, const void* buffer, size_t count) {
    REAL(write);
    ssize_t result = real(fd, buffer, count);
    transferred(fd, &counts.writes, &counts.bytes_written, result);
    return result;
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    REAL(pwrite);
    ssize_t result = real(fd, buffer, count, offset);
    transferred(fd, &counts.writes, &counts.bytes_written, result);
    return result;
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
    REAL(pwrite64);
    ssize_t result = real(fd, buffer, count, offset);
    transferred(fd, &counts.writes, &counts.bytes_written, result);
    return result;
}

/* A copy of a watched descriptor is watched too, so the library may move the
 * EEPROM's descriptor off 0, 1 and 2. The third argument is an int or a
 * pointer, depending on the command; it is passed on as the widest of them. */
static int duplicated(int fd, int cmd, int result) {
    if ((cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) && result >= 0 && result < kMaxFd && is_watched(fd))
        __atomic_store_n(&watched[result], 1, __ATOMIC_RELAXED);
    return result;
}

int fcntl(int fd, int cmd, ...) {
    REAL(fcntl);
    va_list args;
    va_start(args, cmd);
    void* argument = va_arg(args, void*);
    va_end(args);
    return duplicated(fd, cmd, real(fd, cmd, argument));
}

int fcntl64(int fd, int cmd, ...) {
    REAL(fcntl64);
    va_list args;
    va_start(args, cmd);
    void* argument = va_arg(args, void*);
    va_end(args);
    return duplicated(fd, cmd, real(fd, cmd, argument));
}

off_t lseek(int fd, off_t offset, int whence) {
    REAL(lseek);
    if (is_watched(fd)) add(&counts.seeks, 1);
    return real(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
    REAL(lseek64);
    if (is_watched(fd)) add(&counts.seeks, 1);
    return real(fd, offset, whence);
}

int close(int fd) {
    REAL(close);
    if (is_watched(fd)) {
        __atomic_store_n(&watched[fd], 0, __ATOMIC_RELAXED);
        add(&counts.closes, 1);
    }
    return real(fd);
}

static void reset(void) {
    struct korvanta_io_counts zero = {0};
    counts = zero;
}

static void get(struct korvanta_io_counts* out) { *out = counts; }

const struct korvanta_io_counter_api* korvanta_io_counter_get_api(void) {
    static const struct korvanta_io_counter_api api = {reset, get};
    return &api;
}
