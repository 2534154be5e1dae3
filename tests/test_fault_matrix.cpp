// Every store operation under every fault a unit can meet, one table row each:
// the result, the message byte for byte, and what the store holds afterwards.
// A failed write must leave the identity that was stored before it byte for
// byte; the only exception is a device that takes part of a transfer before it
// fails, and then the rows say exactly which bytes it took.
//
// Each operation runs in a forked child, so that faults which belong to a
// process (no privileges, a file size limit, a broken device) end with it.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "failing_device.h"
#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"
#include "unit_test.h"
#include "unprivileged.h"

using namespace korvanta_hardware;
using namespace korvanta_sim;
namespace fs = std::filesystem;

namespace {

const std::string kUuidOld = "0123456789abcdef0123456789abcdef";
const std::string kUuidNew = "fedcba9876543210fedcba9876543210";
const std::string kSerialOld = "ffeeddccbbaa99887766554433221100";
const std::string kSerialNew = "13579bdf2468ace013579bdf2468ace0";
const std::string kHwUuid = "00112233445566778899aabbccddeeff";
const std::string kMachineId = "c0ffee00c0ffee00c0ffee00c0ffee00";
const std::string kZeros(32, '0');
const std::string kEepromDir = "/sys/bus/i2c/devices/5-0050";
constexpr uint16_t kStatusOld = 5;
constexpr uint32_t kStatusNew = 9;
constexpr size_t kShortDevice = 44;  // ends inside the robot identifier
// Past the 64 KiB a reader holds, the 7 that would make it a code.
const std::string kLongLine = std::string(64 * 1024, ' ') + "7\n";

// Messages.
const std::string kFallback = "Empty robot_uuid\nuuid replaced by hw_uuid\n";
const std::string kOpenFailed = "Failed to open the file.\n";
const std::string kWriteFailed = "Failed to write the file.\n";
const std::string kEepromOpenFailed = "open eeprom failed! writable =  1";
const std::string kPastTheEnd = "read operation failed: basic_ios::clear: iostream error";
const std::string kTooLarge = "write operation failed: eeprom write: File too large";
const std::string kReadIoError = "read operation failed: eeprom read: Input/output error";
const std::string kWriteIoError = "write operation failed: eeprom write: Input/output error";
const std::string kNoSpace = "write operation failed: eeprom write: No space left on device";
const std::string kNotKept = "write verification failed\n";
const std::string kReadOnly = "the eeprom is open for reading only\n";
const std::string kLinkRefused = "Failed to open the file: /etc/korvanta/robot_id is behind a symbolic link that "
                                 "another user owns in a sticky world-writable directory.\n";

enum class Backend { kFile, kEeprom };

enum class Op { kReadStatus, kReadSerial, kReadRobotUuid, kWriteRobotUuid, kWriteSerial, kWriteStatus };

enum class Fault {
    kNone,
    kFileMissing,
    kDirectoryMissing,
    kNoReadPermission,
    kNoWritePermission,
    kReadOnlyFileSystem,
    kFullFileSystem,
    kFullFileSystemGrowing,  // files: full, and the file one byte shorter than its new content (its block has room)
    kNoFreeInodes,       // files: room for data, none for a new file
    kDirectoryInPlace,
    kBindMounted,        // files: bind-mounted over itself from another file system, as in a container
    kShortDevice,        // EEPROM: a device smaller than the block, which refuses to grow
    kFailsMidTransfer,   // EEPROM: each transfer breaks off with EIO after its first byte
    kRefusesWrites,      // EEPROM: /dev/full, every write ENOSPC
    kWriteProtected,     // EEPROM: writes acknowledged, old bytes kept
    kFifoInPlace,        // files: a FIFO without a writer, where a read would wait for ever
    kEndlessFile,        // files: /dev/zero, one endless line
    kLongFirstLine,      // files: a first line longer than the readers hold (64 KiB)
    kLeased,             // another process holds a write lease, and lets go once the break begins
    kOthersLinkInSticky, // files: the file is uid 1234's link in a sticky world-writable directory
};

enum class Stored {
    kUnchanged,  // byte for byte what was there before the operation
    kWritten,    // the new value in place, everything else as before
    kTorn,       // the first `torn` bytes of the field are new, the rest as before
};

struct Case {
    Backend backend;
    Fault fault;
    Op op;
    std::string result;
    std::string message;
    Stored stored = Stored::kUnchanged;
    size_t torn = 0;
};

// ---- Operations ------------------------------------------------------------

// The file each operation of the file backend reads or replaces.
std::string identity_file(Op op) {
    switch (op) {
        case Op::kReadStatus:
        case Op::kWriteStatus:
            return "robot_status_code";
        case Op::kReadSerial:
        case Op::kWriteSerial:
            return "robot_sn";
        case Op::kReadRobotUuid:
        case Op::kWriteRobotUuid:
            return "robot_id";
    }
    return "";
}

// What a write of the file backend stores.
std::string file_content(Op op) {
    if (op == Op::kWriteRobotUuid) return kUuidNew + "\n";
    if (op == Op::kWriteSerial) return kSerialNew + "\n";
    return std::to_string(kStatusNew) + "\n\n";
}

std::string path_of(Op op) { return std::string(kIdentityDir) + "/" + identity_file(op); }

std::string shown(bool value) { return value ? "true" : "false"; }

std::string perform(HardwareInfo& store, Op op) {
    switch (op) {
        case Op::kReadStatus:
            return std::to_string(store.GetRobotEnvCode());
        case Op::kReadSerial:
            return store.GetRobotSn();
        case Op::kReadRobotUuid:
            return store.GetRobotUuid();
        case Op::kWriteRobotUuid:
            return shown(store.WriteRobotUuid(kUuidNew));
        case Op::kWriteSerial:
            return shown(store.WriteRobotSn(kSerialNew));
        case Op::kWriteStatus:
            return shown(store.WriteRobotEnvCode(kStatusNew));
    }
    return "";
}

// The backend the information object would make, constructed where the fault
// is in place: the EEPROM one on the configured entry, even when the probe
// would no longer find the file.
std::string run_operation(Backend backend, Op op) {
    if (backend == Backend::kFile) {
        HardwareFile store;
        return perform(store, op);
    }
    HardwareEeprom store(EepromConfig_Def{kEepromPath, 256, 0, 1});
    return perform(store, op);
}

// ---- The unit before the fault ---------------------------------------------

void put_identity_files() {
    write_identity_file("robot_id", kUuidOld + "\n");
    write_identity_file("robot_sn", kSerialOld + "\n");
    write_identity_file("hw_uuid", kHwUuid + "\n");
    write_identity_file("board_type_code", "1\n");
    write_identity_file("robot_version_code", "2\n");
    write_identity_file("robot_status_code", std::to_string(kStatusOld) + "\n\n");
    write_machine_id(kMachineId + "\n");
}

EepromImage programmed_eeprom() {
    return EepromImage::erased().hw_uuid(kHwUuid).board_type(1).version(2).serial(kSerialOld).robot_uuid(kUuidOld).status(
        kStatusOld);
}

// ---- Faults ----------------------------------------------------------------

// Root may read and write anything; the permission faults need a child without that.
Drop unprivileged_drop() {
    static const Drop drop = can_become_nobody() ? Drop::kToNobody : Drop::kCapabilities;
    return drop;
}

void must(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// A file system whose inodes are all taken: existing files can be rewritten,
// no file can be created. The identity files move onto it with their content.
void use_up_inodes(const std::string& directory) {
    std::map<std::string, std::string> kept;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        kept[entry.path().filename()] = read_file(entry.path()).value_or("");
    must(::mount("korvanta-inodes", directory.c_str(), "tmpfs", 0, "size=64k,nr_inodes=16,mode=0755") == 0,
         "mount a tmpfs");
    for (const auto& [name, content] : kept) write_identity_file(name, content);
    for (int i = 0;; ++i) {
        int fd = ::open((directory + "/.inode-" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) break;
        ::close(fd);
    }
    must(errno == ENOSPC, "use up the inodes");
}

// Puts the fault in place from the parent, around the store that is already there.
void prepare(const Case& c) {
    const std::string store_file = c.backend == Backend::kFile ? path_of(c.op) : kEepromPath;
    const std::string store_dir = c.backend == Backend::kFile ? kIdentityDir : kEepromDir;
    switch (c.fault) {
        case Fault::kFileMissing:
            must(::unlink(store_file.c_str()) == 0, "unlink");
            break;
        case Fault::kDirectoryMissing:
            fs::remove_all(store_dir);
            break;
        case Fault::kNoReadPermission:
            must(::chmod(store_file.c_str(), 0) == 0, "chmod");
            break;
        case Fault::kNoWritePermission:
            // Read access granted, write access not: a service user reading the
            // identity (for the EEPROM, as a udev rule would grant it).
            must(::chmod(store_file.c_str(), 0444) == 0, "chmod");
            must(::chmod(store_dir.c_str(), 0555) == 0, "chmod");
            break;
        case Fault::kReadOnlyFileSystem:
            make_read_only(store_dir);
            break;
        case Fault::kFullFileSystemGrowing:
            write_identity_file(identity_file(c.op), read_file(store_file)->substr(0, file_content(c.op).size() - 1));
            [[fallthrough]];
        case Fault::kFullFileSystem:
            // make_full's tmpfs has room for four small files: keep only those the operations use.
            if (c.backend == Backend::kFile)
                for (const char* unused : {"hw_uuid", "board_type_code", "robot_version_code"})
                    must(::unlink((std::string(kIdentityDir) + "/" + unused).c_str()) == 0, "unlink");
            make_full(store_dir);
            break;
        case Fault::kNoFreeInodes:
            use_up_inodes(store_dir);
            break;
        case Fault::kDirectoryInPlace:
            put_directory_at(store_file);
            break;
        case Fault::kBindMounted:
            bind_from_elsewhere(store_file);
            break;
        case Fault::kShortDevice:
            programmed_eeprom().truncate(kShortDevice).install();
            break;
        case Fault::kFifoInPlace:
            must(::unlink(store_file.c_str()) == 0 && ::mkfifo(store_file.c_str(), 0644) == 0, "mkfifo");
            break;
        case Fault::kLongFirstLine:
            write_identity_file(identity_file(c.op), kLongLine);
            break;
        case Fault::kOthersLinkInSticky:
            must(::rename(store_file.c_str(), (store_file + ".aimed-at").c_str()) == 0 &&
                     ::symlink((store_file + ".aimed-at").c_str(), store_file.c_str()) == 0 &&
                     ::lchown(store_file.c_str(), 1234, 1234) == 0 && ::chmod(store_dir.c_str(), 01777) == 0,
                 "plant a link");
            break;
        case Fault::kNone:
        case Fault::kLeased:
        case Fault::kFailsMidTransfer:
        case Fault::kRefusesWrites:
        case Fault::kWriteProtected:
        case Fault::kEndlessFile:
            break;
    }
}

// A file server's oplock on the store: a write lease, let go once its break begins.
int leased = -1;
void release_lease(int) { ::fcntl(leased, F_SETLEASE, F_UNLCK); }

// Puts a device in front of the store once the store has been looked at; lift() takes it away.
void cover(const Case& c) {
    if (c.fault == Fault::kLeased) {
        leased = ::open((c.backend == Backend::kFile ? path_of(c.op) : kEepromPath).c_str(), O_RDWR | O_CLOEXEC);
        ::signal(SIGIO, release_lease);
        must(::fcntl(leased, F_SETLEASE, F_WRLCK) == 0, "take a lease");
    }
    if (c.fault == Fault::kRefusesWrites)
        must(::mount("/dev/full", kEepromPath, nullptr, MS_BIND, nullptr) == 0, "bind /dev/full");
    if (c.fault == Fault::kEndlessFile)
        must(::mount("/dev/zero", path_of(c.op).c_str(), nullptr, MS_BIND, nullptr) == 0, "bind /dev/zero");
}

// The part of the fault that belongs to the process running the operation.
bool enter_fault(const Case& c) {
    switch (c.fault) {
        case Fault::kNoReadPermission:
        case Fault::kNoWritePermission:
            return drop_privileges(unprivileged_drop());
        case Fault::kShortDevice:
            // Like the kernel's sysfs file: no byte past the device's end, EFBIG instead of a signal.
            ::signal(SIGXFSZ, SIG_IGN);
            {
                struct rlimit limit = {kShortDevice, kShortDevice};
                return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
            }
        case Fault::kFailsMidTransfer:
            return failing_device_break_transfers(kEepromPath, 1, EIO) == 0;
        case Fault::kWriteProtected:
            return failing_device_discard_writes(kEepromPath) == 0;
        default:
            return true;
    }
}

// Takes away what cover() put in front of the store, so that the store itself can be compared.
void lift(const Case& c) {
    if (c.fault == Fault::kRefusesWrites) ::umount2(kEepromPath, MNT_DETACH);
    if (c.fault == Fault::kEndlessFile) ::umount2(path_of(c.op).c_str(), MNT_DETACH);
    if (c.fault == Fault::kLeased) ::close(leased);
}

// ---- Running one row ---------------------------------------------------------

struct Outcome {
    std::string result;
    std::string message;
};

std::string drain(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// Enters the fault and runs the operation in a child; one that hangs is killed.
Outcome run_in_child(const std::function<bool()>& enter, const std::function<std::string()>& operation) {
    int err[2], out[2];
    must(::pipe2(err, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0, "pipe2");
    pid_t child = ::fork();
    must(child >= 0, "fork");
    if (child == 0) {
        ::alarm(30);
        ::dup2(err[1], STDERR_FILENO);
        std::string result = "(could not enter the fault)";
        if (enter()) {
            try {
                result = operation();
            } catch (const std::exception& error) {
                result = std::string("throws ") + error.what();
            }
        }
        ssize_t ignored = ::write(out[1], result.data(), result.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(err[1]);
    ::close(out[1]);
    Outcome outcome;
    outcome.message = drain(err[0]);
    outcome.result = drain(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status)) outcome.result += " (child died)";
    return outcome;
}

// Everything a file-backed unit stores: each entry of the identity directory
// (temporary files included) and the machine identifier.
std::map<std::string, std::string> file_store() {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(kIdentityDir, error), end; !error && it != end; it.increment(error))
        entries[it->path()] = it->is_directory() ? "(directory)"
                              : it->is_fifo()    ? "(fifo)"
                                                 : read_file(it->path()).value_or("(unreadable)");
    if (error && error != std::errc::no_such_file_or_directory) ADD_FAILURE() << "cannot list the store: " << error.message();
    entries[kMachineIdPath] = read_file(kMachineIdPath).value_or("(missing)");
    return entries;
}

std::vector<uint8_t> bytes_of(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The field a write of the EEPROM backend stores, at its offset.
std::pair<size_t, std::vector<uint8_t>> eeprom_field(Op op) {
    switch (op) {
        case Op::kWriteRobotUuid:
            return {36, bytes_of(kUuidNew)};
        case Op::kWriteSerial:
            return {20, bytes_of(kSerialNew)};
        default:
            return {52, {static_cast<uint8_t>(kStatusNew), 0}};
    }
}

std::map<std::string, std::string> expected_files(const Case& c, std::map<std::string, std::string> before) {
    if (c.stored == Stored::kWritten) before[path_of(c.op)] = file_content(c.op);
    return before;
}

std::vector<uint8_t> expected_eeprom(const Case& c, std::vector<uint8_t> before) {
    if (c.stored == Stored::kUnchanged) return before;
    auto [offset, field] = eeprom_field(c.op);
    size_t count = c.stored == Stored::kTorn ? c.torn : field.size();
    for (size_t i = 0; i < count; ++i) before.at(offset + i) = field[i];
    return before;
}

// ---- The table ---------------------------------------------------------------

using B = Backend;
using F = Fault;
using O = Op;
using S = Stored;

const std::string kCode = std::to_string(kStatusOld);

const std::vector<Case> kFileCases = {
    {B::kFile, F::kNone, O::kReadStatus, kCode, ""},
    {B::kFile, F::kNone, O::kReadSerial, kSerialOld, ""},
    {B::kFile, F::kNone, O::kReadRobotUuid, kUuidOld, ""},
    {B::kFile, F::kNone, O::kWriteRobotUuid, "true", "", S::kWritten},
    {B::kFile, F::kNone, O::kWriteSerial, "true", "", S::kWritten},
    {B::kFile, F::kNone, O::kWriteStatus, "true", "", S::kWritten},

    // A missing file reads as nothing and is created by a write.
    {B::kFile, F::kFileMissing, O::kReadStatus, "-1", ""},
    {B::kFile, F::kFileMissing, O::kReadSerial, "null", ""},
    {B::kFile, F::kFileMissing, O::kReadRobotUuid, kMachineId, kFallback},
    {B::kFile, F::kFileMissing, O::kWriteRobotUuid, "true", "", S::kWritten},
    {B::kFile, F::kFileMissing, O::kWriteSerial, "true", "", S::kWritten},
    {B::kFile, F::kFileMissing, O::kWriteStatus, "true", "", S::kWritten},

    // The directory is never created.
    {B::kFile, F::kDirectoryMissing, O::kReadStatus, "-1", ""},
    {B::kFile, F::kDirectoryMissing, O::kReadSerial, "null", ""},
    {B::kFile, F::kDirectoryMissing, O::kReadRobotUuid, kMachineId, kFallback},
    {B::kFile, F::kDirectoryMissing, O::kWriteRobotUuid, "false", kOpenFailed},
    {B::kFile, F::kDirectoryMissing, O::kWriteSerial, "false", kOpenFailed},
    {B::kFile, F::kDirectoryMissing, O::kWriteStatus, "false", kOpenFailed},

    {B::kFile, F::kNoReadPermission, O::kReadStatus, "-1", ""},
    {B::kFile, F::kNoReadPermission, O::kReadSerial, "null", ""},
    {B::kFile, F::kNoReadPermission, O::kReadRobotUuid, kMachineId, kFallback},
    {B::kFile, F::kNoReadPermission, O::kWriteRobotUuid, "false", kOpenFailed},
    {B::kFile, F::kNoReadPermission, O::kWriteSerial, "false", kOpenFailed},
    {B::kFile, F::kNoReadPermission, O::kWriteStatus, "false", kOpenFailed},

    {B::kFile, F::kNoWritePermission, O::kReadStatus, kCode, ""},
    {B::kFile, F::kNoWritePermission, O::kReadSerial, kSerialOld, ""},
    {B::kFile, F::kNoWritePermission, O::kReadRobotUuid, kUuidOld, ""},
    {B::kFile, F::kNoWritePermission, O::kWriteRobotUuid, "false", kOpenFailed},
    {B::kFile, F::kNoWritePermission, O::kWriteSerial, "false", kOpenFailed},
    {B::kFile, F::kNoWritePermission, O::kWriteStatus, "false", kOpenFailed},

    {B::kFile, F::kReadOnlyFileSystem, O::kReadStatus, kCode, ""},
    {B::kFile, F::kReadOnlyFileSystem, O::kReadSerial, kSerialOld, ""},
    {B::kFile, F::kReadOnlyFileSystem, O::kReadRobotUuid, kUuidOld, ""},
    {B::kFile, F::kReadOnlyFileSystem, O::kWriteRobotUuid, "false", kOpenFailed},
    {B::kFile, F::kReadOnlyFileSystem, O::kWriteSerial, "false", kOpenFailed},
    {B::kFile, F::kReadOnlyFileSystem, O::kWriteStatus, "false", kOpenFailed},

    // No room for a temporary file: content no longer than the old file is
    // rewritten in that file's own blocks; longer content fails, the old file stays.
    // No temporary file is left either way.
    {B::kFile, F::kFullFileSystem, O::kReadStatus, kCode, ""},
    {B::kFile, F::kFullFileSystem, O::kReadSerial, kSerialOld, ""},
    {B::kFile, F::kFullFileSystem, O::kReadRobotUuid, kUuidOld, ""},
    {B::kFile, F::kFullFileSystem, O::kWriteRobotUuid, "true", "", S::kWritten},
    {B::kFile, F::kFullFileSystem, O::kWriteSerial, "true", "", S::kWritten},
    {B::kFile, F::kFullFileSystem, O::kWriteStatus, "true", "", S::kWritten},
    {B::kFile, F::kFullFileSystemGrowing, O::kWriteRobotUuid, "true", "", S::kWritten},
    {B::kFile, F::kFullFileSystemGrowing, O::kWriteSerial, "true", "", S::kWritten},
    {B::kFile, F::kFullFileSystemGrowing, O::kWriteStatus, "true", "", S::kWritten},

    // No temporary file can be made: the file is rewritten in place, as it was before atomic replacement.
    {B::kFile, F::kNoFreeInodes, O::kReadStatus, kCode, ""},
    {B::kFile, F::kNoFreeInodes, O::kReadSerial, kSerialOld, ""},
    {B::kFile, F::kNoFreeInodes, O::kReadRobotUuid, kUuidOld, ""},
    {B::kFile, F::kNoFreeInodes, O::kWriteRobotUuid, "true", "", S::kWritten},
    {B::kFile, F::kNoFreeInodes, O::kWriteSerial, "true", "", S::kWritten},
    {B::kFile, F::kNoFreeInodes, O::kWriteStatus, "true", "", S::kWritten},

    {B::kFile, F::kDirectoryInPlace, O::kReadStatus, "-1", ""},
    {B::kFile, F::kDirectoryInPlace, O::kReadSerial, "null", ""},
    {B::kFile, F::kDirectoryInPlace, O::kReadRobotUuid, kMachineId, kFallback},
    {B::kFile, F::kDirectoryInPlace, O::kWriteRobotUuid, "false", kOpenFailed},
    {B::kFile, F::kDirectoryInPlace, O::kWriteSerial, "false", kOpenFailed},
    {B::kFile, F::kDirectoryInPlace, O::kWriteStatus, "false", kOpenFailed},

    // The name cannot be renamed over (EBUSY): the file is rewritten in place.
    {B::kFile, F::kBindMounted, O::kWriteRobotUuid, "true", "", S::kWritten},
    {B::kFile, F::kBindMounted, O::kWriteSerial, "true", "", S::kWritten},
    {B::kFile, F::kBindMounted, O::kWriteStatus, "true", "", S::kWritten},

    // Only a regular file is read, and nothing waits: anything else reads as a file that cannot be opened.
    {B::kFile, F::kFifoInPlace, O::kReadStatus, "-1", ""},
    {B::kFile, F::kFifoInPlace, O::kReadSerial, "null", ""},
    {B::kFile, F::kFifoInPlace, O::kReadRobotUuid, kMachineId, kFallback},
    {B::kFile, F::kFifoInPlace, O::kWriteRobotUuid, "false", kOpenFailed},
    {B::kFile, F::kFifoInPlace, O::kWriteSerial, "false", kOpenFailed},
    {B::kFile, F::kFifoInPlace, O::kWriteStatus, "false", kOpenFailed},
    {B::kFile, F::kEndlessFile, O::kReadStatus, "-1", ""},
    {B::kFile, F::kEndlessFile, O::kReadSerial, "null", ""},
    {B::kFile, F::kEndlessFile, O::kReadRobotUuid, kMachineId, kFallback},

    // A first line is held up to 64 KiB; past that it is cut, and counts as 64 KiB long.
    {B::kFile, F::kLongFirstLine, O::kReadStatus, "0", ""},
    {B::kFile, F::kLongFirstLine, O::kReadSerial, "null", "file:/etc/korvanta/robot_sn ID string size err. str_size:65536 size:16"},
    {B::kFile, F::kLongFirstLine, O::kReadRobotUuid, kMachineId,
     "file:/etc/korvanta/robot_id ID string size err. str_size:65536 size:16" + kFallback},

    // A reader waits for the break, as a plain open does, instead of taking the file for missing.
    {B::kFile, F::kLeased, O::kReadRobotUuid, kUuidOld, ""},

    // Where the kernel would not follow the link (fs.protected_symlinks), the write is refused.
    {B::kFile, F::kOthersLinkInSticky, O::kWriteRobotUuid, "false", kLinkRefused},
};

// Every fault that keeps the stream from opening: failure values, one message, nothing touched.
std::vector<Case> unopenable_eeprom(Fault fault) {
    std::vector<Case> rows;
    for (auto [op, result] : {std::pair{O::kReadStatus, "-1"}, {O::kReadSerial, "null"}, {O::kReadRobotUuid, "null"},
                              {O::kWriteRobotUuid, "false"}, {O::kWriteSerial, "false"}, {O::kWriteStatus, "false"}})
        rows.push_back({B::kEeprom, fault, op, result, kEepromOpenFailed});
    return rows;
}

std::vector<Case> eeprom_cases() {
    std::vector<Case> rows = {
        {B::kEeprom, F::kNone, O::kReadStatus, kCode, ""},
        {B::kEeprom, F::kNone, O::kReadSerial, kSerialOld, ""},
        {B::kEeprom, F::kNone, O::kReadRobotUuid, kUuidOld, ""},
        {B::kEeprom, F::kNone, O::kWriteRobotUuid, "true", "", S::kWritten},
        {B::kEeprom, F::kNone, O::kWriteSerial, "true", "", S::kWritten},
        {B::kEeprom, F::kNone, O::kWriteStatus, "true", "", S::kWritten},

        // The device file is rewritten in place: a full file system does not matter.
        {B::kEeprom, F::kFullFileSystem, O::kReadStatus, kCode, ""},
        {B::kEeprom, F::kFullFileSystem, O::kReadSerial, kSerialOld, ""},
        {B::kEeprom, F::kFullFileSystem, O::kReadRobotUuid, kUuidOld, ""},
        {B::kEeprom, F::kFullFileSystem, O::kWriteRobotUuid, "true", "", S::kWritten},
        {B::kEeprom, F::kFullFileSystem, O::kWriteSerial, "true", "", S::kWritten},
        {B::kEeprom, F::kFullFileSystem, O::kWriteStatus, "true", "", S::kWritten},

        // 44 bytes: the serial fits, the robot identifier straddles the end, the status is past it.
        // A write straddling the end stores what fits, as the kernel's sysfs file does.
        {B::kEeprom, F::kShortDevice, O::kReadStatus, "-1", kPastTheEnd},
        {B::kEeprom, F::kShortDevice, O::kReadSerial, kSerialOld, ""},
        {B::kEeprom, F::kShortDevice, O::kReadRobotUuid, "null", kPastTheEnd},
        {B::kEeprom, F::kShortDevice, O::kWriteRobotUuid, "false", kTooLarge, S::kTorn, kShortDevice - 36},
        {B::kEeprom, F::kShortDevice, O::kWriteSerial, "true", "", S::kWritten},
        {B::kEeprom, F::kShortDevice, O::kWriteStatus, "false", kTooLarge},

        // The bus fails after one byte of each transfer; that byte of a write has reached the chip.
        {B::kEeprom, F::kFailsMidTransfer, O::kReadStatus, "-1", kReadIoError},
        {B::kEeprom, F::kFailsMidTransfer, O::kReadSerial, "null", kReadIoError},
        {B::kEeprom, F::kFailsMidTransfer, O::kReadRobotUuid, "null", kReadIoError},
        {B::kEeprom, F::kFailsMidTransfer, O::kWriteRobotUuid, "false", kWriteIoError, S::kTorn, 1},
        {B::kEeprom, F::kFailsMidTransfer, O::kWriteSerial, "false", kWriteIoError, S::kTorn, 1},
        {B::kEeprom, F::kFailsMidTransfer, O::kWriteStatus, "false", kWriteIoError, S::kTorn, 1},

        // /dev/full reads zeros and refuses every write.
        {B::kEeprom, F::kRefusesWrites, O::kReadStatus, "0", ""},
        {B::kEeprom, F::kRefusesWrites, O::kReadSerial, kZeros, ""},
        {B::kEeprom, F::kRefusesWrites, O::kReadRobotUuid, kZeros, ""},
        {B::kEeprom, F::kRefusesWrites, O::kWriteRobotUuid, "false", kNoSpace},
        {B::kEeprom, F::kRefusesWrites, O::kWriteSerial, "false", kNoSpace},
        {B::kEeprom, F::kRefusesWrites, O::kWriteStatus, "false", kNoSpace},

        {B::kEeprom, F::kWriteProtected, O::kReadStatus, kCode, ""},
        {B::kEeprom, F::kWriteProtected, O::kReadSerial, kSerialOld, ""},
        {B::kEeprom, F::kWriteProtected, O::kReadRobotUuid, kUuidOld, ""},
        {B::kEeprom, F::kWriteProtected, O::kWriteRobotUuid, "false", kNotKept},
        {B::kEeprom, F::kWriteProtected, O::kWriteSerial, "false", kNotKept},
        {B::kEeprom, F::kWriteProtected, O::kWriteStatus, "false", kNotKept},

        {B::kEeprom, F::kLeased, O::kReadSerial, kSerialOld, ""},
    };
    // Write access refused: opened for reading only; reads work, writes are refused before any transfer.
    for (Fault fault : {F::kNoWritePermission, F::kReadOnlyFileSystem}) {
        std::vector<Case> read_only = {
            {B::kEeprom, fault, O::kReadStatus, kCode, ""},
            {B::kEeprom, fault, O::kReadSerial, kSerialOld, ""},
            {B::kEeprom, fault, O::kReadRobotUuid, kUuidOld, ""},
            {B::kEeprom, fault, O::kWriteRobotUuid, "false", kReadOnly},
            {B::kEeprom, fault, O::kWriteSerial, "false", kReadOnly},
            {B::kEeprom, fault, O::kWriteStatus, "false", kReadOnly},
        };
        rows.insert(rows.end(), read_only.begin(), read_only.end());
    }
    for (Fault fault : {F::kFileMissing, F::kDirectoryMissing, F::kNoReadPermission, F::kDirectoryInPlace}) {
        std::vector<Case> unopenable = unopenable_eeprom(fault);
        rows.insert(rows.end(), unopenable.begin(), unopenable.end());
    }
    return rows;
}

std::string name_of(Fault fault) {
    static const std::map<Fault, std::string> names = {
        {F::kNone, "NoFault"},
        {F::kFileMissing, "FileMissing"},
        {F::kDirectoryMissing, "DirectoryMissing"},
        {F::kNoReadPermission, "NoReadPermission"},
        {F::kNoWritePermission, "NoWritePermission"},
        {F::kReadOnlyFileSystem, "ReadOnlyFileSystem"},
        {F::kFullFileSystem, "FullFileSystem"},
        {F::kFullFileSystemGrowing, "FullFileSystemLongerContent"},
        {F::kNoFreeInodes, "NoFreeInodes"},
        {F::kDirectoryInPlace, "DirectoryInPlaceOfFile"},
        {F::kBindMounted, "BindMounted"},
        {F::kShortDevice, "DeviceShorterThanBlock"},
        {F::kFailsMidTransfer, "DeviceFailsMidTransfer"},
        {F::kRefusesWrites, "DeviceRefusesWrites"},
        {F::kWriteProtected, "DeviceWriteProtected"},
        {F::kFifoInPlace, "FifoInPlaceOfFile"},
        {F::kEndlessFile, "EndlessFile"},
        {F::kLongFirstLine, "FirstLineLongerThan64KiB"},
        {F::kLeased, "LeasedByAnotherProcess"},
        {F::kOthersLinkInSticky, "OtherUsersLinkInStickyDirectory"},
    };
    return names.at(fault);
}

std::string name_of(Op op) {
    static const std::map<Op, std::string> names = {
        {O::kReadStatus, "ReadStatus"},         {O::kReadSerial, "ReadSerial"},   {O::kReadRobotUuid, "ReadRobotUuid"},
        {O::kWriteRobotUuid, "WriteRobotUuid"}, {O::kWriteSerial, "WriteSerial"}, {O::kWriteStatus, "WriteStatus"},
    };
    return names.at(op);
}

std::string row_name(const testing::TestParamInfo<Case>& info) {
    return name_of(info.param.fault) + "_" + name_of(info.param.op);
}

}  // namespace

class FaultMatrix : public OnSimulatedUnit, public testing::WithParamInterface<Case> {};

TEST_P(FaultMatrix, GivesItsResultAndMessageAndLosesNothing) {
    const Case& c = GetParam();
    if (c.fault == Fault::kOthersLinkInSticky && !can_become_nobody()) GTEST_SKIP() << kNeedsRealRoot;
    if (c.backend == Backend::kFile)
        put_identity_files();
    else
        programmed_eeprom().install();
    prepare(c);
    const auto files_before = file_store();
    const auto eeprom_before = read_eeprom();
    cover(c);

    Outcome outcome = run_in_child([&] { return enter_fault(c); }, [&] { return run_operation(c.backend, c.op); });
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.message, c.message);

    lift(c);
    EXPECT_EQ(file_store(), c.backend == Backend::kFile ? expected_files(c, files_before) : files_before);
    EXPECT_EQ(read_eeprom(), c.backend == Backend::kEeprom ? expected_eeprom(c, eeprom_before) : eeprom_before);
}

INSTANTIATE_TEST_SUITE_P(FileBackend, FaultMatrix, testing::ValuesIn(kFileCases), row_name);
INSTANTIATE_TEST_SUITE_P(EepromBackend, FaultMatrix, testing::ValuesIn(eeprom_cases()), row_name);

// A daemon started with 0, 1 and 2 closed holds three objects at once. Where the
// library let it, the third one's EEPROM took descriptor 2, and the message about
// its erased robot identifier went into the EEPROM.
enum class Interface { kClass, kFlat };

std::string write_status_through_three_objects(Interface interface) {
    std::string results;
    if (interface == Interface::kClass) {
        korvanta_hardware::KorvantaHardwareInformation objects[3];
        for (auto& object : objects) results += shown(object.WriteRobotStatus(kStatusNew)) + " ";
        return results;
    }
    ::KorvantaHardwareInformation* handles[3];  // the flat interface's handle type
    for (auto*& handle : handles) handle = KorvantaHardwareInformation_create();
    for (auto* handle : handles) {
        results += shown(KorvantaHardwareInformation_writeRobotStatus(handle, kStatusNew)) + " ";
        KorvantaHardwareInformation_destroy(handle);
    }
    return results;
}

class StdioClosed : public OnSimulatedUnit, public testing::WithParamInterface<Interface> {};

TEST_P(StdioClosed, EepromHoldsOnlyWhatWasWrittenOnPurpose) {
    EepromImage image = programmed_eeprom().robot_uuid(std::string(32, 'f'));
    image.install();
    const Interface interface = GetParam();
    Outcome outcome = run_in_child(
        [] { return ::close(STDIN_FILENO) == 0 && ::close(STDOUT_FILENO) == 0 && ::close(STDERR_FILENO) == 0; },
        [&] { return write_status_through_three_objects(interface); });
    EXPECT_EQ(outcome.result, "true true true ");
    std::vector<uint8_t> expected = image.bytes();
    expected[52] = kStatusNew;
    expected[53] = 0;
    EXPECT_EQ(read_eeprom(), expected);
}

INSTANTIATE_TEST_SUITE_P(EepromBackend, StdioClosed, testing::Values(Interface::kClass, Interface::kFlat),
                         [](const testing::TestParamInfo<Interface>& info) {
                             return info.param == Interface::kClass ? "ClassInterface" : "FlatInterface";
                         });

// Messages from another thread while identity files are written, 0, 1 and 2
// closed: no file the library writes may sit on stdout or stderr. (Each open
// takes 0 for the instant before it is moved up; nothing writes messages there.)
// The robot identifier is replaced, the hard-linked serial rewritten in place;
// without /proc the temporaries are named and a dead writer's leftover is looked at.
std::string write_among_messages() {
    std::atomic<bool> done{false};
    std::atomic<long> passes{0}, held{0};  // held: times stdout or stderr was open
    std::thread messages([&] {
        for (; !done; ++passes)
            for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
                if (::fcntl(fd, F_GETFD) < 0) continue;
                ++held;
                ssize_t ignored = ::write(fd, "message\n", 8);
                (void)ignored;
            }
    });
    HardwareFile store;
    bool written = true;
    // Until the messages have had their chance, on however busy a machine.
    for (int i = 0; i < 100 || passes < 20000; ++i)
        written = store.WriteRobotUuid(kUuidOld) && store.WriteRobotSn(kSerialOld) && store.WriteRobotUuid(kUuidNew) &&
                  store.WriteRobotSn(kSerialNew) && written;
    done = true;
    messages.join();
    return shown(written) + ", " + std::to_string(held) + " times on 1 or 2";
}

class StdioClosedWhileWriting : public OnSimulatedUnit, public testing::WithParamInterface<bool> {};

TEST_P(StdioClosedWhileWriting, IdentityFilesHoldOnlyTheNewLines) {
    put_identity_files();
    const std::string link = std::string(kIdentityDir) + "/robot_sn.link";
    must(::link(path_of(Op::kWriteSerial).c_str(), link.c_str()) == 0, "link");
    write_identity_file(".robot_id.tmp-1-dead", "left by a killed writer\n");
    const bool proc = GetParam();
    Outcome outcome = run_in_child(
        [&] {
            return (proc || without_proc()) && ::close(STDIN_FILENO) == 0 && ::close(STDOUT_FILENO) == 0 &&
                   ::close(STDERR_FILENO) == 0;
        },
        write_among_messages);
    EXPECT_EQ(outcome.result, "true, 0 times on 1 or 2");
    EXPECT_EQ(read_file(path_of(Op::kWriteRobotUuid)), kUuidNew + "\n");
    EXPECT_EQ(read_file(path_of(Op::kWriteSerial)), kSerialNew + "\n");
}

INSTANTIATE_TEST_SUITE_P(FileBackend, StdioClosedWhileWriting, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "UnnamedTemporaries" : "NamedTemporaries";
                         });
