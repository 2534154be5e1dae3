// What an operation costs besides its time, for the benchmarks' counters:
// heap allocations and system calls. Linked into every benchmark program.
#ifndef KORVANTA_BENCH_COST_COUNTERS_H
#define KORVANTA_BENCH_COST_COUNTERS_H

#include <functional>

// Calls of operator new in this process so far (the program's replacement
// operator new counts them, the library's included).
long allocations_so_far();

// The system calls one run of action makes, counted by tracing a forked copy
// of this process; -1 where the process may not trace its child.
long system_calls_of(const std::function<void()>& action);

#endif
