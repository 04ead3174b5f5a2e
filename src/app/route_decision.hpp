#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "nv/pending_copies.hpp"
#include "platform/port_enumeration.hpp"

// Which way an update goes, from what is known of the router and the pending copies of the
// work folder. A router gets back its own data and never another router's: a copy is written
// to a router only when its IMEI, its USB identity or its user says whose it is.
namespace tapfix::app {

enum class UpdateRoute {
    Normal,           // back up, download, restore
    Resume,           // no firmware or no IMEI: repair the router and restore its pending copy
    FinishRestore,    // the router's last restore did not complete: write its copy back
    VersionMismatch,  // result 1, no session; also a signed downgrade without --allow-downgrade
    NoImei,           // result 2, no session
    AskOwner,         // copies that may be the router's: its user says which, or none is written
    NoSavedData,      // a half-flashed router whose data this work folder does not hold
    OtherRouter,      // a backup of another IMEI than the router's: nothing written
    NeedsFirmware,    // a restore asked of a router without firmware: the update restores
    Unanswered,       // a restore asked of a router that does not say whose it is
    NeedsReplug,      // silent on a download-mode port: only a power cycle wakes it
};

// How the router's IMEI read ended.
enum class ImeiAnswer {
    Read,
    Inactive,  // the router answered that the item holds nothing
    Refused,   // any other NV status
    NoAnswer,
};

// What the worker knows of the router when it decides.
struct RouterFindings {
    bool versionRead = false;
    bool packageFits = false;
    std::string imei;
    ImeiAnswer imeiAnswer = ImeiAnswer::NoAnswer;
    // Found in its boot loader, its Sahara boot stage or its flash programmer.
    bool downloadMode = false;
    // Its port's name says download mode, yet nothing answered: a flash programmer that a
    // failed update left in the middle of a transfer.
    bool silentInDownloadMode = false;
    platform::UsbLocation usb;
};

// Why a pending copy counts as the router's own.
enum class Ownership { None, UsbSerial, UsbPort, Imei, Chosen, Confirmed };

struct RouteDecision {
    UpdateRoute route = UpdateRoute::VersionMismatch;
    // Resume and FinishRestore: the copy; AskOwner: the candidates, newest first (indexes into
    // the pending copies).
    std::vector<std::size_t> copies;
    Ownership ownership = Ownership::None;
    // AskOwner: the route a confirmed copy takes.
    UpdateRoute confirmedRoute = UpdateRoute::Resume;
};

// `chosenImei` is the IMEI the user named for a router without one (empty: none).
RouteDecision DecideRoute(const RouterFindings& router,
                          const std::vector<nv::StoredBackup>& pending,
                          std::string_view chosenImei);

// A backup the user named (a list of one) written back to a router: only when the router
// reports the backup's IMEI, or, without an IMEI, as the identity rules above allow.
RouteDecision DecideRestore(const RouterFindings& router,
                            const std::vector<nv::StoredBackup>& backup,
                            std::string_view chosenImei);

}  // namespace tapfix::app
