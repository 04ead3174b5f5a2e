#include "platform/port_holders.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "platform/text_file.hpp"

namespace tapfix::platform {
namespace fs = std::filesystem;

namespace {

// ModemManager opens every new USB serial port to see whether it is a modem; the router's
// normal-mode ports look like one, so it is the usual holder.
constexpr std::string_view kModemManager = "ModemManager";

std::optional<int> ProcessId(const std::string& entry) {
    int pid = 0;
    const auto [end, ec] = std::from_chars(entry.data(), entry.data() + entry.size(), pid);
    if (ec != std::errc() || end != entry.data() + entry.size() || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

bool HasOpen(const fs::path& fdFolder, const fs::path& target) {
    std::error_code ec;
    for (fs::directory_iterator it(fdFolder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code linkError;
        if (fs::read_symlink(it->path(), linkError) == target && !linkError) {
            return true;
        }
    }
    return false;
}

// Registry ports are symlinks; the fd links of a holder name the device itself.
fs::path DeviceTarget(const fs::path& device) {
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(device, ec);
    return ec ? device : target;
}

std::string ShortDeviceName(const fs::path& target) {
    const std::string text = target.string();
    return text.starts_with("/dev/") ? text.substr(5) : text;
}

PortHolder Holder(const fs::path& proc, int pid) {
    const auto command = ReadFirstLine(proc / std::to_string(pid) / "comm", 64);
    return PortHolder{.pid = pid, .command = command.value_or("?")};
}

// "<device major>:<device minor>:<inode>" as <proc>/locks names a file, majors and minors in hex.
std::string LockedFileId(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return {};
    }
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(info.st_dev), ::minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    return id;
}

void SortByPid(std::vector<PortHolder>& holders) {
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    holders.erase(
        std::unique(holders.begin(), holders.end(),
                    [](const PortHolder& a, const PortHolder& b) { return a.pid == b.pid; }),
        holders.end());
}

}  // namespace

std::vector<PortHolder> FindLockHolders(const fs::path& file, const fs::path& proc) {
    const std::string id = LockedFileId(file);
    std::vector<PortHolder> holders;
    std::ifstream locks(proc / "locks");
    // "1: FLOCK  ADVISORY  WRITE 812 00:1b:6 0 EOF". A process waiting for the lock has "->"
    // after the number, which shifts its fields: no pid where the holder's stands.
    for (std::string line; !id.empty() && std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, locked;
        fields >> number >> kind >> mode >> access >> pid >> locked;
        if (const auto holder = ProcessId(pid); holder && locked == id) {
            holders.push_back(Holder(proc, *holder));
        }
    }
    SortByPid(holders);
    return holders;
}

std::vector<PortHolder> FindPortHolders(const fs::path& device, const fs::path& proc) {
    const fs::path target = DeviceTarget(device);
    // Another user's descriptors cannot be seen, its lock on the port can.
    std::vector<PortHolder> holders = FindLockHolders(target, proc);
    std::error_code ec;
    for (fs::directory_iterator it(proc, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const auto pid = ProcessId(it->path().filename().string());
        if (pid && HasOpen(it->path() / "fd", target)) {
            holders.push_back(Holder(proc, *pid));
        }
    }
    SortByPid(holders);
    return holders;
}

std::string NameProcesses(const std::vector<PortHolder>& holders) {
    std::string text;
    for (const PortHolder& holder : holders) {
        text += (text.empty() ? "" : ", ") + holder.command + " (pid " +
                std::to_string(holder.pid) + ")";
    }
    return text;
}

std::string DescribeHeldPort(const fs::path& device, const std::vector<PortHolder>& holders) {
    const std::string name = ShortDeviceName(DeviceTarget(device));
    if (holders.empty()) {
        return name +
               " is in use by another program (ModemManager, if it runs, probes the "
               "router's ports)";
    }
    const bool modemManager = std::any_of(holders.begin(), holders.end(), [](const auto& holder) {
        return holder.command == kModemManager;
    });
    std::string text = name + " is held by " + NameProcesses(holders);
    if (modemManager) {
        text +=
            "; ModemManager probes the router's ports: stop it while updating "
            "(systemctl stop ModemManager)";
    }
    return text;
}

}  // namespace tapfix::platform
