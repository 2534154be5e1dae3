// After construction an information object only reads, so several threads may
// share one. This suite hammers one object from several threads at once; its
// real check is ThreadSanitizer's (the CI runs it in a -DKORVANTA_SANITIZE=thread
// build), the value checks catch torn or moved strings in any build.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"
#include "unit_test.h"

using Information = korvanta_hardware::KorvantaHardwareInformation;
using namespace korvanta_sim;

namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 2000;

// What one round of reading everything yields, as one comparable text.
std::string read_everything(const Information& info) {
    std::string all = info.get_uuid() + info.get_machine_id() + info.get_cpu_serial_number() + info.get_hw_uuid() +
                      info.get_robot_sn() + info.get_hardware_info("uuid") + info.get_hardware_info("serial") +
                      info.get_hardware_info("cpu_serial_number") + info.get_hardware_info("robot_status") +
                      info.get_hardware_info("anything");
    return all + std::to_string(info.get_robot_version()) + std::to_string(info.get_board_type()) +
           std::to_string(info.get_robot_status());
}

std::string read_everything(const ::KorvantaHardwareInformation* h) {
    std::string all = std::string(KorvantaHardwareInformation_get_uuid(h)) + KorvantaHardwareInformation_get_hw_uuid(h) +
                      KorvantaHardwareInformation_get_robot_sn(h) + KorvantaHardwareInformation_get_cpu_serial_number(h) +
                      KorvantaHardwareInformation_get_machine_id(h) +
                      KorvantaHardwareInformation_get_hardware_info(h, "serial") +
                      KorvantaHardwareInformation_get_robot_version(h) + KorvantaHardwareInformation_get_board_type(h) +
                      KorvantaHardwareInformation_get_robot_status(h);
    return all + std::to_string(KorvantaHardwareInformation_get_robot_version_code(h)) +
           std::to_string(KorvantaHardwareInformation_get_board_type_code(h)) +
           std::to_string(KorvantaHardwareInformation_get_robot_status_code(h));
}

// Runs the reader on kThreads threads, all released at once; counts rounds that
// saw anything but the expected text.
template <typename Reader>
int mismatches_under_contention(const std::string& expected, Reader reader) {
    std::atomic<bool> go{false};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round)
                if (reader() != expected) mismatches.fetch_add(1, std::memory_order_relaxed);
        });
    }
    go.store(true, std::memory_order_release);
    for (std::thread& thread : threads) thread.join();
    return mismatches.load();
}

class ConcurrentGetters : public OnSimulatedUnit {
protected:
    void SetUp() override {
        OnSimulatedUnit::SetUp();
        write_cpuinfo("processor\t: 0\nSerial\t\t: 10000000abcdef01\n");
    }
};

}  // namespace

TEST_F(ConcurrentGetters, ClassGettersOfOneFileBackedObjectFromManyThreads) {
    write_identity_file("robot_id", "0123456789abcdef0123456789abcdef\n");
    write_identity_file("hw_uuid", "00112233445566778899aabbccddeeff\n");
    write_identity_file("robot_sn", "ffeeddccbbaa99887766554433221100\n");
    write_identity_file("board_type_code", "1\n");
    write_identity_file("robot_version_code", "2\n");
    write_identity_file("robot_status_code", "5\n\n");
    const Information info;
    const std::string expected = read_everything(info);
    ASSERT_NE(expected.find("10000000abcdef01"), std::string::npos);
    EXPECT_EQ(mismatches_under_contention(expected, [&] { return read_everything(info); }), 0);
}

TEST_F(ConcurrentGetters, FlatGettersOfOneEepromBackedHandleFromManyThreads) {
    EepromImage::erased()
        .hw_uuid("00112233445566778899aabbccddeeff")
        .board_type(3)  // a station: the version is named from the other table
        .version(1)
        .status(7)
        .install();  // the robot identifier stays erased and takes the fallback
    ::KorvantaHardwareInformation* h = nullptr;
    stderr_of([&] { h = KorvantaHardwareInformation_create(); });
    ASSERT_NE(h, nullptr);
    const std::string expected = read_everything(h);
    ASSERT_NE(expected.find("STATION_VERSION_2024_930"), std::string::npos);
    EXPECT_EQ(mismatches_under_contention(expected, [&] { return read_everything(h); }), 0);
    KorvantaHardwareInformation_destroy(h);
}
