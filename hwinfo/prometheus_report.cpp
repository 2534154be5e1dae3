#include "prometheus_report.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace hwinfo {
namespace {

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

}  // namespace hwinfo
