#include "app/port_hint.hpp"

#include <algorithm>
#include <cerrno>

#include "config/ui_text.hpp"

namespace tapfix::app {
namespace {

constexpr std::string_view kModemManager = "ModemManager";

bool HeldElsewhere(int error) {
    // EBUSY: another opener set the exclusive flag; EWOULDBLOCK: another holds the lock.
    return error == EBUSY || error == EWOULDBLOCK;
}

}  // namespace

std::vector<platform::PortHolder> HoldersOf(const PortOpenFailure& failure) {
    if (!HeldElsewhere(failure.error) || failure.device.empty()) {
        return {};
    }
    return platform::FindPortHolders(failure.device);
}

std::string PortOpenHint(const PortOpenFailure& failure,
                         const std::vector<platform::PortHolder>& holders, bool english) {
    using config::FillText;
    using config::PairText;
    if (failure.error == EACCES || failure.error == EPERM) {
        return std::string(PairText(config::kTextPortPermission, english));
    }
    if (!HeldElsewhere(failure.error)) {
        return FillText(PairText(config::kTextPortCannotOpen, english), {failure.reason});
    }
    const auto modemManager = std::find_if(
        holders.begin(), holders.end(),
        [](const platform::PortHolder& holder) { return holder.command == kModemManager; });
    if (modemManager != holders.end()) {
        return FillText(PairText(config::kTextPortHeldByModemManager, english),
                        {std::to_string(modemManager->pid)});
    }
    if (!holders.empty()) {
        return FillText(PairText(config::kTextPortHeld, english),
                        {holders.front().command, std::to_string(holders.front().pid)});
    }
    return std::string(PairText(config::kTextPortInUse, english));
}

}  // namespace tapfix::app
