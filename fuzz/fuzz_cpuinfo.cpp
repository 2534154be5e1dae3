// /proc/cpuinfo as the kernel might (or might not) write it: the line reader
// must hand over every line whole, and the parser take the serial from a line
// that names one and nothing from any other.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cpu_serial.h"
#include "fuzz_support.h"
#include "text_file.h"

using namespace korvanta_hardware;
using korvanta_fuzz::check;

namespace {

// Lines as the reader promises them: split at each line feed, a last line
// without one counts, a line longer than kMaxLineLength does not.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t newline; (newline = text.find('\n', start)) != std::string::npos; start = newline + 1)
        lines.push_back(text.substr(start, newline - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& line) { return line.size() > kMaxLineLength; }),
                lines.end());
    return lines;
}

void check_line(const std::string& line) {
    std::optional<std::string> serial = cpu_serial_from_line(line);
    size_t colon = line.find(':');
    bool names_one = line.find("Serial") != std::string::npos && colon != std::string::npos;
    check(serial.has_value() == names_one, "a serial comes from exactly the lines with \"Serial\" and a colon", line);
    if (!serial) return;
    std::string expected;
    for (char c : line.substr(colon + 1))
        if (!std::isspace(static_cast<unsigned char>(c))) expected += c;
    check(*serial == expected, "the serial is what follows the first colon, without white space", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static korvanta_fuzz::MemoryFile cpuinfo;
    const std::string text(reinterpret_cast<const char*>(data), size);
    cpuinfo.replace(text);

    std::vector<std::string> seen;
    LineReader reader(cpuinfo.path().c_str());
    check(reader.opened(), "an existing file opens");
    for (std::string_view line; reader.next(line);) seen.emplace_back(line);
    check(seen == lines_of(text), "every line arrives whole and in order", text);
    for (const std::string& line : seen) check_line(line);
    check_line(text);  // one line with line feeds inside, as a caller might pass it
    return 0;
}
