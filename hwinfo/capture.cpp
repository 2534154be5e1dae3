// --unit-file: this unit as a unit file, which korvanta-sim runs as the same
// unit and `program` writes onto another board.
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>

#include "hwinfo.h"
#include "identity_limits.h"
#include "identity_text.h"
#include "korvanta_hardware.h"
#include "unit_file.h"

namespace hwinfo {
namespace {

using korvanta_hardware::HardwareFile;
using korvanta_hardware::kNoValue;
using korvanta_sim::Store;
using korvanta_sim::Unit;

constexpr unsigned int kIdentifierBytes = korvanta_hardware::kIdentifierLength / 2;

bool is_directory(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// An erased field reads as "ff" throughout, the state a simulated EEPROM
// starts in: left out, it comes back the same.
bool erased(const std::string& text) { return text == std::string(korvanta_hardware::kIdentifierLength, 'f'); }

std::optional<std::string> stored_identifier(const std::string& text, Store store) {
    if (text == kNoValue || (store == Store::kEeprom && erased(text))) return std::nullopt;
    return text;
}

// On an EEPROM every code is there, 65535 when erased; an identity file's code
// is there when the file is.
std::optional<uint16_t> stored_code(const NamedCode& code, Store store, const std::string& path) {
    bool there = store == Store::kEeprom ? code.code != 0xFFFF : HardwareFile::readCodeFromFile(path) >= 0;
    if (!there) return std::nullopt;
    return static_cast<uint16_t>(code.code);
}

// A stand-in is not stored: left out, the library takes it again.
bool is_stand_in(const Identity& identity) {
    return identity.uuid_source == kUuidFromHwUuid || identity.uuid_source == kUuidFromMachineId;
}

Store store_of_unit() {
    if (!std::string(KorvantaHardwareInformation_get_eeprom_path()).empty()) return Store::kEeprom;
    return is_directory(identity_directory()) ? Store::kFiles : Store::kNone;
}

}  // namespace

std::string identity_directory() {
    const std::string& robot_id = korvanta_hardware::ROBOT_ID_PATH;
    return robot_id.substr(0, robot_id.rfind('/'));
}

std::string format_unit_file(const Identity& identity) {
    Unit unit;
    unit.store = store_of_unit();
    if (unit.store != Store::kNone) {
        if (!is_stand_in(identity)) unit.uuid = stored_identifier(identity.uuid, unit.store);
        unit.hw_uuid = stored_identifier(identity.hw_uuid, unit.store);
        unit.serial = stored_identifier(identity.serial, unit.store);
        unit.board_type = stored_code(identity.board_type, unit.store, korvanta_hardware::BOARD_TYPE_CODE_PATH);
        unit.robot_version = stored_code(identity.version, unit.store, korvanta_hardware::ROBOT_VERSION_CODE_PATH);
        unit.robot_status = stored_code(identity.status, unit.store, korvanta_hardware::ROBOT_STATUS_CODE_PATH);
    }
    std::string machine_id = HardwareFile::readUuidFromFile(korvanta_hardware::MACHINE_ID_PATH, kIdentifierBytes);
    if (machine_id != kNoValue) unit.machine_id = machine_id;
    if (identity.cpu_serial != kNoValue && !identity.cpu_serial.empty())
        unit.cpuinfo = korvanta_sim::cpuinfo_for_serial(identity.cpu_serial);
    return korvanta_sim::unit_file_text(unit, korvanta_sim::CodeStyle::kNames);
}

}  // namespace hwinfo
