// The names of the identity codes, kept once: the library names codes with
// them, and the tools take names back to codes with them. Every value outside
// a table is "UNKNOWN".
#ifndef KORVANTA_HARDWARE_CODE_NAMES_H
#define KORVANTA_HARDWARE_CODE_NAMES_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvanta_hardware {

enum class CodeTable { kRobotStatus, kBoardType, kRobotVersion, kStationVersion };

struct CodeName {
    long code;
    const char* name;  // static
};

struct CodeNames {
    const CodeName* first;
    const CodeName* last;
    const CodeName* begin() const { return first; }
    const CodeName* end() const { return last; }
};

// The table's entries: "UNKNOWN" first, then the known codes in code order.
CodeNames entries_of(CodeTable table);

// A static text that lives as long as the program.
const char* name_of(CodeTable table, long code);

// The tools' side is inline: the library never compiles it, nor the standard
// templates it instantiates, which the shared library would export.

// The code named `name` ("RELEASE" gives 5). "UNKNOWN" gives the table's
// unknown value: 0, or 65535 for the two version tables.
inline std::optional<uint16_t> code_of_name(CodeTable table, const std::string& name) {
    for (const CodeName& entry : entries_of(table))
        if (name == entry.name) return static_cast<uint16_t>(entry.code);
    return std::nullopt;
}

// The table's names in code order, "UNKNOWN" first.
inline std::vector<std::string> names_of(CodeTable table) {
    std::vector<std::string> names;
    for (const CodeName& entry : entries_of(table)) names.emplace_back(entry.name);
    return names;
}

}  // namespace korvanta_hardware

#endif
