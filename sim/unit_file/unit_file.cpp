#include "unit_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "code_names.h"
#include "identity_limits.h"
#include "korvanta_hardware_flat.h"
#include "unique_fd.h"

namespace korvanta_sim {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;  // keys as written, for people

using korvanta_hardware::code_of_name;
using korvanta_hardware::CodeTable;
using korvanta_hardware::kIdentifierLength;
using korvanta_hardware::kMaxCode;
using korvanta_hardware::names_of;

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

constexpr size_t kMaxUnitFile = 1 << 20;  // a whole cpuinfo text of a big machine fits many times

std::string holds_too_much(size_t limit, std::optional<off_t> size) {
    std::string allowed = " the " + std::to_string(limit) + " bytes allowed";
    return size ? "it holds " + std::to_string(*size) + " bytes, more than" + allowed : "it holds more than" + allowed;
}

// Reads the whole file at path into content, at most limit bytes of it, or
// returns false with the reason in error. A regular_only file must be a
// regular file, and nothing else is even waited for (a FIFO, /dev/zero);
// otherwise a pipe is read too, as a unit file given as <(...) is.
bool read_at_most(const fs::path& path, size_t limit, bool regular_only, std::string& content, std::string& error) {
    int flags = O_RDONLY | O_NOCTTY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0);
    korvanta_hardware::UniqueFd fd(::open(path.c_str(), flags));
    struct stat status;
    if (!fd || ::fstat(fd.get(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode) || (regular_only && !S_ISREG(status.st_mode))) {
        error = S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        return false;
    }
    if (S_ISREG(status.st_mode) && static_cast<uintmax_t>(status.st_size) > limit) {
        error = holds_too_much(limit, status.st_size);
        return false;
    }
    // One byte beyond the limit tells a file that grew meanwhile, or a pipe that holds more.
    content.assign(limit + 1, '\0');
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::read(fd.get(), &content[done], content.size() - done);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    content.resize(done);
    if (content.size() <= limit) return true;
    error = holds_too_much(limit, std::nullopt);
    return false;
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
    const Json* value = find(object, kEepromImageKey);
    if (value == nullptr) return true;
    if (unit.store != Store::kEeprom) return fail(error, kEepromImageKey, "only a unit with store \"eeprom\" has one");
    for (const char* key : kStoreKeys) {
        if (find(object, key) != nullptr)
            return fail(error, kEepromImageKey, std::string("give the image or the fields, not both (") + key + ")");
    }
    // Bytes, not a name: the unit as encode_unit() passed it on, its image read already.
    if (value->is_binary() && value->get_binary().size() <= kMaxEepromImage) {
        unit.eeprom_image = value->get_binary();
        return true;
    }
    if (!value->is_string()) return fail(error, kEepromImageKey, "must be a string");
    fs::path path = unit_dir / value->get<std::string>();
    std::string bytes, reason;
    if (!read_at_most(path, kMaxEepromImage, true, bytes, reason))
        return fail(error, kEepromImageKey, "cannot read " + path.string() + ": " + reason);
    unit.eeprom_image = std::vector<uint8_t>(bytes.begin(), bytes.end());
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

bool check_unit(const Json& object, const fs::path& unit_dir, Unit& unit, std::string& error) {
    unit = Unit{};
    return check_known_keys(object, error) && read_store(object, unit.store, error) &&
           check_description(object, error) && read_store_items(object, unit, error) &&
           read_image(object, unit_dir, unit, error) && read_host_items(object, unit, error);
}

template <typename AnyJson, typename T>
void put(AnyJson& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

void put_code(OrderedJson& object, const char* key, CodeTable table, const std::optional<uint16_t>& code,
              CodeStyle codes) {
    if (!code) return;
    const char* name = korvanta_hardware::name_of(table, *code);
    if (codes == CodeStyle::kNames && code_of_name(table, name) == *code) {
        object[key] = name;
    } else {
        object[key] = *code;
    }
}

}  // namespace

const char* store_name(Store store) {
    switch (store) {
        case Store::kEeprom:
            return kStoreEeprom;
        case Store::kFiles:
            return kStoreFiles;
        default:
            return kStoreNone;
    }
}

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
    std::string text;
    if (!read_at_most(path, kMaxUnitFile, false, text, error)) {
        error = "cannot read it: " + error;
        return false;
    }
    Json object;
    std::error_code ec;
    return parse(text, object, error) && check_unit(object, fs::absolute(path, ec).parent_path(), unit, error);
}

std::string unit_file_text(const Unit& unit, CodeStyle codes) {
    OrderedJson object = {{kStoreKey, store_name(unit.store)}};
    put(object, kUuidKey, unit.uuid);
    put(object, kHwUuidKey, unit.hw_uuid);
    put(object, kSerialKey, unit.serial);
    put_code(object, kBoardTypeKey, CodeTable::kBoardType, unit.board_type, codes);
    bool station = unit.board_type == uint16_t{BOARD_STATION};
    put_code(object, kRobotVersionKey, station ? CodeTable::kStationVersion : CodeTable::kRobotVersion,
             unit.robot_version, codes);
    put_code(object, kRobotStatusKey, CodeTable::kRobotStatus, unit.robot_status, codes);
    put(object, kMachineIdKey, unit.machine_id);
    if (unit.cpuinfo) {
        std::optional<std::string> serial = serial_of_cpuinfo(*unit.cpuinfo);
        object[serial ? kCpuSerialKey : kCpuinfoKey] = serial.value_or(*unit.cpuinfo);
    }
    // Identity files may hold any bytes; invalid UTF-8 must not cost the whole unit.
    return object.dump(2, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
}

std::string encode_unit(const Unit& unit) {
    Json object = {{kStoreKey, store_name(unit.store)}};
    put(object, kUuidKey, unit.uuid);
    put(object, kHwUuidKey, unit.hw_uuid);
    put(object, kSerialKey, unit.serial);
    put(object, kBoardTypeKey, unit.board_type);
    put(object, kRobotVersionKey, unit.robot_version);
    put(object, kRobotStatusKey, unit.robot_status);
    if (unit.eeprom_image) object[kEepromImageKey] = Json::binary(*unit.eeprom_image);
    put(object, kMachineIdKey, unit.machine_id);
    put(object, kCpuinfoKey, unit.cpuinfo);
    std::vector<uint8_t> bytes = Json::to_cbor(object);
    return std::string(bytes.begin(), bytes.end());
}

bool decode_unit(const std::string& bytes, Unit& unit, std::string& error) {
    Json object = Json::from_cbor(bytes, true, false);
    if (!object.is_discarded()) return check_unit(object, fs::path(), unit, error);
    error = "the unit passed on is damaged";
    return false;
}

}  // namespace korvanta_sim
