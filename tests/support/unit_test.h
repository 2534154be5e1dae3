// Shared pieces of the C++ suites: the simulated unit's test fixture, and a
// way to see what the library says on stderr.
#ifndef KORVANTA_TESTS_UNIT_TEST_H
#define KORVANTA_TESTS_UNIT_TEST_H

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <functional>
#include <string>

#include "on_simulated_unit.h"
#include "simulated_unit.h"

// What the action wrote to standard error, byte for byte.
inline std::string stderr_of(const std::function<void()>& action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

// The rest of this single-threaded process runs without /proc, as in a chroot
// or a minimal container: the library then names its temporary files at once.
inline bool without_proc() {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount("korvanta-no-proc", "/proc", "tmpfs", 0, nullptr) == 0;
}

#endif
