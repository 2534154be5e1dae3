#include "save.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "atomic_file.h"
#include "identity_limits.h"
#include "korvanta_hardware.h"
#include "simulated_unit.h"
#include "text_file.h"

namespace korvanta_sim {
namespace {

using korvanta_hardware::kIdentifierLength;

std::optional<std::string> first_line(const std::string& path) {
    std::optional<std::string> content = read_file(path);
    if (!content) return std::nullopt;
    return content->substr(0, content->find('\n'));
}

void save_identifier(std::optional<std::string>& item, const std::string& path) {
    std::optional<std::string> line = first_line(path);
    if (!line) return;
    if (line->size() != kIdentifierLength) {
        std::fprintf(stderr, "korvanta-sim: %s: first line of %zu characters is no identifier; not saved\n",
                     path.c_str(), line->size());
        return;
    }
    item = *line;
}

// Read by the library itself, so the saved code is the one a program on the unit sees.
void save_code(std::optional<uint16_t>& item, const std::string& path) {
    int code = korvanta_hardware::HardwareFile::readCodeFromFile(path);
    if (code >= 0) item = static_cast<uint16_t>(code);
}

void save_cpuinfo(Unit& unit) {
    std::string cpuinfo = read_file(kCpuinfoPath).value_or("");
    if (cpuinfo.empty()) return;
    unit.cpuinfo = cpuinfo;
}

std::string unit_file_text() {
    std::error_code ec;
    bool files = std::filesystem::is_directory(kIdentityDir, ec);
    Unit unit;
    unit.store = files ? Store::kFiles : Store::kNone;
    save_identifier(unit.uuid, korvanta_hardware::ROBOT_ID_PATH);
    save_identifier(unit.hw_uuid, korvanta_hardware::HW_UUID_PATH);
    save_identifier(unit.serial, korvanta_hardware::ROBOT_SN_PATH);
    save_code(unit.board_type, korvanta_hardware::BOARD_TYPE_CODE_PATH);
    save_code(unit.robot_version, korvanta_hardware::ROBOT_VERSION_CODE_PATH);
    save_code(unit.robot_status, korvanta_hardware::ROBOT_STATUS_CODE_PATH);
    save_identifier(unit.machine_id, korvanta_hardware::MACHINE_ID_PATH);
    save_cpuinfo(unit);
    return korvanta_sim::unit_file_text(unit, CodeStyle::kNumbers);
}

// Replaced whole, as the library replaces an identity file: a save that fails
// keeps the old file, a special file is refused at once, and a link is
// followed only where the kernel would follow it.
bool write_file(const std::string& path, const std::string& content, std::string& error) {
    errno = 0;
    const korvanta_hardware::ReplaceResult result = korvanta_hardware::replace_file(path, content);
    if (result == korvanta_hardware::ReplaceResult::kReplaced) return true;
    const int saved = errno;
    error = "cannot write " + path + korvanta_hardware::replace_failure_reason(result, saved);
    return false;
}

}  // namespace

bool save_unit(Store store, const std::string& path, std::string& error) {
    if (store != Store::kEeprom) return write_file(path, unit_file_text(), error);
    std::optional<std::string> image = read_file(kEepromPath);
    if (!image) {
        error = std::string("the EEPROM ") + kEepromPath + " is gone";
        return false;
    }
    return write_file(path, *image, error);
}

}  // namespace korvanta_sim
