#include "status_argument.h"

#include "code_names.h"
#include "identity_limits.h"

namespace hwinfo {
namespace {

using korvanta_hardware::kMaxCode;

constexpr size_t kMaxDigits = 5;

std::optional<unsigned short> parse_code(const std::string& text) {
    if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
    unsigned long code = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        code = code * 10 + static_cast<unsigned long>(c - '0');
    }
    if (code > kMaxCode) return std::nullopt;
    return static_cast<unsigned short>(code);
}

}  // namespace

// The library's own table, so the names always match what it prints.
std::vector<std::string> status_names() { return korvanta_hardware::names_of(korvanta_hardware::CodeTable::kRobotStatus); }

std::optional<unsigned short> parse_status(const std::string& text) {
    if (std::optional<unsigned short> code = parse_code(text)) return code;
    return korvanta_hardware::code_of_name(korvanta_hardware::CodeTable::kRobotStatus, text);
}

}  // namespace hwinfo
