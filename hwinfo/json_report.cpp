#include "json_report.h"

#include <nlohmann/json.hpp>

namespace hwinfo {

std::string format_json(const Identity& identity) {
    // Insertion order, so the object reads in the same order as the text report.
    nlohmann::ordered_json object = {
        {"uuid", identity.uuid},
        {"hw_uuid", identity.hw_uuid},
        {"serial", identity.serial},
        {"cpu_serial_number", identity.cpu_serial},
        {"board_type", identity.board_type.code},
        {"board_type_name", identity.board_type.name},
        {"robot_version", identity.version.code},
        {"robot_version_name", identity.version.name},
        {"robot_status", identity.status.code},
        {"robot_status_name", identity.status.name},
        {"source", identity.source},
    };
    // Identity files may hold any bytes; invalid UTF-8 must not cost the whole report.
    return object.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace hwinfo
