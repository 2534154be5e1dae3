// Building an information object, the one place where the library does real
// work, on a file-backend unit and on an EEPROM unit of the simulated unit.
// Per construction and destruction: the time, the heap allocations, the system
// calls (cost_counters.h), and on the EEPROM unit the reads and bytes that
// reach the device (device_transfers.h): 7 reads of 70 bytes in all, the
// hardware identifier twice because the robot identifier's check reads it again.
#include <benchmark/benchmark.h>

#include <string>

#include "cost_counters.h"
#include "device_transfers.h"
#include "korvanta_hardware.h"
#include "simulated_unit.h"

using korvanta_hardware::KorvantaHardwareInformation;
using namespace korvanta_sim;

namespace {

const std::string kHwUuid = "00112233445566778899aabbccddeeff";
const std::string kSerial = "ffeeddccbbaa99887766554433221100";
const std::string kRobotUuid = "0123456789abcdef0123456789abcdef";

// Four cores' worth of text before the serial line, as a small ARM board shows it.
std::string cpuinfo() {
    std::string text;
    for (int core = 0; core < 4; ++core)
        text += "processor\t: " + std::to_string(core) +
                "\nBogoMIPS\t: 108.00\nFeatures\t: fp asimd evtstrm crc32 cpuid\n"
                "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU variant\t: 0x0\n"
                "CPU part\t: 0xd08\nCPU revision\t: 3\n\n";
    return text + "Revision\t: c03111\nSerial\t\t: 10000000a1b2c3d4\nModel\t\t: robot board\n";
}

// Times constructions on the unit as it is, and reports what each one cost.
void construct(benchmark::State& state) {
    DeviceTransfers transfers;
    long allocations = allocations_so_far();
    for (auto _ : state) {
        KorvantaHardwareInformation info;
        benchmark::DoNotOptimize(info.get_uuid().data());
    }
    allocations = allocations_so_far() - allocations;
    transfers.report(state);
    state.counters["allocations"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.counters["syscalls"] =
        static_cast<double>(system_calls_of([] { KorvantaHardwareInformation info; }));
}

void BM_ConstructOnFileUnit(benchmark::State& state) {
    IdentityFiles().hw_uuid(kHwUuid).serial(kSerial).robot_id(kRobotUuid).board_type(1).version(2).status(3).install();
    write_cpuinfo(cpuinfo());
    construct(state);
    reset_unit();
}
BENCHMARK(BM_ConstructOnFileUnit);

void BM_ConstructOnEepromUnit(benchmark::State& state) {
    // A usable robot identifier: no message on standard error.
    EepromImage::erased().hw_uuid(kHwUuid).serial(kSerial).robot_uuid(kRobotUuid).board_type(1).version(2).status(3).install();
    write_cpuinfo(cpuinfo());
    construct(state);
    reset_unit();
}
BENCHMARK(BM_ConstructOnEepromUnit);

}  // namespace

int main(int argc, char** argv) {
    require_sandbox();
    reset_unit();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
