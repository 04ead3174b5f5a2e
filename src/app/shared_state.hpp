#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "link/packet.hpp"
#include "session/port_context.hpp"

namespace tapfix::app {

// What "Update" starts: the update, or one of the backup tools of the console.
enum class Task {
    Update,
    Backup,   // the router's backup into the archive, nothing written to it
    Restore,  // a backup written back to the router it belongs to
};

// What start-up prepares and the watcher, the worker and the window share. The port context
// is written by the watcher only until it is stopped, and by the worker and the close handling
// only after that stop, so the stop orders every access.
struct SharedState {
    session::PortContext context;
    // The folder the package was written to, ending with "/".
    std::filesystem::path workFolder;
    // Set from "Update" until the worker has run its session.
    std::atomic<bool> updateRunning{false};
    // Set at start-up: the build id the package's verified signature names (empty when none),
    // and whether an older one than the router's may be written.
    std::string packageBuildId;
    bool allowDowngrade = false;
    // The IMEI whose pending copy the user named (--resume) for a router that cannot tell.
    std::string resumeImei;
    Task task = Task::Update;
    // Restore: the backup folder or IMEI the user named; empty: the router's own IMEI.
    std::string restoreWhich;
};

// What the watcher learnt of the router; the worker decides its route from it.
struct DeviceFacts {
    // 15 decimal digits, or empty.
    std::string imei;
    // The first of the nine software version strings: shown as the current version.
    std::string version;
    // The ninth: matched against the package.
    std::string buildId;
    // How the IMEI read ended: 0 read, the router's NV status when it refused, 0xFFFF when
    // it did not answer.
    std::uint16_t imeiStatus = 0xFFFF;
    // The last cycle that found the port could open it.
    bool portOpened = false;
    // The port's name says the router waits in its download mode (no firmware runs).
    bool downloadMode = false;
    // Why the last IMEI or version read failed (the link's reason), for the log of a refusal.
    std::string imeiError;
    std::string versionError;
};

// "Update" may be pressed for the user (--yes): the router showed its version, or it waits in
// its download mode on a port that opens, or answered that it holds no IMEI. The worker settles
// those: the router's own saved data, the user's question, or the results that say why nothing was
// written. A router that has not answered yet is waited for.
bool ReadyForUpdate(const DeviceFacts& facts);

// Reads the IMEI and the software versions over an open link.
DeviceFacts ReadDeviceFacts(link::CPacket& link);

}  // namespace tapfix::app
