// korvanta-hwinfo's parts: the command line and usage (main.cpp), the identity
// and its reports (reports.cpp), the write commands (writes.cpp), the unit as a
// unit file (capture.cpp) and programming a unit from one (program.cpp). The
// library's messages have their own header, library_messages.h.
#ifndef KORVANTA_HWINFO_HWINFO_H
#define KORVANTA_HWINFO_HWINFO_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvanta_hardware_flat.h"

namespace hwinfo {

// The tool's exit statuses; scripts rely on them.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a write failed or reads back differently, the EEPROM
                                // cannot be read, or the output was lost
constexpr int kExitUsage = 2;

// What the user asked for on the command line.
enum class Action {
    kShow, kShowJson, kShowPrometheus, kShowUnitFile, kSetUuid, kSetSerial, kSetStatus, kProgram, kHelp, kVersion
};

struct Command {
    Action action = Action::kShow;
    std::string value;          // the identifier or serial number to write, the metrics file or the unit file
    unsigned short status = 0;  // the status code to write
    bool dry_run = false;       // program's options
    bool force = false;
    bool identity_only = false;
};

// The folder of the identity files, /etc/korvanta.
std::string identity_directory();

// --- The unit's identity as the library reads it, through the flat interface so
// that codes are normalised and named exactly as the library names them.

struct HandleDestroyer {
    void operator()(KorvantaHardwareInformation* h) const { KorvantaHardwareInformation_destroy(h); }
};
using Handle = std::unique_ptr<KorvantaHardwareInformation, HandleDestroyer>;

// A fresh information object: it reads the store now. The library's messages
// while it reads reach stderr with their lines ended, and messages if given.
Handle open_handle(std::vector<std::string>* messages = nullptr);

// An EEPROM that exists but cannot be opened for reading leaves every item
// "null". Says why on stderr and returns false; true when there is no EEPROM
// or this process can read it.
bool eeprom_readable();

struct NamedCode {
    int code = 0;
    std::string name;
};

struct Identity {
    std::string uuid;
    std::string hw_uuid;
    std::string serial;
    std::string cpu_serial;
    NamedCode board_type;
    NamedCode version;  // named from the station table on a station board
    NamedCode status;
    std::string source;       // the EEPROM's path, kIdentityFilesSource or kNoSource
    std::string uuid_source;  // where uuid came from: one of the kUuidFrom... names
};

inline constexpr char kIdentityFilesSource[] = "identity files";
// Neither an EEPROM nor any identity file: every value shown is a placeholder
// (the robot identifier may still be the operating system's machine-id).
inline constexpr char kNoSource[] = "none";

// Where the robot identifier came from. A stand-in shares its value with
// another item, and /etc/machine-id with every clone of a disk image.
inline constexpr char kUuidFromEeprom[] = "eeprom";         // the EEPROM's own field
inline constexpr char kUuidFromHwUuid[] = "hw_uuid";        // its stand-in, the hardware identifier
inline constexpr char kUuidFromRobotId[] = "robot_id";      // the identity file robot_id
inline constexpr char kUuidFromMachineId[] = "machine-id";  // its stand-in, /etc/machine-id
inline constexpr char kUuidFromNowhere[] = "none";          // no usable identifier

// The identity h holds; messages are those the library printed while h read
// the store, which tell whether a stand-in took the identifier's place.
Identity read_identity(const KorvantaHardwareInformation* h, const std::vector<std::string>& messages);
// The identity as a fresh information object reads it now.
Identity read_identity();

// --- The reports; each ends with a line feed.

// For people: one aligned "label: value" line per item.
inline constexpr char kUuidLabel[] = "robot identifier";
inline constexpr char kSerialLabel[] = "serial number";
inline constexpr char kStatusLabel[] = "status";

// "label:" padded so that every value starts in the same column.
std::string format_row(const std::string& label, const std::string& value);
// "5 RELEASE"
std::string format_code(const NamedCode& code);
std::string format_text(const Identity& identity);

// For scripts: one JSON object whose keys never change. Codes are numbers,
// names and texts are strings.
std::string format_json(const Identity& identity);

// For Prometheus, in the text exposition format that node_exporter's textfile
// collector reads: one info metric whose labels carry the texts and code
// names, and one gauge per code. Always a valid exposition, whatever the
// identity holds.
std::string format_prometheus(const Identity& identity);

// A report written to a file that another program may read at any moment
// (node_exporter's textfile collector): the reader sees the old report or the
// new one, never part of one. Replaces path with text through a temporary file
// beside it and a rename; returns the exit status and says on stderr why when
// path was not replaced.
int write_report_file(const std::string& path, const std::string& text);

// This unit as a korvanta-sim unit file (--unit-file): the store, each item
// the store holds with codes named, machine_id and cpu_serial_number. A robot
// identifier the library took from a stand-in is left out, as the store has
// none, so the stand-in happens again wherever the file is used.
std::string format_unit_file(const Identity& identity);

// --- program: writes the items of a unit file into this unit's store, reads
// them back through a new information object and prints them. Returns
// kExitOk, kExitFailed (refused, a write failed, a read-back differs) or
// kExitUsage (the unit file cannot be used).
int run_program(const Command& command);

// --- set-uuid, set-serial and set-status: write one item through the flat
// interface, then read it back through a new information object (the one that
// wrote keeps its cache) and report the value now stored.

// A robot status as the user gives it: "0".."65535", or a name from the
// library's status table such as "RELEASE" (exact case).
std::optional<unsigned short> parse_status(const std::string& text);

// Returns the exit status: kExitOk, or kExitFailed when the write failed or
// the value read back is not the one written.
int run_write(const Command& command);

}  // namespace hwinfo

#endif
