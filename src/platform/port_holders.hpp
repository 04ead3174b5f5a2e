#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tapfix::platform {

struct PortHolder {
    int pid = 0;
    std::string command;  // the process's short name, as /proc/<pid>/comm gives it
};

// The processes that have `device` open or locked, each once, by pid. Found through the fd links
// of <proc>/<pid>/fd, where processes of other users are invisible without privilege, and
// through the locks on it, where they are not.
std::vector<PortHolder> FindPortHolders(const std::filesystem::path& device,
                                        const std::filesystem::path& proc = "/proc");

// The processes holding a lock on `file` (flock or record lock), any user's: <proc>/locks
// names them by the file's device and inode. A process waiting for the lock is not a holder.
std::vector<PortHolder> FindLockHolders(const std::filesystem::path& file,
                                        const std::filesystem::path& proc = "/proc");

// "ModemManager (pid 812), minicom (pid 900)".
std::string NameProcesses(const std::vector<PortHolder>& holders);

// The text a user sees when `device` cannot be had because another process holds it, e.g.
// "ttyUSB2 is held by ModemManager (pid 812)", with advice when ModemManager is among them.
std::string DescribeHeldPort(const std::filesystem::path& device,
                             const std::vector<PortHolder>& holders);

}  // namespace tapfix::platform
