#include "text_report.h"

namespace hwinfo {
namespace {

// Wide enough for the longest label, "hardware identifier:", and a blank.
constexpr size_t kValueColumn = 21;

}  // namespace

std::string format_row(const std::string& label, const std::string& value) {
    std::string row = label + ":";
    if (row.size() < kValueColumn) row.append(kValueColumn - row.size(), ' ');
    return row + value + "\n";
}

std::string format_code(const NamedCode& code) { return std::to_string(code.code) + " " + code.name; }

std::string format_text(const Identity& identity) {
    return format_row(kUuidLabel, identity.uuid) + format_row("hardware identifier", identity.hw_uuid) +
           format_row(kSerialLabel, identity.serial) + format_row("cpu serial", identity.cpu_serial) +
           format_row("board type", format_code(identity.board_type)) +
           format_row("version", format_code(identity.version)) +
           format_row(kStatusLabel, format_code(identity.status)) + format_row("source", identity.source);
}

}  // namespace hwinfo
