#include "korvanta_sim_unit_file.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "korvanta_hardware_flat.h"
#include "korvanta_sim_code_names.h"
#include "simulated_unit.h"

namespace korvanta_sim {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr size_t kIdentifierLength = 32;
constexpr uint64_t kMaxCode = 65535;
constexpr char kCpuSerialLinePrefix[] = "Serial\t\t: ";

constexpr const char* kKnownKeys[] = {
    kStoreKey,       kUuidKey,        kHwUuidKey,    kSerialKey,    kBoardTypeKey, kRobotVersionKey,
    kRobotStatusKey, kEepromImageKey, kMachineIdKey, kCpuSerialKey, kCpuinfoKey,   kDescriptionKey,
};

// The six items that live in the identity store.
constexpr const char* kStoreKeys[] = {
    kUuidKey, kHwUuidKey, kSerialKey, kBoardTypeKey, kRobotVersionKey, kRobotStatusKey,
};

bool fail(std::string& error, const std::string& key, const std::string& reason) {
    error = key + ": " + reason;
    return false;
}

std::string in_quotes(const std::string& text) { return "\"" + text + "\""; }

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

const Json* find(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// A readable regular file, whole; errno says why not.
std::optional<std::string> read_regular_file(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        errno = EISDIR;
        return std::nullopt;
    }
    errno = 0;
    return read_file(path);
}

bool is_hex_digit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool has_space(const std::string& text) {
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

bool check_known_keys(const Json& object, std::string& error) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : kKnownKeys) known = known || item.key() == key;
        if (!known) {
            std::vector<std::string> keys(std::begin(kKnownKeys), std::end(kKnownKeys));
            return fail(error, item.key(), "unknown key (known: " + joined(keys) + ")");
        }
    }
    return true;
}

bool read_string(const Json& object, const char* key, std::optional<std::string>& out, std::string& error) {
    const Json* value = find(object, key);
    if (value == nullptr) return true;
    if (!value->is_string()) return fail(error, key, "must be a string");
    out = value->get<std::string>();
    return true;
}

bool check_description(const Json& object, std::string& error) {
    std::optional<std::string> ignored;
    return read_string(object, kDescriptionKey, ignored, error);
}

bool read_store(const Json& object, Store& store, std::string& error) {
    std::optional<std::string> name;
    if (!read_string(object, kStoreKey, name, error)) return false;
    if (!name) return fail(error, kStoreKey, "missing: say \"eeprom\", \"files\" or \"none\"");
    if (*name == kStoreEeprom) {
        store = Store::kEeprom;
    } else if (*name == kStoreFiles) {
        store = Store::kFiles;
    } else if (*name == kStoreNone) {
        store = Store::kNone;
    } else {
        return fail(error, kStoreKey, in_quotes(*name) + " is not \"eeprom\", \"files\" or \"none\"");
    }
    return true;
}

// The EEPROM keeps 16 raw bytes, so only hexadecimal text fits; a file keeps
// any 32 characters on its first line.
bool read_identifier(const Json& object, const char* key, bool hex, std::optional<std::string>& out,
                     std::string& error) {
    if (!read_string(object, key, out, error)) return false;
    if (!out) return true;
    const std::string& text = *out;
    if (text.size() != kIdentifierLength)
        return fail(error, key, in_quotes(text) + " has " + std::to_string(text.size()) + " characters, not 32");
    for (char c : text) {
        if (hex && !is_hex_digit(c)) return fail(error, key, in_quotes(text) + " is not 32 hexadecimal digits");
        if (c == '\n') return fail(error, key, "must not hold a line feed");
    }
    return true;
}

bool read_code(const Json& object, const char* key, CodeTable table, std::optional<uint16_t>& out, std::string& error) {
    const Json* value = find(object, key);
    if (value == nullptr) return true;
    // JSON keeps unsigned numbers in 64 bits; unsigned long would cut them on 32-bit targets.
    if (value->is_number_unsigned() && value->get<uint64_t>() <= kMaxCode) {
        out = static_cast<uint16_t>(value->get<uint64_t>());
        return true;
    }
    if (!value->is_string()) return fail(error, key, "must be a code from 0 to 65535 or a name");
    const std::string& name = value->get_ref<const std::string&>();
    out = code_of_name(table, name);
    if (out) return true;
    std::string which = table == CodeTable::kStationVersion ? "station version" : "name";
    return fail(error, key, "no " + which + " " + in_quotes(name) + " (names: " + joined(names_of(table)) + ")");
}

