/* A misbehaving EEPROM for the fault matrix: a device whose transfers break
 * off with an error part way through, or one that acknowledges writes and
 * keeps its old bytes (write-protect pin asserted).
 *
 * Link failing_device.c into the test program: its pread and pwrite (and their
 * 64-bit names) come before libc's for every caller in the process, the library
 * included. Unarmed
 * they only pass calls on. Armed, they act on descriptors open on the armed
 * file (matched by device and inode) and leave every other one alone. Arm
 * only in a forked child that runs the one operation under test. */
#ifndef KORVANTA_TESTS_FAILING_DEVICE_H
#define KORVANTA_TESTS_FAILING_DEVICE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Each transfer on path moves good_bytes bytes, then fails with error (e.g.
 * EIO). A call that starts where the previous one on the device ended, as the
 * rest of a short transfer does, continues that transfer; any other starts a
 * new one. Returns 0, or -1 when path cannot be looked at. */
int failing_device_break_transfers(const char* path, size_t good_bytes, int error);

/* Writes on path report every byte as written and store none. */
int failing_device_discard_writes(const char* path);

#ifdef __cplusplus
}
#endif

#endif
