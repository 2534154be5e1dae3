#include "code_names.h"

#include "korvanta_hardware_flat.h"

namespace korvanta_sim {
namespace {

constexpr char kUnknownName[] = "UNKNOWN";
constexpr unsigned int kLastCode = 65535;

const char* name_of(CodeTable table, unsigned int code) {
    switch (table) {
        case CodeTable::kBoardType:
            return KorvantaHardwareInformation_enum2str_board_type(static_cast<int>(code));
        case CodeTable::kRobotVersion:
            return KorvantaHardwareInformation_enum2str_robot_version(code);
        case CodeTable::kStationVersion:
            return KorvantaHardwareInformation_enum2str_station_version(static_cast<int>(code));
        default:
            return KorvantaHardwareInformation_enum2str_robot_status(code);
    }
}

uint16_t unknown_code(CodeTable table) {
    switch (table) {
        case CodeTable::kRobotVersion:
            return ROBOT_VERSION_UNKNOWN;
        case CodeTable::kStationVersion:
            return STATION_VERSION_UNKNOWN;
        case CodeTable::kBoardType:
            return BOARD_TYPE_UNKNOWN;
        default:
            return STATUS_UNKNOWN;
    }
}

}  // namespace

std::optional<uint16_t> code_of_name(CodeTable table, const std::string& name) {
    if (name == kUnknownName) return unknown_code(table);
    // Asking the library keeps the names exactly its own, also code 4 that has no enumerator.
    for (unsigned int code = 0; code <= kLastCode; ++code) {
        if (name == name_of(table, code)) return static_cast<uint16_t>(code);
    }
    return std::nullopt;
}

std::vector<std::string> names_of(CodeTable table) {
    std::vector<std::string> names{kUnknownName};
    for (unsigned int code = 0; code <= kLastCode; ++code) {
        std::string name = name_of(table, code);
        if (name != kUnknownName) names.push_back(name);
    }
    return names;
}

}  // namespace korvanta_sim
