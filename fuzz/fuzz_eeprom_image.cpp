// Any EEPROM image, of any length, through an information object and every
// getter of both interfaces. The values must be those the image holds: each
// field read in the fixed order, a device that ends early failing that field
// and every later one, the robot identifier falling back to the hardware
// identifier when it is erased.
//
// The object reads the unit's compiled-in EEPROM path, so this target runs
// only on a simulated unit: sim/fixture/korvanta-sandbox fuzz_eeprom_image ...
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"
#include "simulated_unit.h"

using korvanta_fuzz::check;
using Information = korvanta_hardware::KorvantaHardwareInformation;

namespace {

const char kCpuSerial[] = "10000000c0ffee01";

// What reading the image field by field yields: a field past the device's end
// fails, and the stream stays failed for every field after it.
class Expected {
public:
    explicit Expected(const std::vector<uint8_t>& image) : image_(image) {}

    std::string text(size_t offset) {
        if (!readable(offset, 16)) return "null";
        static const char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (size_t i = offset; i < offset + 16; ++i) {
            hex += kDigits[image_[i] >> 4];
            hex += kDigits[image_[i] & 0xF];
        }
        return hex;
    }
    int code(size_t offset) {
        if (!readable(offset, 2)) return -1;
        return image_[offset] | image_[offset + 1] << 8;
    }

private:
    bool readable(size_t offset, size_t length) {
        failed_ = failed_ || offset + length > image_.size();
        return !failed_;
    }
    const std::vector<uint8_t>& image_;
    bool failed_ = false;
};

bool usable(const std::string& text) {
    return !text.empty() && text != "null" && text.find_first_not_of(text[0]) != std::string::npos;
}

struct Identity {
    std::string hw_uuid, serial, uuid;
    int board_type, version, status;
};

// The information object's reading order: hardware identifier, serial, board
// type, version, status, then the robot identifier and its fallback read.
Identity expected_identity(const std::vector<uint8_t>& image) {
    Expected read(image);
    Identity identity;
    identity.hw_uuid = read.text(0);
    identity.serial = read.text(20);
    identity.board_type = read.code(16);
    identity.version = read.code(18);
    identity.status = read.code(52);
    std::string robot = read.text(36);
    std::string hardware = read.text(0);
    identity.uuid = usable(robot) || !usable(hardware) ? robot : hardware;
    return identity;
}

std::string shown(const Identity& id) {
    return id.hw_uuid + " " + id.serial + " " + id.uuid + " " + std::to_string(id.board_type) + " " +
           std::to_string(id.version) + " " + std::to_string(id.status);
}

void check_class_interface(const Identity& expected) {
    const Information info;
    Identity got{info.get_hw_uuid(), info.get_robot_sn(), info.get_uuid(),
                 info.get_board_type(), info.get_robot_version(), info.get_robot_status()};
    check(shown(got) == shown(expected), "the getters give what the image holds",
          "got      " + shown(got) + "\nexpected " + shown(expected));
    check(info.get_machine_id() == info.get_uuid(), "the machine id is the robot identifier");
    check(info.get_cpu_serial_number() == kCpuSerial, "the cpu serial comes from cpuinfo");
    check(info.get_hardware_info("uuid") == info.get_uuid() && info.get_hardware_info("serial") == info.get_robot_sn() &&
              info.get_hardware_info("cpu_serial_number") == kCpuSerial &&
              info.get_hardware_info("robot_status") == "null" && info.get_hardware_info("hw_uuid") == "null",
          "get_hardware_info knows its three keys");
}

bool named(const char* name) { return name != nullptr && name[0] != '\0'; }

void check_flat_interface(const Identity& expected) {
    KorvantaHardwareInformation* h = KorvantaHardwareInformation_create();
    check(expected.uuid == KorvantaHardwareInformation_get_uuid(h) &&
              expected.uuid == KorvantaHardwareInformation_get_machine_id(h) &&
              expected.hw_uuid == KorvantaHardwareInformation_get_hw_uuid(h) &&
              expected.serial == KorvantaHardwareInformation_get_robot_sn(h) &&
              std::strcmp(KorvantaHardwareInformation_get_cpu_serial_number(h), kCpuSerial) == 0 &&
              std::strcmp(KorvantaHardwareInformation_get_hardware_info(h, "serial"), expected.serial.c_str()) == 0,
          "the flat getters give the object's texts");
    // Codes that could not be read are normalised: version 65535, board type and status 0.
    check(KorvantaHardwareInformation_get_robot_version_code(h) == (expected.version < 0 ? 65535 : expected.version) &&
              KorvantaHardwareInformation_get_board_type_code(h) == (expected.board_type < 0 ? 0 : expected.board_type) &&
              KorvantaHardwareInformation_get_robot_status_code(h) == (expected.status < 0 ? 0 : expected.status),
          "the flat codes are normalised");
    check(named(KorvantaHardwareInformation_get_robot_version(h)) && named(KorvantaHardwareInformation_get_board_type(h)) &&
              named(KorvantaHardwareInformation_get_robot_status(h)) &&
              std::strcmp(KorvantaHardwareInformation_get_eeprom_path(), korvanta_sim::kEepromPath) == 0,
          "every code has a name, and the EEPROM is found");
    KorvantaHardwareInformation_destroy(h);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    korvanta_sim::require_sandbox();
    korvanta_sim::reset_unit();
    korvanta_sim::write_cpuinfo(std::string("processor\t: 0\nSerial\t\t: ") + kCpuSerial + "\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    korvanta_sim::EepromImage::from_bytes(image).install();
    const Identity expected = expected_identity(image);
    check_class_interface(expected);
    check_flat_interface(expected);
    return 0;
}
