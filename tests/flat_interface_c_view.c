/* The flat header as a strict C99 compiler sees it: every enumeration's size
 * and every enumerator, in declaration order. test_flat_interface compares this
 * with what C++ sees, so C callers and the library agree on the ABI. */
#include "korvanta_hardware_flat.h"

const unsigned long korvanta_flat_c_view[] = {
    sizeof(ROBOT_STATUS_ENUM), sizeof(BOARD_TYPE_ENUM), sizeof(ROBOT_VERSION_ENUM), sizeof(STATION_VERSION_ENUM),
    sizeof(bool),

    STATUS_UNKNOWN, STATUS_MACHINE_TEST, STATUS_TESTING, STATUS_QA_TEST, STATUS_PRE_RELEASE, STATUS_RELEASE,
    STATUS_PROD_0, STATUS_PROD_1, STATUS_PROD_2,

    BOARD_TYPE_UNKNOWN, BOARD_ROBOT, BOARD_AI, BOARD_STATION,

    ROBOT_VERSION_UNKNOWN, ROBOT_VERSION_KORVANTA_DVT1, ROBOT_VERSION_KORVANTA_DVT2, ROBOT_VERSION_KORVANTA_PRO_EVT,
    ROBOT_VERSION_TALVORN_EVT, ROBOT_VERSION_TALVORN_DVT, ROBOT_VERSION_TALVORN_PVT,

    STATION_VERSION_UNKNOWN, STATION_VERSION_OLD, STATION_VERSION_2024_930,
};

const unsigned long korvanta_flat_c_view_length = sizeof korvanta_flat_c_view / sizeof korvanta_flat_c_view[0];
