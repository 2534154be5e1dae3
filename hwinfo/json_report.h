// The identity for scripts: one JSON object whose keys never change. Codes are
// numbers, names and texts are strings.
#ifndef KORVANTA_HWINFO_JSON_REPORT_H
#define KORVANTA_HWINFO_JSON_REPORT_H

#include <string>

#include "identity.h"

namespace hwinfo {

// Ends with a line feed.
std::string format_json(const Identity& identity);

}  // namespace hwinfo

#endif
