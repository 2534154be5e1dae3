#include "save.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "code_names.h"
#include "identity_limits.h"
#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"
#include "simulated_unit.h"
#include "text_file.h"

namespace korvanta_sim {
namespace {

using Json = nlohmann::ordered_json;

using korvanta_hardware::CodeTable;
using korvanta_hardware::kIdentifierLength;

std::optional<std::string> first_line(const std::string& path) {
    std::optional<std::string> content = read_file(path);
    if (!content) return std::nullopt;
    return content->substr(0, content->find('\n'));
}

std::optional<std::string> saved_identifier(const std::string& path) {
    std::optional<std::string> line = first_line(path);
    if (!line) return std::nullopt;
    if (line->size() != kIdentifierLength) {
        std::fprintf(stderr, "korvanta-sim: %s: first line of %zu characters is no identifier; not saved\n",
                     path.c_str(), line->size());
        return std::nullopt;
    }
    return line;
}

// Read by the library itself, so the saved code is the one a program on the unit sees.
std::optional<uint16_t> saved_code(const std::string& path) {
    int code = korvanta_hardware::HardwareFile::readCodeFromFile(path);
    if (code < 0) return std::nullopt;
    return static_cast<uint16_t>(code);
}

Unit saved_unit() {
    std::error_code ec;
    Unit unit;
    unit.store = std::filesystem::is_directory(kIdentityDir, ec) ? Store::kFiles : Store::kNone;
    unit.uuid = saved_identifier(korvanta_hardware::ROBOT_ID_PATH);
    unit.hw_uuid = saved_identifier(korvanta_hardware::HW_UUID_PATH);
    unit.serial = saved_identifier(korvanta_hardware::ROBOT_SN_PATH);
    unit.board_type = saved_code(korvanta_hardware::BOARD_TYPE_CODE_PATH);
    unit.robot_version = saved_code(korvanta_hardware::ROBOT_VERSION_CODE_PATH);
    unit.robot_status = saved_code(korvanta_hardware::ROBOT_STATUS_CODE_PATH);
    unit.machine_id = saved_identifier(korvanta_hardware::MACHINE_ID_PATH);
    std::string cpuinfo = read_file(kCpuinfoPath).value_or("");
    if (!cpuinfo.empty()) unit.cpuinfo = cpuinfo;
    return unit;
}

void put_text(Json& unit, const char* key, const std::optional<std::string>& value) {
    if (value) unit[key] = *value;
}

void put_code(Json& unit, const char* key, CodeTable table, const std::optional<uint16_t>& code, CodeStyle codes) {
    if (!code) return;
    const char* name = korvanta_hardware::name_of(table, *code);
    if (codes == CodeStyle::kNames && korvanta_hardware::code_of_name(table, name) == *code) {
        unit[key] = name;
    } else {
        unit[key] = *code;
    }
}

bool write_file(const std::string& path, const std::string& content, std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0 && korvanta_hardware::write_all(fd, content);
    int saved = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) error = "cannot write " + path + ": " + std::strerror(saved);
    return ok;
}

}  // namespace

std::string unit_file_text(const Unit& unit, CodeStyle codes) {
    Json object = {{kStoreKey, store_name(unit.store)}};
    put_text(object, kUuidKey, unit.uuid);
    put_text(object, kHwUuidKey, unit.hw_uuid);
    put_text(object, kSerialKey, unit.serial);
    put_code(object, kBoardTypeKey, CodeTable::kBoardType, unit.board_type, codes);
    // A station keeps its own revision in the version field, named from the station table.
    bool station = unit.board_type == uint16_t{BOARD_STATION};
    put_code(object, kRobotVersionKey, station ? CodeTable::kStationVersion : CodeTable::kRobotVersion,
             unit.robot_version, codes);
    put_code(object, kRobotStatusKey, CodeTable::kRobotStatus, unit.robot_status, codes);
    put_text(object, kMachineIdKey, unit.machine_id);
    if (unit.cpuinfo) {
        std::optional<std::string> serial = serial_of_cpuinfo(*unit.cpuinfo);
        object[serial ? kCpuSerialKey : kCpuinfoKey] = serial ? *serial : *unit.cpuinfo;
    }
    // Identity files may hold any bytes; invalid UTF-8 must not cost the whole unit.
    return object.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool save_unit(Store store, const std::string& path, std::string& error) {
    if (store != Store::kEeprom) return write_file(path, unit_file_text(saved_unit(), CodeStyle::kNumbers), error);
    std::optional<std::string> image = read_file(kEepromPath);
    if (!image) {
        error = std::string("the EEPROM ") + kEepromPath + " is gone";
        return false;
    }
    return write_file(path, *image, error);
}

}  // namespace korvanta_sim
