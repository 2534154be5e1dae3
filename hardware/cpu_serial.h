// The CPU serial number as the kernel reports it in /proc/cpuinfo. The parser
// lives with its user in information.cpp; the fuzzer calls it too.
#ifndef KORVANTA_HARDWARE_CPU_SERIAL_H
#define KORVANTA_HARDWARE_CPU_SERIAL_H

#include <optional>
#include <string>
#include <string_view>

namespace korvanta_hardware {

// For a line that contains "Serial" and a colon: everything after the line's
// first colon with every whitespace character removed. Nothing otherwise.
std::optional<std::string> cpu_serial_from_line(std::string_view line);

}  // namespace korvanta_hardware

#endif
