// Names of the identity codes; every value outside a table is "UNKNOWN".
#ifndef KORVANTA_HARDWARE_CODE_NAMES_H
#define KORVANTA_HARDWARE_CODE_NAMES_H

namespace korvanta_hardware {

// Static texts that live as long as the library.
const char* robot_status_name(long code);
const char* board_type_name(long code);
const char* robot_version_name(long code);
const char* station_version_name(long code);

}  // namespace korvanta_hardware

#endif
