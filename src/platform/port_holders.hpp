#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tapfix::platform {

struct PortHolder {
    int pid = 0;
    std::string command;  // the process's short name, as /proc/<pid>/comm gives it
};

// The processes that have `device` open, each once, by pid. Found through the fd links of
// <proc>/<pid>/fd; processes of other users are invisible without privilege.
std::vector<PortHolder> FindPortHolders(const std::filesystem::path& device,
                                        const std::filesystem::path& proc = "/proc");

// The text a user sees when `device` cannot be had because another process holds it, e.g.
// "ttyUSB2 is held by ModemManager (pid 812)", with advice when ModemManager is among them.
std::string DescribeHeldPort(const std::filesystem::path& device,
                             const std::vector<PortHolder>& holders);

}  // namespace tapfix::platform
