#include "put_in_place.h"

#include <stdexcept>

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

// The directory exists even when it holds nothing yet, as on a unit made
// ready for provisioning: the library never creates it.
void install_files(const Unit& unit) {
    IdentityFiles files;
    if (unit.uuid) files.robot_id(*unit.uuid);
    if (unit.hw_uuid) files.hw_uuid(*unit.hw_uuid);
    if (unit.serial) files.serial(*unit.serial);
    if (unit.board_type) files.board_type(*unit.board_type);
    if (unit.robot_version) files.version(*unit.robot_version);
    if (unit.robot_status) files.status(*unit.robot_status);
    files.install();
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
