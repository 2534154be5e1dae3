// program: writes a unit file's identity into this unit's own store, for the
// factory's first programming and for carrying an identity onto a new board.
//
// Order of writes: the robot identifier is cleared first (when it holds one:
// erased on an EEPROM, emptied in its file) and written last, the other items
// in between, each only when it changes. A programming cut short therefore
// leaves no robot identifier while other items are programmed, and the next
// run says so; until then programs see the library's stand-in, never an
// identifier that looks finished.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "code_names.h"
#include "eeprom_layout.h"
#include "hwinfo.h"
#include "identity_text.h"
#include "korvanta_hardware.h"
#include "library_messages.h"
#include "text_file.h"
#include "unique_fd.h"
#include "unit_file.h"

namespace hwinfo {
namespace {

using korvanta_hardware::CodeTable;
using korvanta_hardware::EepromField;
using korvanta_hardware::HardwareFile;
using korvanta_sim::Store;
using korvanta_sim::Unit;

constexpr unsigned int kIdentifierBytes = korvanta_hardware::kEepromIdentifierBytes;

enum class Kind { kIdentifier, kCode };

struct Item {
    const char* label;  // in the reports
    Kind kind;
    std::optional<std::string> Unit::*text;  // an identifier's value in the unit file
    std::optional<uint16_t> Unit::*code;     // a code's
    std::string Identity::*read_text;        // and as the library reads them back
    NamedCode Identity::*read_code;
    CodeTable names;  // a version's on a station board come from the station table
    EepromField field;
    const std::string& path;  // the identity file
    bool identity;            // carried over by --identity-only
    bool factory;             // the board's own: changed only with --force
};

// In the order of writing; the robot identifier, last, is the one that tells a
// finished programming.
const Item kItems[] = {
    {"hardware identifier", Kind::kIdentifier, &Unit::hw_uuid, nullptr, &Identity::hw_uuid, nullptr,
     CodeTable::kBoardType, korvanta_hardware::kEepromHwUuid, korvanta_hardware::HW_UUID_PATH, false, true},
    {"board type", Kind::kCode, nullptr, &Unit::board_type, nullptr, &Identity::board_type, CodeTable::kBoardType,
     korvanta_hardware::kEepromBoardType, korvanta_hardware::BOARD_TYPE_CODE_PATH, false, true},
    {"version", Kind::kCode, nullptr, &Unit::robot_version, nullptr, &Identity::version, CodeTable::kRobotVersion,
     korvanta_hardware::kEepromRobotVersion, korvanta_hardware::ROBOT_VERSION_CODE_PATH, false, true},
    {kSerialLabel, Kind::kIdentifier, &Unit::serial, nullptr, &Identity::serial, nullptr, CodeTable::kBoardType,
     korvanta_hardware::kEepromRobotSn, korvanta_hardware::ROBOT_SN_PATH, true, false},
    {kStatusLabel, Kind::kCode, nullptr, &Unit::robot_status, nullptr, &Identity::status, CodeTable::kRobotStatus,
     korvanta_hardware::kEepromRobotStatus, korvanta_hardware::ROBOT_STATUS_CODE_PATH, true, false},
    {kUuidLabel, Kind::kIdentifier, &Unit::uuid, nullptr, &Identity::uuid, nullptr, CodeTable::kBoardType,
     korvanta_hardware::kEepromRobotUuid, korvanta_hardware::ROBOT_ID_PATH, true, false},
};
const Item& kBoardType = kItems[1];
const Item& kRobotUuid = kItems[5];

// An item as the store holds it: an identifier's text, a code in decimal.
struct Stored {
    bool programmed = false;  // not erased; the file exists
    std::string value;
};

std::string lowercase(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

std::string system_error(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// --- The two stores

class Target {
public:
    virtual ~Target() = default;
    virtual std::string name() const = 0;
    virtual Stored stored(const Item& item) const = 0;
    virtual bool write(const Item& item, const std::string& value, std::string& error) = 0;
    virtual bool erase(const Item& item, std::string& error) = 0;
};

// The identity block, read once whole; each field is then written with one
// positioned write of at most 16 bytes and read back.
class EepromTarget : public Target {
public:
    EepromTarget(const korvanta_hardware::EepromConfig_Def& config, bool writable)
        : path_(config.path), base_(config.base_offset), size_(config.size), writable_(writable) {}

    bool open(std::string& error) {
        if (uint64_t{base_} + korvanta_hardware::kEepromBlockSize > size_) {
            error = "the EEPROM " + path_ + " is smaller than the identity block";
            return false;
        }
        // A FIFO in its place fails at the first read instead of holding a dry run for ever.
        const int flags = (writable_ ? O_RDWR : O_RDONLY) | O_NOCTTY;
        fd_ = korvanta_hardware::open_nonblocking_at(AT_FDCWD, path_.c_str(), flags);
        if (!fd_) {
            error = system_error("cannot open the EEPROM " + path_, errno);
            return false;
        }
        block_.resize(korvanta_hardware::kEepromBlockSize);
        return read_at(0, block_.data(), block_.size(), error);
    }

    std::string name() const override { return "the EEPROM " + path_; }

    Stored stored(const Item& item) const override {
        const uint8_t* bytes = block_.data() + item.field.offset;
        Stored now;
        now.programmed = !korvanta_hardware::is_erased(bytes, item.field.size);
        now.value = item.kind == Kind::kCode
                        ? std::to_string(korvanta_hardware::little_endian_value(bytes, item.field.size))
                        : hex_text(bytes, item.field.size);
        return now;
    }

    bool write(const Item& item, const std::string& value, std::string& error) override {
        std::vector<uint8_t> bytes(item.field.size);
        if (item.kind == Kind::kCode) {
            korvanta_hardware::put_little_endian(static_cast<uint32_t>(std::stoul(value)), bytes.data(),
                                                 item.field.size);
        } else {
            bytes = korvanta_hardware::from_hex_text(value, item.field.size);
        }
        return put(item, bytes, error);
    }

    bool erase(const Item& item, std::string& error) override {
        return put(item, std::vector<uint8_t>(item.field.size, korvanta_hardware::kEepromErasedByte), error);
    }

private:
    static std::string hex_text(const uint8_t* bytes, size_t count) {
        std::string text(2 * count, '\0');
        std::memcpy(text.data(), bytes, count);
        korvanta_hardware::expand_to_hex_text(text);
        return text;
    }

    bool read_at(unsigned int offset, uint8_t* bytes, size_t count, std::string& error) const {
        for (size_t done = 0; done < count;) {
            ssize_t n = ::pread(fd_.get(), bytes + done, count - done, off_t{base_} + offset + done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n == 0 ? "the EEPROM " + path_ + " ends before the identity block does"
                               : system_error("cannot read the EEPROM " + path_, errno);
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool put(const Item& item, const std::vector<uint8_t>& bytes, std::string& error) {
        const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        errno = 0;  // a write that takes no byte sets none
        if (!korvanta_hardware::write_all_at(fd_.get(), data, off_t{base_} + item.field.offset)) {
            error = system_error("cannot write the EEPROM " + path_, errno != 0 ? errno : EIO);
            return false;
        }
        // A write-protected EEPROM acknowledges the transfer and keeps its old bytes.
        uint8_t* field = block_.data() + item.field.offset;
        if (!read_at(item.field.offset, field, bytes.size(), error)) return false;
        if (std::memcmp(field, bytes.data(), bytes.size()) == 0) return true;
        error = "the EEPROM " + path_ + " kept other bytes than those written (write-protected?)";
        return false;
    }

    std::string path_;
    uint32_t base_;
    uint32_t size_;
    bool writable_;
    korvanta_hardware::UniqueFd fd_;
    std::vector<uint8_t> block_;
};

// Each file replaced by the library's own writer, so as the library replaces it.
class FilesTarget : public Target {
public:
    std::string name() const override { return "the identity files in " + identity_directory(); }

    Stored stored(const Item& item) const override {
        Stored now;
        struct stat status;
        now.programmed = ::lstat(item.path.c_str(), &status) == 0 || errno != ENOENT;
        if (item.kind == Kind::kCode) {
            int code = HardwareFile::readCodeFromFile(item.path);
            now.value = code < 0 ? korvanta_hardware::kNoValue : std::to_string(code);
        } else {
            now.value = HardwareFile::readUuidFromFile(item.path, kIdentifierBytes);
        }
        return now;
    }

    bool write(const Item& item, const std::string& value, std::string& error) override {
        if (::mkdir(identity_directory().c_str(), 0755) != 0 && errno != EEXIST) {
            error = system_error("cannot create " + identity_directory(), errno);
            return false;
        }
        bool written = false;
        std::vector<std::string> messages = with_library_messages([&] {
            written = item.kind == Kind::kCode
                          ? HardwareFile::writeCode(static_cast<unsigned int>(std::stoul(value)), item.path)
                          : HardwareFile::writeIdStr(value, item.path, kIdentifierBytes);
        });
        if (!written) error = "cannot replace " + item.path + (messages.empty() ? "" : ": " + messages.back());
        return written;
    }

    // Emptied, not removed: a link, a bind mount or the file's mode stays as it is.
    bool erase(const Item& item, std::string& error) override {
        bool emptied = false;
        std::vector<std::string> messages =
            with_library_messages([&] { emptied = HardwareFile::write_str_to_file("", item.path); });
        if (!emptied) error = "cannot empty " + item.path + (messages.empty() ? "" : ": " + messages.back());
        return emptied;
    }
};

// --- The plan

struct Planned {
    const Item* item;
    Stored now;
    std::string value;  // to write
    bool unchanged() const { return now.programmed && now.value == value; }
};

// The EEPROM keeps bytes and reads them back in lowercase: so they are planned.
std::optional<std::string> given(const Unit& unit, const Item& item, bool eeprom) {
    if (item.kind == Kind::kCode) {
        const std::optional<uint16_t>& code = unit.*item.code;
        if (!code) return std::nullopt;
        return std::to_string(*code);
    }
    const std::optional<std::string>& text = unit.*item.text;
    if (!text) return std::nullopt;
    return eeprom ? lowercase(*text) : *text;
}

// A code with its name, as the reports show it.
std::string shown(const Item& item, const std::string& value, bool station) {
    if (item.kind != Kind::kCode || value == korvanta_hardware::kNoValue) return value;
    bool station_version = station && item.names == CodeTable::kRobotVersion;
    return value + " " +
           korvanta_hardware::name_of(station_version ? CodeTable::kStationVersion : item.names, std::stol(value));
}

std::string shown_now(const Planned& planned, bool eeprom, bool station) {
    if (!planned.now.programmed) return eeprom ? "(erased)" : "(absent)";
    return shown(*planned.item, planned.now.value, station);
}

bool fail(const std::string& message) {
    std::fprintf(stderr, "korvanta-hwinfo: %s\n", message.c_str());
    return false;
}

bool check_store(Store store, bool eeprom, const std::string& eeprom_path) {
    if (store == Store::kEeprom && eeprom) return true;
    if (store == Store::kFiles && !eeprom) return true;
    std::string here = eeprom ? "an EEPROM (" + eeprom_path + ")" : "no EEPROM";
    return fail(std::string("refused: the unit file says \"store\": \"") + korvanta_sim::store_name(store) +
                "\", but this unit has " + here + "; nothing written");
}

// Refuses identifiers the library would not take as one: a repeated character
// reads as an erased or zeroed field.
bool check_usable(const Unit& unit) {
    for (const auto& [key, id] : {std::pair{korvanta_sim::kUuidKey, unit.uuid},
                                  {korvanta_sim::kHwUuidKey, unit.hw_uuid},
                                  {korvanta_sim::kSerialKey, unit.serial}}) {
        if (id && !korvanta_hardware::is_usable_identifier(*id))
            return fail(std::string(key) + ": \"" + *id + "\" is one character repeated, which reads as no identifier");
    }
    return true;
}

void say_host_items_skipped(const Unit& unit) {
    if (unit.machine_id || unit.cpuinfo)
        std::fputs(
            "korvanta-hwinfo: machine_id and cpu_serial_number are not written: they belong to the operating "
            "system and the CPU\n",
            stderr);
}

// Each item of kItems as the store holds it before programming, read once.
using StoredItems = std::vector<Stored>;

StoredItems read_stored(const Target& target) {
    StoredItems now;
    for (const Item& item : kItems) now.push_back(target.stored(item));
    return now;
}

const Stored& stored_of(const StoredItems& now, const Item& item) { return now[&item - kItems]; }

bool any_programmed_but_uuid(const StoredItems& now) {
    for (const Item& item : kItems)
        if (&item != &kRobotUuid && stored_of(now, item).programmed) return true;
    return false;
}

// Without --force, the board's own items once programmed stay as they are.
bool check_factory_items(const std::vector<Planned>& plan, bool force, bool eeprom, bool station) {
    bool refused = false;
    for (const Planned& planned : plan) {
        if (force || !planned.item->factory || !planned.now.programmed || planned.unchanged()) continue;
        fail(std::string("refused: the ") + planned.item->label + " is already programmed (" +
             shown_now(planned, eeprom, station) + "); --force changes it");
        refused = true;
    }
    return !refused;
}

// Whether an item besides the robot identifier changes: only then is the
// robot identifier cleared first.
bool others_change(const std::vector<Planned>& plan) {
    for (const Planned& planned : plan)
        if (planned.item != &kRobotUuid && !planned.unchanged()) return true;
    return false;
}

// Clearing a robot identifier the unit file does not give would lose it.
bool check_uuid_given(const std::vector<Planned>& plan, const Stored& uuid_now) {
    if (!others_change(plan) || plan.back().item == &kRobotUuid) return true;
    if (!korvanta_hardware::is_usable_identifier(uuid_now.value)) return true;
    return fail("refused: give \"uuid\" (now " + uuid_now.value +
                ") in the unit file too: the robot identifier is cleared first and written last, so that a "
                "programming cut short shows");
}

// Which table names the versions: a station board's own, now and after writing.
struct Stations {
    bool now = false;
    bool then = false;
};

Stations stations(const std::vector<Planned>& plan, const StoredItems& now) {
    Stations station;
    station.now = stored_of(now, kBoardType).value == std::to_string(BOARD_STATION);
    station.then = station.now;
    for (const Planned& planned : plan)
        if (planned.item == &kBoardType) station.then = planned.value == std::to_string(BOARD_STATION);
    return station;
}

void print_plan(const std::vector<Planned>& plan, bool eeprom, Stations station) {
    for (const Planned& planned : plan) {
        std::string now = shown_now(planned, eeprom, station.now);
        std::string value = planned.unchanged() ? now + " (unchanged)"
                                                : now + " -> " + shown(*planned.item, planned.value, station.then);
        std::fputs(format_row(planned.item->label, value).c_str(), stdout);
    }
    std::fflush(stdout);
}

bool write_plan(Target& target, const std::vector<Planned>& plan, const Stored& uuid_now) {
    std::string error;
    bool clear_first = others_change(plan) && korvanta_hardware::is_usable_identifier(uuid_now.value);
    if (clear_first && !target.erase(kRobotUuid, error)) return fail("the robot identifier was not cleared: " + error);
    for (const Planned& planned : plan) {
        bool rewrite = planned.item == &kRobotUuid && clear_first;
        if (planned.unchanged() && !rewrite) continue;
        if (!target.write(*planned.item, planned.value, error))
            return fail(std::string("the ") + planned.item->label + " was not written: " + error);
    }
    return true;
}

std::string read_back_value(const Identity& identity, const Item& item) {
    return item.kind == Kind::kCode ? std::to_string((identity.*item.read_code).code) : identity.*item.read_text;
}

bool check_read_back(const std::vector<Planned>& plan, const Identity& identity) {
    bool held = true;
    for (const Planned& planned : plan) {
        // An EEPROM's identifiers are planned in lowercase, as it reads them back.
        std::string value = read_back_value(identity, *planned.item);
        if (value == planned.value) continue;
        held = fail(std::string("the ") + planned.item->label + " reads back as " + value + ", not " + planned.value);
    }
    return held;
}

std::unique_ptr<Target> open_target(bool eeprom, const korvanta_hardware::EepromConfig_Def& config, bool writable) {
    if (!eeprom) return std::make_unique<FilesTarget>();
    auto target = std::make_unique<EepromTarget>(config, writable);
    std::string error;
    if (!target->open(error)) {
        fail(error);
        return nullptr;
    }
    return target;
}

}  // namespace

int run_program(const Command& command) {
    Unit unit;
    std::string error;
    if (!korvanta_sim::load_unit(command.value, unit, error)) {
        fail(command.value + ": " + error);
        return kExitUsage;
    }
    if (unit.eeprom_image) {
        fail(command.value + ": eeprom_image: program writes the identity's fields; give them instead of an image");
        return kExitUsage;
    }
    if (!check_usable(unit)) return kExitUsage;
    korvanta_hardware::EepromConfig_Def config;
    bool eeprom = korvanta_hardware::KorvantaHardwareInformation::GetValidEeprom(config);
    if (!check_store(unit.store, eeprom, eeprom ? config.path : "")) return kExitFailed;
    say_host_items_skipped(unit);

    std::unique_ptr<Target> target = open_target(eeprom, config, !command.dry_run);
    if (!target) return kExitFailed;
    const StoredItems now = read_stored(*target);
    std::vector<Planned> plan;
    for (const Item& item : kItems) {
        std::optional<std::string> value = given(unit, item, eeprom);
        if (value && (item.identity || !command.identity_only)) plan.push_back({&item, stored_of(now, item), *value});
    }
    const Stored& uuid_now = stored_of(now, kRobotUuid);
    if (!korvanta_hardware::is_usable_identifier(uuid_now.value) && any_programmed_but_uuid(now))
        fail(
            "note: the unit holds no robot identifier, but other items: an earlier programming was cut short, "
            "or left it out; until it is written, programs see a stand-in");
    Stations station = stations(plan, now);

    std::printf("%s %s%s\n", command.dry_run ? "dry run: nothing is written to" : "programming", target->name().c_str(),
                command.identity_only ? " (robot identifier, serial number and status only)" : "");
    print_plan(plan, eeprom, station);
    bool allowed = check_factory_items(plan, command.force, eeprom, station.now) && check_uuid_given(plan, uuid_now);
    if (!allowed) {
        fail("nothing written");
        return kExitFailed;
    }
    if (command.dry_run) return kExitOk;

    bool written = write_plan(*target, plan, uuid_now);
    target.reset();  // closed before the library opens the store again
    Identity identity = read_identity();
    std::fputs(("read back:\n" + format_text(identity)).c_str(), stdout);
    std::fflush(stdout);
    return written && check_read_back(plan, identity) ? kExitOk : kExitFailed;
}

}  // namespace hwinfo
