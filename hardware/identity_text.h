// Rules shared by both stores for the 32-character identity texts.
#ifndef KORVANTA_HARDWARE_IDENTITY_TEXT_H
#define KORVANTA_HARDWARE_IDENTITY_TEXT_H

#include <string>

namespace korvanta_hardware {

// The placeholder for an identity text that has no value.
inline const char kNoValue[] = "null";

// Usable: not empty, not "null", and not one character repeated (an erased or
// zeroed field).
bool is_usable_identifier(const std::string& text);

}  // namespace korvanta_hardware

#endif
