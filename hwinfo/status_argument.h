// A robot status as the user gives it: a decimal code or a name from the
// library's status table.
#ifndef KORVANTA_HWINFO_STATUS_ARGUMENT_H
#define KORVANTA_HWINFO_STATUS_ARGUMENT_H

#include <optional>
#include <string>
#include <vector>

namespace hwinfo {

// "0".."65535", or a name such as "RELEASE" (exact case).
std::optional<unsigned short> parse_status(const std::string& text);

// The names parse_status accepts, in code order.
std::vector<std::string> status_names();

}  // namespace hwinfo

#endif
