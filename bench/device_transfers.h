// What reached the EEPROM file during a benchmark's timed loop, per iteration,
// as benchmark counters. The counts come from the preloaded counter
// (sim/fixture/eeprom_io_counter.h): run the benchmark as
//   LD_PRELOAD=.../libkorvanta-eeprom-io-counter.so sim/fixture/korvanta-sandbox BENCHMARK
// Use: construct right before `for (auto _ : state)`, call report(state) after it.
// Without the counter the benchmark still runs and says so in its label.
#ifndef KORVANTA_BENCH_DEVICE_TRANSFERS_H
#define KORVANTA_BENCH_DEVICE_TRANSFERS_H

#include <benchmark/benchmark.h>

#include "eeprom_io_counter.h"

class DeviceTransfers {
public:
    DeviceTransfers() : counter_(korvanta_io_counter()) {
        if (counter_) counter_->reset();
    }

    void report(benchmark::State& state) const {
        if (!counter_) {
            state.SetLabel("no transfer counts: preload libkorvanta-eeprom-io-counter.so");
            return;
        }
        korvanta_io_counts counts;
        counter_->get(&counts);
        per_iteration(state, "bytes_read", counts.bytes_read);
        per_iteration(state, "reads", counts.reads);
        per_iteration(state, "seeks", counts.seeks);
    }

private:
    static void per_iteration(benchmark::State& state, const char* name, unsigned long total) {
        state.counters[name] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kAvgIterations);
    }

    const korvanta_io_counter_api* counter_;
};

#endif
