#include "code_names.h"

#include <iterator>

namespace korvanta_hardware {
namespace {

const char kUnknown[] = "UNKNOWN";

const CodeName kRobotStatusNames[] = {
    {0, kUnknown},       {1, "MACHINE_TEST"}, {2, "TESTING"}, {3, "QA_TEST"}, {4, "PRE_RELEASE"},
    {5, "RELEASE"},      {6, "PROD_0"},       {7, "PROD_1"},  {8, "PROD_2"},
};

// Simulation boards have a name but no enumerator.
const CodeName kBoardTypeNames[] = {
    {0, kUnknown}, {1, "ROBOT_BOARD"}, {2, "AI_BOARD"}, {3, "STATION_BOARD"}, {4, "SIMULATION_BOARD"},
};

const CodeName kRobotVersionNames[] = {
    {0xFFFF, kUnknown},     {1, "KORVANTA_DVT1"}, {2, "KORVANTA_DVT2"}, {10, "KORVANTA_PRO_EVT"},
    {20, "TALVORN_EVT"},    {21, "TALVORN_DVT"},  {22, "TALVORN_PVT"},
};

const CodeName kStationVersionNames[] = {
    {0xFFFF, kUnknown},
    {0, "STATION_VERSION_OLD"},
    {1, "STATION_VERSION_2024_930"},
};

}  // namespace

CodeNames entries_of(CodeTable table) {
    switch (table) {
        case CodeTable::kBoardType:
            return {std::begin(kBoardTypeNames), std::end(kBoardTypeNames)};
        case CodeTable::kRobotVersion:
            return {std::begin(kRobotVersionNames), std::end(kRobotVersionNames)};
        case CodeTable::kStationVersion:
            return {std::begin(kStationVersionNames), std::end(kStationVersionNames)};
        default:
            return {std::begin(kRobotStatusNames), std::end(kRobotStatusNames)};
    }
}

const char* name_of(CodeTable table, long code) {
    for (const CodeName& entry : entries_of(table))
        if (entry.code == code) return entry.name;
    return kUnknown;
}

}  // namespace korvanta_hardware