bool read_codes(const Json& object, Unit& unit, std::string& error) {
    if (!read_code(object, kBoardTypeKey, CodeTable::kBoardType, unit.board_type, error)) return false;
    // A station keeps its own revision in the version field, named from the station table.
    bool station = unit.board_type == uint16_t{BOARD_STATION};
    CodeTable versions = station ? CodeTable::kStationVersion : CodeTable::kRobotVersion;
    return read_code(object, kRobotVersionKey, versions, unit.robot_version, error) &&
           read_code(object, kRobotStatusKey, CodeTable::kRobotStatus, unit.robot_status, error);
}

bool read_store_items(const Json& object, Unit& unit, std::string& error) {
    for (const char* key : kStoreKeys) {
        if (unit.store == Store::kNone && find(object, key) != nullptr)
            return fail(error, key, "a unit with store \"none\" has nowhere to keep it; say \"eeprom\" or \"files\"");
    }
    bool hex = unit.store == Store::kEeprom;
    return read_identifier(object, kUuidKey, hex, unit.uuid, error) &&
           read_identifier(object, kHwUuidKey, hex, unit.hw_uuid, error) &&
           read_identifier(object, kSerialKey, hex, unit.serial, error) && read_codes(object, unit, error);
}

bool read_image(const Json& object, const fs::path& unit_dir, Unit& unit, std::string& error) {
    std::optional<std::string> name;
    if (!read_string(object, kEepromImageKey, name, error)) return false;
    if (!name) return true;
    if (unit.store != Store::kEeprom) return fail(error, kEepromImageKey, "only a unit with store \"eeprom\" has one");
    for (const char* key : kStoreKeys) {
        if (find(object, key) != nullptr)
            return fail(error, kEepromImageKey, std::string("give the image or the fields, not both (") + key + ")");
    }
    fs::path path = unit_dir / *name;
    std::optional<std::string> bytes = read_regular_file(path);
    if (!bytes) return fail(error, kEepromImageKey, "cannot read " + path.string() + ": " + std::strerror(errno));
    if (bytes->size() > kMaxEepromImage)
        return fail(error, kEepromImageKey, path.string() + " holds " + std::to_string(bytes->size()) +
                                                " bytes, more than an EEPROM's 65536");
    unit.eeprom_image = std::vector<uint8_t>(bytes->begin(), bytes->end());
    return true;
}

bool read_host_items(const Json& object, Unit& unit, std::string& error) {
    if (!read_identifier(object, kMachineIdKey, false, unit.machine_id, error)) return false;
    std::optional<std::string> serial;
    if (!read_string(object, kCpuSerialKey, serial, error) || !read_string(object, kCpuinfoKey, unit.cpuinfo, error))
        return false;
    if (!serial) return true;
    if (unit.cpuinfo) return fail(error, kCpuSerialKey, "give cpu_serial_number or cpuinfo, not both");
    // The library drops every blank of the value, so one would not come back.
    if (serial->empty() || has_space(*serial)) return fail(error, kCpuSerialKey, "must be non-empty, without blanks");
    unit.cpuinfo = cpuinfo_for_serial(*serial);
    return true;
}

bool parse(const std::string& text, Json& object, std::string& error) {
    try {
        object = Json::parse(text);
    } catch (const Json::parse_error& e) {
        // Drop the library's "[json.exception.parse_error.101] " tag; keep where and what.
        std::string what = e.what();
        size_t tag_end = what.find("] ");
        error = "not valid JSON: " + (tag_end == std::string::npos ? what : what.substr(tag_end + 2));
        return false;
    }
    if (object.is_object()) return true;
    error = "must hold one JSON object";
    return false;
}

}  // namespace

std::string cpuinfo_for_serial(const std::string& serial) { return kCpuSerialLinePrefix + serial + "\n"; }

std::optional<std::string> serial_of_cpuinfo(const std::string& cpuinfo) {
    std::string prefix = kCpuSerialLinePrefix;
    if (cpuinfo.size() <= prefix.size() + 1 || cpuinfo.compare(0, prefix.size(), prefix) != 0 || cpuinfo.back() != '\n')
        return std::nullopt;
    std::string serial = cpuinfo.substr(prefix.size(), cpuinfo.size() - prefix.size() - 1);
    if (has_space(serial)) return std::nullopt;
    return serial;
}

bool load_unit(const std::string& path, Unit& unit, std::string& error) {
    unit = Unit{};
    std::optional<std::string> text = read_regular_file(path);
    if (!text) {
        error = std::string("cannot read it: ") + std::strerror(errno);
        return false;
    }
    Json object;
    std::error_code ec;
    fs::path unit_dir = fs::absolute(path, ec).parent_path();
    return parse(*text, object, error) && check_known_keys(object, error) && read_store(object, unit.store, error) &&
           check_description(object, error) && read_store_items(object, unit, error) &&
           read_image(object, unit_dir, unit, error) && read_host_items(object, unit, error);
}

}  // namespace korvanta_sim
