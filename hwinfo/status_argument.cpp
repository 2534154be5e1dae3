#include "status_argument.h"

#include "korvanta_hardware_flat.h"

namespace hwinfo {
namespace {

constexpr unsigned long kMaxCode = 65535;
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

std::vector<std::string> status_names() {
    // The names come from the library, so they always match what it prints.
    std::vector<std::string> names;
    for (unsigned int code = STATUS_UNKNOWN; code <= STATUS_PROD_2; ++code) {
        names.emplace_back(KorvantaHardwareInformation_enum2str_robot_status(code));
    }
    return names;
}

std::optional<unsigned short> parse_status(const std::string& text) {
    if (std::optional<unsigned short> code = parse_code(text)) return code;
    for (unsigned int code = STATUS_UNKNOWN; code <= STATUS_PROD_2; ++code) {
        if (text == KorvantaHardwareInformation_enum2str_robot_status(code)) return static_cast<unsigned short>(code);
    }
    return std::nullopt;
}

}  // namespace hwinfo
