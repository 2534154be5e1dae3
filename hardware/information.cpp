#include "korvanta_hardware.h"

namespace korvanta_hardware {

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

// The order is fixed: the backends' messages appear on standard error in it.
void KorvantaHardwareInformation::ReadHardwareInfo() {
    hw_uuid_ = hardware_info_->GetHwUuid();
    robot_sn_ = hardware_info_->GetRobotSn();
    board_type_ = hardware_info_->GetBoardTypeCode();
    robot_version_ = hardware_info_->GetRobotVersionCode();
    robot_status_ = hardware_info_->GetRobotEnvCode();
    uuid_ = hardware_info_->GetRobotUuid();
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
