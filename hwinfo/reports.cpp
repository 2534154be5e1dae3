// The identity as the library reads it, and the reports made of it: text for
// people, JSON for scripts, Prometheus' text format for monitoring, and the
// report file that node_exporter's textfile collector reads.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "atomic_file.h"
#include "hwinfo.h"
#include "identity_text.h"
#include "korvanta_hardware.h"
#include "library_messages.h"
#include "unique_fd.h"

namespace hwinfo {
namespace {

// --- Reading the identity

// A file that is there but cannot be read still counts: the unit has an identity
// this process may not see, which is not the same as having none.
bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool any_identity_file() {
    using namespace korvanta_hardware;
    for (const std::string* path : {&ROBOT_ID_PATH, &HW_UUID_PATH, &ROBOT_SN_PATH, &BOARD_TYPE_CODE_PATH,
                                    &ROBOT_VERSION_CODE_PATH, &ROBOT_STATUS_CODE_PATH}) {
        if (exists(*path)) return true;
    }
    return false;
}

std::string source_of_identity(const std::string& eeprom) {
    if (!eeprom.empty()) return eeprom;
    return any_identity_file() ? kIdentityFilesSource : kNoSource;
}

// Either store says this, and only this, when its stand-in took the place of
// an identifier that is not usable.
constexpr char kStandInMessage[] = "uuid replaced by hw_uuid";

bool said(const std::vector<std::string>& messages, const char* text) {
    for (const std::string& message : messages) {
        if (message.find(text) != std::string::npos) return true;
    }
    return false;
}

// Told by the value and the library's messages, so the store is read only once.
const char* uuid_source_of(const std::string& uuid, bool on_eeprom, const std::vector<std::string>& messages) {
    if (!korvanta_hardware::is_usable_identifier(uuid)) return kUuidFromNowhere;
    if (said(messages, kStandInMessage)) return on_eeprom ? kUuidFromHwUuid : kUuidFromMachineId;
    return on_eeprom ? kUuidFromEeprom : kUuidFromRobotId;
}

// --- The text report

// Wide enough for the longest label, "hardware identifier:", and a blank.
constexpr size_t kValueColumn = 21;

// --- The Prometheus report

// Length of the valid UTF-8 sequence that starts at text[at], or 0.
size_t utf8_sequence(const std::string& text, size_t at) {
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};  // shorter forms are overlong
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    uint32_t code_point = length == 1 ? lead : lead & (0x7fu >> length);
    for (size_t i = at + 1; i < at + length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
        code_point = (code_point << 6) | (byte(i) & 0x3f);
    }
    bool surrogate = code_point >= 0xd800 && code_point <= 0xdfff;
    return code_point < kSmallest[length] || code_point > 0x10ffff || surrogate ? 0 : length;
}

// A label value as the format wants it: UTF-8 (a bad byte becomes U+FFFD, as in
// the JSON report), with backslash, double quote and line feed escaped. The
// library's "null" becomes the empty value, which Prometheus reads as "no value".
std::string label_value(const std::string& text) {
    std::string value;
    if (text == "null") return value;
    for (size_t at = 0; at < text.size();) {
        size_t length = utf8_sequence(text, at);
        if (length == 0) {
            value += "\xef\xbf\xbd";
            ++at;
            continue;
        }
        char c = text[at];
        if (c == '\\') value += "\\\\";
        else if (c == '"') value += "\\\"";
        else if (c == '\n') value += "\\n";
        else value.append(text, at, length);
        at += length;
    }
    return value;
}

std::string metric_header(const std::string& name, const std::string& help) {
    return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

std::string info_metric(const Identity& identity) {
    const std::vector<std::pair<const char*, const std::string&>> labels = {
        {"robot_uuid", identity.uuid},
        {"hw_uuid", identity.hw_uuid},
        {"serial", identity.serial},
        {"cpu_serial", identity.cpu_serial},
        {"board_type", identity.board_type.name},
        {"robot_version", identity.version.name},
        {"robot_status", identity.status.name},
        {"source", identity.source},
        {"robot_uuid_source", identity.uuid_source},
    };
    std::string sample = "korvanta_hardware_info{";
    for (const auto& [name, text] : labels) {
        if (sample.back() != '{') sample += ",";
        sample += std::string(name) + "=\"" + label_value(text) + "\"";
    }
    return metric_header("korvanta_hardware_info",
                         "Identity of this Korvanta unit as korvanta-hwinfo reads it; an empty label has no value.") +
           sample + "} 1\n";
}

std::string code_gauge(const std::string& name, const std::string& help, const NamedCode& code) {
    return metric_header(name, help) + name + " " + std::to_string(code.code) + "\n";
}

}  // namespace

Handle open_handle(std::vector<std::string>* messages) {
    Handle handle;
    std::vector<std::string> printed =
        with_library_messages([&handle] { handle.reset(KorvantaHardwareInformation_create()); });
    if (messages) *messages = std::move(printed);
    return handle;
}

bool eeprom_readable() {
    std::string path = KorvantaHardwareInformation_get_eeprom_path();
    if (path.empty()) return true;
    // Non-blocking: a special file in its place must not hang the tool here; a lease is waited out.
    korvanta_hardware::UniqueFd fd =
        korvanta_hardware::open_nonblocking_at(AT_FDCWD, path.c_str(), O_RDONLY | O_NOCTTY);
    int error = errno;
    if (fd) {
        struct stat status;
        error = ::fstat(fd.get(), &status) == 0 && S_ISDIR(status.st_mode) ? EISDIR : 0;
    }
    if (error == 0) return true;
    std::fprintf(stderr,
                 "korvanta-hwinfo: cannot open the EEPROM %s: %s (reading the identity needs read access to it)\n",
                 path.c_str(), std::strerror(error));
    return false;
}

Identity read_identity(const KorvantaHardwareInformation* h, const std::vector<std::string>& messages) {
    const std::string eeprom = KorvantaHardwareInformation_get_eeprom_path();
    Identity identity;
    identity.uuid = KorvantaHardwareInformation_get_uuid(h);
    identity.hw_uuid = KorvantaHardwareInformation_get_hw_uuid(h);
    identity.serial = KorvantaHardwareInformation_get_robot_sn(h);
    identity.cpu_serial = KorvantaHardwareInformation_get_cpu_serial_number(h);
    identity.board_type = {KorvantaHardwareInformation_get_board_type_code(h),
                           KorvantaHardwareInformation_get_board_type(h)};
    identity.version = {KorvantaHardwareInformation_get_robot_version_code(h),
                        KorvantaHardwareInformation_get_robot_version(h)};
    identity.status = {KorvantaHardwareInformation_get_robot_status_code(h),
                       KorvantaHardwareInformation_get_robot_status(h)};
    identity.source = source_of_identity(eeprom);
    identity.uuid_source = uuid_source_of(identity.uuid, !eeprom.empty(), messages);
    return identity;
}

Identity read_identity() {
    std::vector<std::string> messages;
    Handle handle = open_handle(&messages);
    return read_identity(handle.get(), messages);
}

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
           format_row(kStatusLabel, format_code(identity.status)) + format_row("source", identity.source) +
           format_row("robot_uuid_source", identity.uuid_source);
}

