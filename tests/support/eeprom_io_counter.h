/* Counts of the system calls a process makes on one file, by default the
 * unit's EEPROM: how many transfers and how many bytes actually reach the device.
 *
 * The counter is a preloaded library (target korvanta-eeprom-io-counter):
 *
 *   LD_PRELOAD=.../libkorvanta-eeprom-io-counter.so sim/korvanta-sandbox PROGRAM
 *
 * In CMake:
 *   set_tests_properties(NAME PROPERTIES ENVIRONMENT
 *     "LD_PRELOAD=$<TARGET_FILE:korvanta-eeprom-io-counter>")
 *
 * It wraps open/open64/openat/openat64/read/write/pread/pread64/pwrite/pwrite64/
 * lseek/lseek64/close, follows copies made by fcntl (F_DUPFD, F_DUPFD_CLOEXEC),
 * and counts only descriptors opened on the watched path, compared as the
 * exact string passed to open: "/sys/bus/i2c/devices/5-0050/eeprom", or
 * $KORVANTA_IO_COUNTER_PATH when that is set. Anything else (the test's own
 * reads of other files, the launcher's tools) passes through uncounted.
 *
 * A program reaches the counts through korvanta_io_counter(), which finds the
 * preloaded library with dlsym and returns NULL when it is not loaded.
 * Reset before the operation you measure and read the counts after it: the
 * program's own look at the same file (e.g. read_eeprom()) counts as well. */
#ifndef KORVANTA_TESTS_EEPROM_IO_COUNTER_H
#define KORVANTA_TESTS_EEPROM_IO_COUNTER_H

#include <dlfcn.h>

#ifdef __cplusplus
extern "C" {
#endif

struct korvanta_io_counts {
    unsigned long opens;
    unsigned long reads; /* read and pread */
    unsigned long bytes_read;
    unsigned long writes; /* write and pwrite */
    unsigned long bytes_written;
    unsigned long seeks;
    unsigned long closes;
};

struct korvanta_io_counter_api {
    void (*reset)(void);
    void (*get)(struct korvanta_io_counts* counts);
};

/* Defined by the preloaded library only. */
const struct korvanta_io_counter_api* korvanta_io_counter_get_api(void);

/* The preloaded counter, or NULL when the program runs without it. */
static inline const struct korvanta_io_counter_api* korvanta_io_counter(void) {
    typedef const struct korvanta_io_counter_api* (*lookup)(void);
    void* symbol = dlsym(RTLD_DEFAULT, "korvanta_io_counter_get_api");
    return symbol ? ((lookup)symbol)() : 0;
}

#ifdef __cplusplus
}
#endif

#endif
