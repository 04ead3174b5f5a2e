#pragma once

#include <filesystem>

#include "platform/port_enumeration.hpp"

namespace tapfix::session {

enum ActionMode : int {
    kActionDownload = 0,
    kActionRepair = 1,
    kActionBackupNv = 2,
    kActionRestoreNv = 3,
};

// The device and folders one action works on; filled at start-up, the port number kept up to
// date by the watcher and by the steps that follow the device to a new port.
struct PortContext {
    int portNumber = 0;
    int slot = 0;
    int actionMode = kActionDownload;
    // 1: back the device's NV data up before the download (normal update); 0: restore from the
    // backup an earlier, failed run saved (resume).
    int backupFirst = 1;
    std::filesystem::path imageFolder;
    std::filesystem::path nvRoot;
    // The router's pending copy this action restores from and finishes (empty: none): set by
    // the backup before the download, or by the worker for a resume.
    std::filesystem::path pendingCopy;
    // Where the router sits on the USB bus, once known: it keeps that place (and its serial
    // number) across its re-enumerations, so searches for its next port look there.
    platform::UsbLocation usb;
};

}  // namespace tapfix::session