std::string format_json(const Identity& identity) {
    // Insertion order, so the object reads in the same order as the text report.
    nlohmann::ordered_json object = {
        {"uuid", identity.uuid},
        {"hw_uuid", identity.hw_uuid},
        {"serial", identity.serial},
        {"cpu_serial_number", identity.cpu_serial},
        {"board_type", identity.board_type.code},
        {"board_type_name", identity.board_type.name},
        {"robot_version", identity.version.code},
        {"robot_version_name", identity.version.name},
        {"robot_status", identity.status.code},
        {"robot_status_name", identity.status.name},
        {"source", identity.source},
        {"robot_uuid_source", identity.uuid_source},
    };
    // Identity files may hold any bytes; invalid UTF-8 must not cost the whole report.
    return object.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string format_prometheus(const Identity& identity) {
    return info_metric(identity) +
           code_gauge("korvanta_hardware_board_type_code", "Board type code; 0 when it cannot be read.",
                      identity.board_type) +
           code_gauge("korvanta_hardware_robot_version_code",
                      "Robot version code, a station's version on a station board; 65535 when it cannot be read.",
                      identity.version) +
           code_gauge("korvanta_hardware_robot_status_code", "Robot status code; 0 when it cannot be read.",
                      identity.status);
}

// The library's own replacement: the same care for the mode, owner and links of
// an existing file, and the same in-place fallback where no temporary file can
// be made (a file bind-mounted into a container). Its temporary name starts with
// a dot and does not end in ".prom", so the collector never reads it.
int write_report_file(const std::string& path, const std::string& text) {
    errno = 0;
    const korvanta_hardware::ReplaceResult result = korvanta_hardware::replace_file(path, text);
    if (result == korvanta_hardware::ReplaceResult::kReplaced) return kExitOk;
    const std::string why = korvanta_hardware::replace_failure_reason(result, errno);
    std::fprintf(stderr, "korvanta-hwinfo: cannot write %s%s\n", path.c_str(), why.c_str());
    return kExitFailed;
}

}  // namespace hwinfo
