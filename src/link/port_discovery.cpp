#include "link/port_discovery.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <vector>

namespace tapfix::link {
namespace {

bool IsDiagName(std::string_view name) {
    return name.find("Diag") != std::string_view::npos;
}

// atoi's reading of a leading number, without its undefined behaviour on overflow: the
// number saturates at the ends of int.
int LeadingNumber(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

bool QualifiesByName(std::string_view name, RouterPortNames names) {
    return IsDiagName(name) ||
           (names == RouterPortNames::DiagOrDownload && IsDownloadModeName(name));
}

// The listed ports of the router whose name qualifies and yields a number, in list order, each
// with that number.
std::vector<platform::PortInfo> QualifyingPorts(const platform::PortList& list,
                                                const platform::UsbLocation& router,
                                                RouterPortNames names) {
    std::vector<platform::PortInfo> found;
    if (!list.available) {
        return found;
    }
    for (const auto& port : list.ports) {
        std::string name;
        if (!ReadPortName(port, &name) || !QualifiesByName(name, names) ||
            !BelongsToRouter(port, router)) {
            continue;
        }
        if (const auto number = PortNumberFromName(name)) {
            found.push_back(port);
            found.back().number = *number;
        }
    }
    return found;
}

}  // namespace

bool BelongsToRouter(const platform::PortInfo& port, const platform::UsbLocation& router) {
    if (!router.Known()) {
        return true;
    }
    if (!router.serial.empty() && !port.usb.serial.empty()) {
        return router.serial == port.usb.serial;
    }
    return !router.path.empty() && router.path == port.usb.path;
}

std::optional<platform::PortInfo> FindRouterPort(const platform::PortList& list,
                                                 const platform::UsbLocation& router,
                                                 RouterPortNames names) {
    auto ports = QualifyingPorts(list, router, names);
    if (ports.empty()) {
        return std::nullopt;
    }
    return std::move(ports.front());
}

std::optional<int> PortNumberFromName(std::string_view name) {
    const auto com = name.find("COM");
    const std::string_view kept = com == std::string_view::npos ? name : name.substr(com);
    const auto close = kept.find(')');
    if (kept.empty() || close == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view cut = kept.substr(0, close);
    return LeadingNumber(std::string(cut.substr(std::min<std::size_t>(3, cut.size()))));
}

bool IsDownloadModeName(std::string_view name) {
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("QDLOADER") != std::string::npos;
}

bool ReadPortName(const platform::PortInfo& port, std::string* name) {
    if (!port.displayName) {
        return false;
    }
    *name = *port.displayName;
    return true;
}

bool FindDiagPort(const platform::PortList& list, int* port, const platform::UsbLocation& router) {
    const auto found = FindRouterPort(list, router, RouterPortNames::DiagOrDownload);
    if (!found) {
        return false;
    }
    *port = found->number;
    return true;
}

// All diagnostic ports count, however many there are: a fixed table would call a port
// absent merely because it was listed late.
bool IsPortAbsent(const platform::PortList& list, int port) {
    if (!list.available) {
        return false;
    }
    const auto diagnostic = QualifyingPorts(list, {}, RouterPortNames::DiagOnly);
    return std::none_of(diagnostic.begin(), diagnostic.end(),
                        [port](const platform::PortInfo& found) { return found.number == port; });
}

bool FindDiagPort(int* port, const platform::UsbLocation& router) {
    return FindDiagPort(platform::ListPorts(), port, router);
}

bool IsPortAbsent(int port) {
    return IsPortAbsent(platform::ListPorts(), port);
}

bool IsDownloadModePort(const platform::PortInfo& port) {
    return port.displayName && IsDownloadModeName(*port.displayName);
}

}  // namespace tapfix::link
