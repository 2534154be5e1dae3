// What every part of the system agrees an identity looks like, and the one
// prefix test the tools and the fixture share (std::string_view has none in C++17).
#ifndef KORVANTA_HARDWARE_IDENTITY_LIMITS_H
#define KORVANTA_HARDWARE_IDENTITY_LIMITS_H

#include <cstddef>
#include <string_view>

namespace korvanta_hardware {

// A robot identifier, hardware identifier or serial number: 32 characters
// (16 bytes in hexadecimal on an EEPROM).
inline constexpr size_t kIdentifierLength = 32;

// Board type, version and status codes are 16 bits wide.
inline constexpr unsigned int kMaxCode = 65535;

// True when text begins with prefix.
inline bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace korvanta_hardware

#endif
