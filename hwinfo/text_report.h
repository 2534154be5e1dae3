// The identity for people: one aligned "label: value" line per item.
#ifndef KORVANTA_HWINFO_TEXT_REPORT_H
#define KORVANTA_HWINFO_TEXT_REPORT_H

#include <string>

#include "identity.h"

namespace hwinfo {

inline constexpr char kUuidLabel[] = "robot identifier";
inline constexpr char kSerialLabel[] = "serial number";
inline constexpr char kStatusLabel[] = "status";

// "label:" padded so that every value starts in the same column; ends with a line feed.
std::string format_row(const std::string& label, const std::string& value);
// "5 RELEASE"
std::string format_code(const NamedCode& code);
std::string format_text(const Identity& identity);

}  // namespace hwinfo

#endif
