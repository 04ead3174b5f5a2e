#include "platform/port_holders.hpp"

#include <errno.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/serial_port.hpp"
#include "support/pty_peer.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::platform {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

void FakeProcess(const fs::path& proc, int pid, const std::string& comm,
                 std::initializer_list<fs::path> open) {
    const fs::path process = proc / std::to_string(pid);
    fs::create_directories(process / "fd");
    std::ofstream(process / "comm") << comm << '\n';
    int fd = 3;
    for (const auto& file : open) {
        fs::create_symlink(file, process / "fd" / std::to_string(fd++));
    }
}

TEST(PortHolders, FoundThroughTheirFileDescriptors) {
    test::TempDir dir;
    const fs::path proc = dir.Path() / "proc";
    FakeProcess(proc, 812, "ModemManager", {"/dev/null", "/dev/ttyUSB2", "/dev/ttyUSB3"});
    FakeProcess(proc, 900, "minicom", {"/dev/ttyUSB3"});
    FakeProcess(proc, 77, "bash", {"/dev/pts/1"});
    fs::create_directories(proc / "self" / "fd");
    fs::create_symlink("/dev/ttyUSB2", proc / "self" / "fd" / "0");
    fs::create_directories(proc / "1234");  // a process whose fds cannot be read

    const auto holders = FindPortHolders("/dev/ttyUSB3", proc);
    ASSERT_EQ(holders.size(), 2U);
    EXPECT_EQ(holders[0].pid, 812);
    EXPECT_EQ(holders[1].command, "minicom");
    EXPECT_EQ(DescribeHeldPort("/dev/ttyUSB3", holders),
              "ttyUSB3 is held by ModemManager (pid 812), minicom (pid 900); ModemManager "
              "probes the router's ports: stop it while updating (systemctl stop "
              "ModemManager)");

    const auto one = FindPortHolders("/dev/ttyUSB2", proc);
    ASSERT_EQ(one.size(), 1U);
    EXPECT_THAT(DescribeHeldPort("/dev/ttyUSB2", one),
                HasSubstr("ttyUSB2 is held by ModemManager (pid 812)"));
    EXPECT_THAT(DescribeHeldPort("/dev/pts/1", FindPortHolders("/dev/pts/1", proc)),
                Not(HasSubstr("systemctl")));
    EXPECT_TRUE(FindPortHolders("/dev/ttyUSB9", proc).empty());
    EXPECT_THAT(DescribeHeldPort("/dev/ttyUSB9", {}), HasSubstr("in use by another program"));
}

// Another user's descriptors are hidden; its lock on the port is listed with its pid.
TEST(PortHolders, FoundThroughTheirLocksWhateverTheirUser) {
    test::TempDir dir;
    const fs::path proc = dir.Path() / "proc";
    const fs::path port = dir.Path() / "ttyUSB4";
    std::ofstream(port) << "";
    struct stat info {};
    ASSERT_EQ(::stat(port.c_str(), &info), 0);
    char id[64];  // as the kernel writes it: device numbers in hex, the inode in decimal
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(info.st_dev), ::minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    FakeProcess(proc, 4321, "tapfix-cli", {});
    FakeProcess(proc, 812, "ModemManager", {port});
    std::ofstream(proc / "locks") << "1: FLOCK  ADVISORY  WRITE 4321 " << id << " 0 EOF\n"
                                  << "1: -> FLOCK  ADVISORY  WRITE 4400 " << id << " 0 EOF\n";
    EXPECT_THAT(DescribeHeldPort(port, FindPortHolders(port, proc)),
                HasSubstr("ttyUSB4 is held by ModemManager (pid 812), tapfix-cli (pid 4321);"));
}

TEST(PortHolders, SerialOpenNamesTheProcessThatHoldsThePort) {
    test::PtyPeer peer(6);
    const fs::path port = peer.Registry() / "COM6";
    const int holder = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    SerialPort serial;
    EXPECT_FALSE(serial.Open(port, true, SerialPort::Purge::Both));
    EXPECT_EQ(serial.OpenErrno(), EWOULDBLOCK);
    const std::string comm = std::string(program_invocation_short_name).substr(0, 15);
    EXPECT_THAT(serial.OpenError(),
                HasSubstr("is held by " + comm + " (pid " + std::to_string(::getpid()) + ")"));
    EXPECT_THAT(serial.OpenError(), HasSubstr(fs::canonical(port).filename().string()));

    ::close(holder);
    EXPECT_TRUE(serial.Open(port, true, SerialPort::Purge::Both)) << serial.OpenError();
}

}  // namespace
}  // namespace tapfix::platform
