// The CPU serial number, read from /proc/cpuinfo when an information object is built.
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "korvanta_hardware.h"
#include "unit_test.h"

using korvanta_hardware::KorvantaHardwareInformation;
using namespace korvanta_sim;

namespace {

// A unit whose store reads without a message, so stderr holds only what the
// CPU serial reader says.
void put_quiet_store() { write_identity_file("robot_id", "0123456789abcdef0123456789abcdef\n"); }

// Stands something else over /proc/cpuinfo for the life of the object and
// takes it away again; reset_unit only undoes mounts under /etc and /sys/bus.
class CpuinfoReplaced {
public:
    explicit CpuinfoReplaced(const std::string& source)
        : mounted_(::mount(source.c_str(), kCpuinfoPath, nullptr, MS_BIND, nullptr) == 0) {}
    ~CpuinfoReplaced() {
        if (mounted_) ::umount2(kCpuinfoPath, 0);
    }
    bool mounted() const { return mounted_; }

private:
    bool mounted_;
};

// A socket in the sandbox's scratch directory: it exists, but open() gives ENXIO.
class SocketFile {
public:
    SocketFile() : path_(std::string(std::getenv("KORVANTA_SANDBOX")) + "/cpuinfo.socket") {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::unlink(path_.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SocketFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

struct CpuinfoCase {
    const char* what;
    std::string cpuinfo;
    const char* serial;
};

const CpuinfoCase kCases[] = {
    {"a line longer than 64 KiB is skipped", "Serial : 1\nSerial : " + std::string(64 * 1024, 'f') + "\n", "1"},
    {"tabs, colon, blank, 16 digits", "processor\t: 0\nSerial\t\t: 00000000a1b2c3d4\n", "00000000a1b2c3d4"},
    {"blank inside, carriage return at the end", "Serial\t\t: 1234 5678\r\n", "12345678"},
    {"every kind of whitespace", "Serial:\v1\f2 3\t4\r", "1234"},
    {"no colon: skipped", "Serial 1234\n", "null"},
    {"no colon after a match: the match stays", "Serial : 1\nSerial 2\n", "1"},
    {"two matches: the later one", "Serial : 1\nmodel : x\nSerial : 2\n", "2"},
    {"inside a longer field name", "CPUSerialNumber : abc\n", "abc"},
    {"lower case only: no match", "serial : abc\n", "null"},
    {"first colon before the word", "model : Serial 12 34\n", "Serial1234"},
    {"only the first colon splits", "Serial : a:b\n", "a:b"},
    {"only whitespace after the colon: empty", "Serial :  \t\n", ""},
    {"last line without a line feed", "processor : 0\nSerial : 42", "42"},
    {"no serial line at all", "processor\t: 0\nmodel name\t: ARMv8\n", "null"},
    {"empty file", "", "null"},
};

}  // namespace

using CpuSerial = OnSimulatedUnit;

TEST_F(CpuSerial, IsTakenFromTheSerialLinesOfCpuinfo) {
    put_quiet_store();
    for (const CpuinfoCase& c : kCases) {
        write_cpuinfo(c.cpuinfo);
        std::string serial;
        std::string messages = stderr_of([&] { serial = KorvantaHardwareInformation().get_cpu_serial_number(); });
        EXPECT_EQ(serial, c.serial) << c.what;
        EXPECT_EQ(messages, "") << c.what;
    }
}

TEST_F(CpuSerial, IsReadAgainByEveryNewObject) {
    put_quiet_store();
    write_cpuinfo("Serial : 1\n");
    KorvantaHardwareInformation first;
    write_cpuinfo("Serial : 2\n");
    KorvantaHardwareInformation second;
    EXPECT_EQ(first.get_cpu_serial_number(), "1");
    EXPECT_EQ(second.get_cpu_serial_number(), "2");
    EXPECT_EQ(&second.get_hardware_info("cpu_serial_number"), &second.get_cpu_serial_number());
}

TEST_F(CpuSerial, CpuinfoThatCannotBeOpenedIsReportedOncePerObject) {
    put_quiet_store();
    SocketFile socket;
    ASSERT_TRUE(socket.bound());
    CpuinfoReplaced replaced(socket.path());
    ASSERT_TRUE(replaced.mounted());
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation first;
        KorvantaHardwareInformation second;
        EXPECT_EQ(first.get_cpu_serial_number(), "null");
        EXPECT_EQ(second.get_cpu_serial_number(), "null");
    });
    EXPECT_EQ(messages, "failed to open /proc/cpuinfo\nfailed to open /proc/cpuinfo\n");
}

TEST_F(CpuSerial, IsReadAfterTheStore) {
    write_identity_file("hw_uuid", "abc\n");
    SocketFile socket;
    ASSERT_TRUE(socket.bound());
    CpuinfoReplaced replaced(socket.path());
    ASSERT_TRUE(replaced.mounted());
    std::string messages = stderr_of([] { KorvantaHardwareInformation info; });
    EXPECT_EQ(messages,
              "file:/etc/korvanta/hw_uuid ID string size err. str_size:3 size:16"
              "Empty robot_uuid\n"
              "failed to open /proc/cpuinfo\n");
}

// /proc/self/mem opens, but reading at its start fails with EIO. A FIFO has
// nothing to give and is not waited for; /dev/zero would never end.
TEST_F(CpuSerial, ReadErrorFifoOrEndlessDeviceEndsTheScanWithoutAMessage) {
    put_quiet_store();
    const std::string fifo = std::string(std::getenv("KORVANTA_SANDBOX")) + "/cpuinfo.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& source : {std::string("/proc/self/mem"), fifo, std::string("/dev/zero")}) {
        CpuinfoReplaced replaced(source);
        ASSERT_TRUE(replaced.mounted()) << source;
        std::string messages = stderr_of([] { EXPECT_EQ(KorvantaHardwareInformation().get_cpu_serial_number(), "null"); });
        EXPECT_EQ(messages, "") << source;
    }
    ::unlink(fifo.c_str());
}
