#include <cctype>
#include <cstdio>
#include <vector>

#include "cpu_serial.h"
#include "korvanta_hardware.h"
#include "text_file.h"

namespace korvanta_hardware {
namespace {

// The identity EEPROM locations this library knows, in probing order. Built
// when the library is loaded, never changed afterwards.
const std::vector<EepromConfig_Def> eeprom_config_table = {
    {"/sys/bus/i2c/devices/5-0050/eeprom", 256, 0, 1},  // I2C bus 5, address 0x50
};

}  // namespace

// Defined here so that the interface's type information lives in the library.
HardwareInfo::~HardwareInfo() = default;

KorvantaHardwareInformation::KorvantaHardwareInformation() {
    eeprom_found_ = GetValidEeprom(eeprom_config_);
    if (eeprom_found_)
        hardware_info_ = std::make_unique<HardwareEeprom>(eeprom_config_);
    else
        hardware_info_ = std::make_unique<HardwareFile>();
    ReadHardwareInfo();
    ReadCpuSerialNumberFromHost();
}

KorvantaHardwareInformation::~KorvantaHardwareInformation() = default;

bool KorvantaHardwareInformation::GetValidEeprom(EepromConfig_Def& config) {
    for (const EepromConfig_Def& entry : eeprom_config_table) {
        if (HardwareEeprom::IsExist(entry.path)) {
            config = entry;
            return true;
        }
    }
    return false;
}

// The order is fixed: the backends' messages appear on standard error in it.
void KorvantaHardwareInformation::ReadHardwareInfo() {
    hw_uuid_ = hardware_info_->GetHwUuid();
    robot_sn_ = hardware_info_->GetRobotSn();
    board_type_ = hardware_info_->GetBoardTypeCode();
    robot_version_ = hardware_info_->GetRobotVersionCode();
    robot_status_ = hardware_info_->GetRobotEnvCode();
    uuid_ = hardware_info_->GetRobotUuid();
}

std::optional<std::string> cpu_serial_from_line(std::string_view line) {
    if (line.find("Serial") == std::string_view::npos) return std::nullopt;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(colon + 1);
    std::string value;
    value.reserve(rest.size());
    for (char c : rest)
        if (!std::isspace(static_cast<unsigned char>(c))) value += c;
    return value;
}

// The last matching line wins, so the scan goes through the whole file. A line
// longer than kMaxLineLength is skipped: no serial is that long.
void KorvantaHardwareInformation::ReadCpuSerialNumberFromHost() {
    LineReader cpuinfo("/proc/cpuinfo");
    if (!cpuinfo.opened()) {
        std::fputs("failed to open /proc/cpuinfo\n", stderr);
        return;
    }
    for (std::string_view line; cpuinfo.next(line);)
        if (std::optional<std::string> serial = cpu_serial_from_line(line)) cpu_serial_number_ = std::move(*serial);
}

const std::string& KorvantaHardwareInformation::get_uuid() const { return uuid_; }

const std::string& KorvantaHardwareInformation::get_machine_id() const { return uuid_; }

const std::string& KorvantaHardwareInformation::get_cpu_serial_number() const { return cpu_serial_number_; }

const std::string& KorvantaHardwareInformation::get_hw_uuid() const { return hw_uuid_; }

const std::string& KorvantaHardwareInformation::get_robot_sn() const { return robot_sn_; }

int KorvantaHardwareInformation::get_robot_version() const { return robot_version_; }

int KorvantaHardwareInformation::get_board_type() const { return board_type_; }

int KorvantaHardwareInformation::get_robot_status() const { return robot_status_; }

const std::string& KorvantaHardwareInformation::get_hardware_info(const std::string&& key) const {
    if (key == "uuid") return uuid_;
    if (key == "cpu_serial_number") return cpu_serial_number_;
    if (key == "serial") return robot_sn_;
    if (key == "robot_status") return robot_status_text_;
    return unknown_info_;
}

bool KorvantaHardwareInformation::WriteUuid(const char* uuid) { return hardware_info_->WriteRobotUuid(uuid); }

bool KorvantaHardwareInformation::WriteSerial(const char* serial) { return hardware_info_->WriteRobotSn(serial); }

bool KorvantaHardwareInformation::WriteRobotStatus(unsigned int status) {
    return hardware_info_->WriteRobotEnvCode(status);
}

}  // namespace korvanta_hardware
