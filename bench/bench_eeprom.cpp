// One full identity read through the EEPROM backend, as the information
// object does it, on the simulated unit: time, heap allocations, and bytes and
// reads that reach the EEPROM file (see device_transfers.h). On a real unit
// every byte read is an I2C transfer of about 0.1 ms, so the byte count is what
// the time will be.
#include <benchmark/benchmark.h>

#include "cost_counters.h"
#include "device_transfers.h"
#include "korvanta_hardware.h"
#include "simulated_unit.h"

using korvanta_hardware::EepromConfig_Def;
using korvanta_hardware::HardwareEeprom;
using korvanta_hardware::KorvantaHardwareInformation;

namespace {

void BM_EepromFullIdentityRead(benchmark::State& state) {
    // A usable robot identifier: no message, and the hardware identifier is read anyway.
    korvanta_sim::EepromImage::erased()
        .hw_uuid("00112233445566778899aabbccddeeff")
        .serial("ffeeddccbbaa99887766554433221100")
        .robot_uuid("0123456789abcdef0123456789abcdef")
        .board_type(1)
        .version(2)
        .status(3)
        .install();
    EepromConfig_Def config;
    if (!KorvantaHardwareInformation::GetValidEeprom(config)) {
        state.SkipWithError("no EEPROM file on the simulated unit");
        return;
    }
    HardwareEeprom eeprom(config);
    DeviceTransfers transfers;
    long allocations = allocations_so_far();
    for (auto _ : state) {
        benchmark::DoNotOptimize(eeprom.GetHwUuid());
        benchmark::DoNotOptimize(eeprom.GetRobotSn());
        benchmark::DoNotOptimize(eeprom.GetBoardTypeCode());
        benchmark::DoNotOptimize(eeprom.GetRobotVersionCode());
        benchmark::DoNotOptimize(eeprom.GetRobotEnvCode());
        benchmark::DoNotOptimize(eeprom.GetRobotUuid());
    }
    allocations = allocations_so_far() - allocations;
    transfers.report(state);
    state.counters["allocations"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EepromFullIdentityRead);

}  // namespace

int main(int argc, char** argv) {
    korvanta_sim::require_sandbox();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
