#include "cpu_serial.h"

#include <cctype>
#include <cstdio>

#include "korvanta_hardware.h"
#include "text_file.h"

namespace korvanta_hardware {

std::optional<std::string> cpu_serial_from_line(std::string_view line) {
    if (line.find("Serial") == std::string_view::npos) return std::nullopt;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(colon + 1);
    std::string value;
    value.reserve(rest.size());
    for (char c : rest)
        if (!std::isspace(static_cast<unsigned char>(c))) value += c;
    return value;
}

// The last matching line wins, so the scan goes through the whole file. A line
// longer than kMaxLineLength is skipped: no serial is that long.
void KorvantaHardwareInformation::ReadCpuSerialNumberFromHost() {
    LineReader cpuinfo("/proc/cpuinfo");
    if (!cpuinfo.opened()) {
        std::fputs("failed to open /proc/cpuinfo\n", stderr);
        return;
    }
    for (std::string_view line; cpuinfo.next(line);)
        if (std::optional<std::string> serial = cpu_serial_from_line(line)) cpu_serial_number_ = std::move(*serial);
}

}  // namespace korvanta_hardware
