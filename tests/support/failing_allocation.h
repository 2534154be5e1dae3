// An allocation that fails on demand: link failing_allocation.cpp into the test
// program, and its replacement operator new throws std::bad_alloc at the
// allocation numbered fail_allocation, counted from when it is set (0: none
// does). Set it only while a single-threaded test runs the operation under watch.
//
// The replacement has a file of its own: inlined into callers in the same file,
// g++ 14 at -O2 takes its free() for a mismatch with operator new.
#ifndef KORVANTA_TESTS_FAILING_ALLOCATION_H
#define KORVANTA_TESTS_FAILING_ALLOCATION_H

#include <atomic>

extern std::atomic<long> fail_allocation;

#endif
