#include "korvanta_sim_put_in_place.h"

#include <filesystem>
#include <stdexcept>

#include "korvanta_hardware.h"
#include "simulated_unit.h"

namespace korvanta_sim {
namespace {

void install_eeprom(const Unit& unit) {
    EepromImage image = unit.eeprom_image ? EepromImage::from_bytes(*unit.eeprom_image) : EepromImage::erased();
    if (unit.hw_uuid) image.hw_uuid(*unit.hw_uuid);
    if (unit.serial) image.serial(*unit.serial);
    if (unit.uuid) image.robot_uuid(*unit.uuid);
    if (unit.board_type) image.board_type(*unit.board_type);
    if (unit.robot_version) image.version(*unit.robot_version);
    if (unit.robot_status) image.status(*unit.robot_status);
    image.install();
}

// The library's own paths, so that the files land where it reads them.
std::string name_in_identity_dir(const std::string& path) { return std::filesystem::path(path).filename(); }

void write_item(const std::string& path, const std::optional<std::string>& value) {
    if (value) write_identity_file(name_in_identity_dir(path), *value + "\n");
}

void write_code(const std::string& path, const std::optional<uint16_t>& code) {
    if (code) write_identity_file(name_in_identity_dir(path), std::to_string(*code) + "\n");
}

// The directory exists even when it holds nothing yet, as on a unit made
// ready for provisioning: the library never creates it.
void install_files(const Unit& unit) {
    require_sandbox();
    std::filesystem::create_directories(kIdentityDir);
    write_item(korvanta_hardware::ROBOT_ID_PATH, unit.uuid);
    write_item(korvanta_hardware::HW_UUID_PATH, unit.hw_uuid);
    write_item(korvanta_hardware::ROBOT_SN_PATH, unit.serial);
    write_code(korvanta_hardware::BOARD_TYPE_CODE_PATH, unit.board_type);
    write_code(korvanta_hardware::ROBOT_VERSION_CODE_PATH, unit.robot_version);
    write_code(korvanta_hardware::ROBOT_STATUS_CODE_PATH, unit.robot_status);
}

}  // namespace

bool put_in_place(const Unit& unit, std::string& error) {
    // The builder reports a failed set-up by throwing; here it becomes a message.
    try {
        if (unit.store == Store::kEeprom) install_eeprom(unit);
        if (unit.store == Store::kFiles) install_files(unit);
        if (unit.machine_id) write_machine_id(*unit.machine_id + "\n");
        if (unit.cpuinfo) write_cpuinfo(*unit.cpuinfo);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

}  // namespace korvanta_sim
