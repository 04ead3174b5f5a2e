#include "platform/port_holders.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
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

}  // namespace

std::vector<PortHolder> FindPortHolders(const fs::path& device, const fs::path& proc) {
    const fs::path target = DeviceTarget(device);
    std::vector<PortHolder> holders;
    std::error_code ec;
    for (fs::directory_iterator it(proc, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const auto pid = ProcessId(it->path().filename().string());
        if (!pid || !HasOpen(it->path() / "fd", target)) {
            continue;
        }
        const auto command = ReadFirstLine(it->path() / "comm", 64);
        holders.push_back(PortHolder{.pid = *pid, .command = command.value_or("?")});
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string DescribeHeldPort(const fs::path& device, const std::vector<PortHolder>& holders) {
    const std::string name = ShortDeviceName(DeviceTarget(device));
    if (holders.empty()) {
        return name +
               " is in use by another program (ModemManager, if it runs, probes the "
               "router's ports)";
    }
    std::string text = name + " is held by ";
    bool modemManager = false;
    for (std::size_t i = 0; i < holders.size(); ++i) {
        text += (i == 0 ? "" : ", ") + holders[i].command + " (pid " +
                std::to_string(holders[i].pid) + ")";
        modemManager = modemManager || holders[i].command == kModemManager;
    }
    if (modemManager) {
        text +=
            "; ModemManager probes the router's ports: stop it while updating "
            "(systemctl stop ModemManager)";
    }
    return text;
}

}  // namespace tapfix::platform
