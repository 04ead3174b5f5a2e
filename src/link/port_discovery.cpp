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

bool IsDownloadModeName(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name.find("QDLOADER") != std::string::npos;
}

// atoi's reading of a leading number, without its undefined behaviour on overflow: the
// number saturates at the ends of int.
int LeadingNumber(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// The numbers of the listed ports whose name passes `qualifies`, in list order.
template <typename Qualifies>
std::vector<int> QualifyingNumbers(const platform::PortList& list, Qualifies qualifies) {
    std::vector<int> numbers;
    for (const auto& port : list.ports) {
        std::string name;
        if (!ReadPortName(port, &name) || !qualifies(name)) {
            continue;
        }
        if (const auto number = PortNumberFromName(name)) {
            numbers.push_back(*number);
        }
    }
    return numbers;
}

}  // namespace

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

bool ReadPortName(const platform::PortInfo& port, std::string* name) {
    if (!port.displayName) {
        return false;
    }
    *name = *port.displayName;
    return true;
}

bool FindDiagPort(const platform::PortList& list, int* port) {
    if (!list.available) {
        return false;
    }
    const auto numbers = QualifyingNumbers(
        list, [](const std::string& name) { return IsDiagName(name) || IsDownloadModeName(name); });
    if (numbers.empty()) {
        return false;
    }
    *port = numbers.front();
    return true;
}

// All diagnostic ports count, however many there are: a fixed table would call a port
// absent merely because it was listed late.
bool IsPortAbsent(const platform::PortList& list, int port) {
    if (!list.available) {
        return false;
    }
    const auto numbers = QualifyingNumbers(list, IsDiagName);
    return std::find(numbers.begin(), numbers.end(), port) == numbers.end();
}

bool FindDiagPort(int* port) {
    return FindDiagPort(platform::ListPorts(), port);
}

bool IsPortAbsent(int port) {
    return IsPortAbsent(platform::ListPorts(), port);
}

}  // namespace tapfix::link
