// Rules for the 32-character identity texts, shared by both stores and by the
// tools that tell which value a store used.
#ifndef KORVANTA_HARDWARE_IDENTITY_TEXT_H
#define KORVANTA_HARDWARE_IDENTITY_TEXT_H

#include <string>

namespace korvanta_hardware {

// The placeholder for an identity text that has no value.
inline const char kNoValue[] = "null";

// Usable: not empty, not "null", and not one character repeated (an erased or
// zeroed field).
inline bool is_usable_identifier(const std::string& text) {
    if (text.empty() || text == kNoValue) return false;
    return text.find_first_not_of(text.front()) != std::string::npos;
}

}  // namespace korvanta_hardware

#endif
