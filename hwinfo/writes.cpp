// set-uuid, set-serial and set-status, and the status argument they take.
#include <cstdio>
#include <optional>
#include <string>

#include "code_names.h"
#include "hwinfo.h"
#include "identity_limits.h"
#include "library_messages.h"

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

const char* item_label(Action action) {
    switch (action) {
        case Action::kSetUuid:
            return kUuidLabel;
        case Action::kSetSerial:
            return kSerialLabel;
        default:
            return kStatusLabel;
    }
}

bool write_item(KorvantaHardwareInformation* h, const Command& command) {
    switch (command.action) {
        case Action::kSetUuid:
            return KorvantaHardwareInformation_writeUuid(h, command.value.c_str());
        case Action::kSetSerial:
            return KorvantaHardwareInformation_writeSerial(h, command.value.c_str());
        default:
            return KorvantaHardwareInformation_writeRobotStatus(h, command.status);
    }
}

bool write_through_library(const Command& command) {
    Handle handle = open_handle();
    bool written = false;
    with_library_messages([&] { written = write_item(handle.get(), command); });
    return written;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// An EEPROM keeps raw bytes and reads them back as lowercase hexadecimal, so
// "ABCD..." written comes back as "abcd...": the same value.
bool same_text_ignoring_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool holds_written_value(const Identity& stored, const Command& command) {
    switch (command.action) {
        case Action::kSetUuid:
            return same_text_ignoring_case(stored.uuid, command.value);
        case Action::kSetSerial:
            return same_text_ignoring_case(stored.serial, command.value);
        default:
            return stored.status.code == command.status;
    }
}

std::string stored_value(const Identity& stored, Action action) {
    switch (action) {
        case Action::kSetUuid:
            return stored.uuid;
        case Action::kSetSerial:
            return stored.serial;
        default:
            return format_code(stored.status);
    }
}

}  // namespace

std::optional<unsigned short> parse_status(const std::string& text) {
    if (std::optional<unsigned short> code = parse_code(text)) return code;
    return korvanta_hardware::code_of_name(korvanta_hardware::CodeTable::kRobotStatus, text);
}

int run_write(const Command& command) {
    bool written = write_through_library(command);
    Identity stored = read_identity();
    std::fputs(format_row(item_label(command.action), stored_value(stored, command.action)).c_str(), stdout);
    std::fflush(stdout);
    if (!written) {
        std::fprintf(stderr, "korvanta-hwinfo: the %s was not written\n", item_label(command.action));
        return kExitFailed;
    }
    if (!holds_written_value(stored, command)) {
        std::fprintf(stderr, "korvanta-hwinfo: the %s read back is not the one written\n", item_label(command.action));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace hwinfo
