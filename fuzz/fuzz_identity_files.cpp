// Whatever an identity file holds, the readers take its first line: a code is
// the low 16 bits of its leading number, an identifier the line itself when it
// is exactly 32 characters long and "null" otherwise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "korvanta_hardware.h"

using korvanta_hardware::HardwareFile;
using korvanta_fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static korvanta_fuzz::MemoryFile file;
    const std::string content(reinterpret_cast<const char*>(data), size);
    file.replace(content);
    const std::string first_line = content.substr(0, content.find('\n'));

    int code = HardwareFile::readCodeFromFile(file.path());
    long number = std::strtol(first_line.c_str(), nullptr, 10);
    check(code == static_cast<int>(static_cast<unsigned long>(number) & 0xFFFF),
          "a code is the low 16 bits of the first line's leading number", first_line);

    std::string identifier = HardwareFile::readUuidFromFile(file.path(), 16);
    check(identifier == (first_line.size() == 32 ? first_line : "null"),
          "an identifier is a first line of exactly 32 characters, else \"null\"", first_line);
    return 0;
}
