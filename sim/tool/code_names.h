// Codes by their names, as the library names them, for unit files.
#ifndef KORVANTA_SIM_CODE_NAMES_H
#define KORVANTA_SIM_CODE_NAMES_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvanta_sim {

enum class CodeTable { kBoardType, kRobotVersion, kStationVersion, kRobotStatus };

// The code the library names `name` in that table ("RELEASE" gives 5).
// "UNKNOWN" gives the table's unknown value: 0, or 65535 for the two version tables.
std::optional<uint16_t> code_of_name(CodeTable table, const std::string& name);

// The names of the table's known codes, in code order, "UNKNOWN" first.
std::vector<std::string> names_of(CodeTable table);

}  // namespace korvanta_sim

#endif
