#include "cpu_serial.h"

#include <cctype>
#include <cstdio>

#include "korvanta_hardware.h"
#include "text_file.h"

namespace korvanta_hardware {

std::optional<std::string> cpu_serial_from_line(const std::string& line) {
    if (line.find("Serial") == std::string::npos) return std::nullopt;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string value;
    for (size_t i = colon + 1; i < line.size(); ++i)
        if (!std::isspace(static_cast<unsigned char>(line[i]))) value += line[i];
    return value;
}

// The last matching line wins, so the scan goes through the whole file.
void KorvantaHardwareInformation::ReadCpuSerialNumberFromHost() {
    bool opened = for_each_line("/proc/cpuinfo", [this](const std::string& line) {
        if (std::optional<std::string> serial = cpu_serial_from_line(line)) cpu_serial_number_ = std::move(*serial);
    });
    if (!opened) std::fputs("failed to open /proc/cpuinfo\n", stderr);
}

}  // namespace korvanta_hardware
