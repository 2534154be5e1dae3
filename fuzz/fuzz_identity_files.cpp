// Whatever an identity file holds, the readers take its first line: a code is
// the low 16 bits of its leading number, an identifier the line itself when it
// is exactly 32 characters long and "null" otherwise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "korvanta_hardware.h"

using korvanta_hardware::HardwareFile;
using korvanta_fuzz::check;

namespace {

// The low 16 bits of the decimal number that leads text, worked out digit by
// digit rather than with the C library's conversion the reader uses: blanks,
// one sign, digits; beyond the 64-bit range the number is that range's limit.
int low_16_bits_of_leading_number(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\n\v\f\r");
    bool negative = i != std::string::npos && text[i] == '-';
    if (i != std::string::npos && (text[i] == '-' || text[i] == '+')) ++i;
    const uint64_t past_both_limits = (uint64_t{1} << 63) + 1;
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        magnitude = magnitude > past_both_limits / 10 ? past_both_limits
                                                       : std::min(magnitude * 10 + digit, past_both_limits);
    }
    magnitude = std::min(magnitude, negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1);
    return static_cast<int>((negative ? 0 - magnitude : magnitude) & 0xFFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static korvanta_fuzz::MemoryFile file;
    const std::string content(reinterpret_cast<const char*>(data), size);
    file.replace(content);
    const std::string first_line = content.substr(0, content.find('\n'));

    int code = HardwareFile::readCodeFromFile(file.path());
    check(code == low_16_bits_of_leading_number(first_line.substr(0, first_line.find('\0'))),
          "a code is the low 16 bits of the first line's leading number", first_line);

    std::string identifier = HardwareFile::readUuidFromFile(file.path(), 16);
    check(identifier == (first_line.size() == 32 ? first_line : "null"),
          "an identifier is a first line of exactly 32 characters, else \"null\"", first_line);
    return 0;
}
