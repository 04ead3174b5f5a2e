#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/port_holders.hpp"

namespace tapfix::app {

// Why the router's port could not be opened, as the link reported it.
struct PortOpenFailure {
    int error = 0;  // errno of the open
    std::filesystem::path device;
    std::string reason;  // the link's text, for the log
};

// What a user can do about it, in the window's language: the program holding the port (with
// the command that stops ModemManager), the group to join, or the reason as the link gave it.
std::string PortOpenHint(const PortOpenFailure& failure,
                         const std::vector<platform::PortHolder>& holders, bool english);

// The processes holding the port, when the failure says another one has it.
std::vector<platform::PortHolder> HoldersOf(const PortOpenFailure& failure);

}  // namespace tapfix::app
