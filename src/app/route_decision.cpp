#include "app/route_decision.hpp"

#include <algorithm>

namespace tapfix::app {
namespace {

using nv::RestoreState;
using nv::StoredBackup;

std::vector<std::size_t> Matching(const std::vector<StoredBackup>& pending,
                                  bool (*keep)(const StoredBackup&, std::string_view),
                                  std::string_view imei = {}) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (keep(pending[i], imei)) {
            found.push_back(i);
        }
    }
    return found;
}

bool Any(const StoredBackup&, std::string_view) {
    return true;
}

bool RestoreCutShort(const StoredBackup& copy, std::string_view) {
    return copy.record.restore == RestoreState::Incomplete;
}

bool OfImei(const StoredBackup& copy, std::string_view imei) {
    return copy.record.imei == imei;
}

bool OfImeiCutShort(const StoredBackup& copy, std::string_view imei) {
    return OfImei(copy, imei) && RestoreCutShort(copy, imei);
}

RouteDecision Only(UpdateRoute route) {
    RouteDecision decision;
    decision.route = route;
    return decision;
}

RouteDecision Owned(UpdateRoute route, std::size_t copy, Ownership ownership) {
    return {route, {copy}, ownership, route};
}

// What the router's USB socket proves: among pending copies, the only one is the router's
// whose update was cut short there; a backup the user names may come from any router that
// ever sat in that socket.
enum class PortProof { OnlyPendingCopy, Nothing };

// Among the candidates: the copy the user named, else the one the USB identity proves, else
// the user is asked. A USB socket proves only a pending copy: an interrupted update explains
// it, while any router may sit where an old backup was taken.
RouteDecision ChooseOwner(const RouterFindings& router, const std::vector<StoredBackup>& pending,
                          const std::vector<std::size_t>& candidates, std::string_view chosenImei,
                          UpdateRoute route, PortProof portProof = PortProof::OnlyPendingCopy) {
    const auto chosen = std::find_if(candidates.begin(), candidates.end(), [&](std::size_t i) {
        return !chosenImei.empty() && OfImei(pending[i], chosenImei);
    });
    if (chosen != candidates.end()) {
        return Owned(route, *chosen, Ownership::Chosen);
    }
    // Proven among every pending copy, not only the candidates: another router's copy taken at
    // the same socket or with the same serial makes the USB identity prove nothing.
    const auto proven = nv::ProvenByUsb(pending, router.usb);
    const bool candidate = proven && std::find(candidates.begin(), candidates.end(),
                                               proven->index) != candidates.end();
    if (candidate && (proven->proof == nv::UsbProof::Serial || portProof != PortProof::Nothing)) {
        const Ownership ownership =
            proven->proof == nv::UsbProof::Serial ? Ownership::UsbSerial : Ownership::UsbPort;
        return Owned(route, proven->index, ownership);
    }
    return {UpdateRoute::AskOwner, candidates, Ownership::None, route};
}

RouteDecision WithVersion(const RouterFindings& router, const std::vector<StoredBackup>& pending,
                          std::string_view chosenImei) {
    if (!router.packageFits) {
        return Only(UpdateRoute::VersionMismatch);
    }
    if (!router.imei.empty()) {
        // A restore cut short is finished before anything else, not backed up over.
        const auto own = Matching(pending, OfImeiCutShort, router.imei);
        return own.empty() ? Only(UpdateRoute::Normal)
                           : Owned(UpdateRoute::FinishRestore, own.front(), Ownership::Imei);
    }
    // Running firmware without an IMEI: a restore that stopped before the IMEI, whose copy
    // comes first, or an update stopped after its reset or failed late (the firmware runs with
    // its NV items erased), which may be any router with a pending copy. Unless a restore was
    // cut short, such a router may hold calibration of its own: its socket proves nothing.
    const auto cutShort = Matching(pending, RestoreCutShort);
    const bool erased = router.imeiAnswer == ImeiAnswer::Inactive;
    if (cutShort.empty() && (pending.empty() || !erased)) {
        return Only(UpdateRoute::NoImei);
    }
    std::vector<std::size_t> candidates = cutShort;
    for (std::size_t i = 0; erased && i < pending.size(); ++i) {
        if (!RestoreCutShort(pending[i], {})) {
            candidates.push_back(i);
        }
    }
    return ChooseOwner(router, pending, candidates, chosenImei, UpdateRoute::FinishRestore,
                       cutShort.empty() ? PortProof::Nothing : PortProof::OnlyPendingCopy);
}

}  // namespace

RouteDecision DecideRestore(const RouterFindings& router, const std::vector<StoredBackup>& backup,
                            std::string_view chosenImei) {
    if (router.silentInDownloadMode) {
        return Only(UpdateRoute::NeedsReplug);
    }
    if (router.downloadMode) {
        return Only(UpdateRoute::NeedsFirmware);
    }
    if (!router.imei.empty()) {
        return router.imei == backup.front().record.imei
                   ? Owned(UpdateRoute::FinishRestore, 0, Ownership::Imei)
                   : Only(UpdateRoute::OtherRouter);
    }
    if (router.imeiAnswer != ImeiAnswer::Inactive) {
        return Only(UpdateRoute::Unanswered);
    }
    return ChooseOwner(router, backup, {0}, chosenImei, UpdateRoute::FinishRestore,
                       PortProof::Nothing);
}

RouteDecision DecideRoute(const RouterFindings& router, const std::vector<StoredBackup>& pending,
                          std::string_view chosenImei) {
    if (router.versionRead) {
        return WithVersion(router, pending, chosenImei);
    }
    // Not a version that does not match: nothing can be read or written until it restarts.
    if (router.silentInDownloadMode) {
        return Only(UpdateRoute::NeedsReplug);
    }
    // A router that answered like a healthy one, or did not answer at all, is not taken for a
    // blank one: its data would be written over by another router's.
    if (!router.downloadMode && router.imeiAnswer != ImeiAnswer::Inactive) {
        return Only(UpdateRoute::VersionMismatch);
    }
    if (pending.empty()) {
        return Only(router.downloadMode ? UpdateRoute::NoSavedData : UpdateRoute::NoImei);
    }
    return ChooseOwner(router, pending, Matching(pending, Any), chosenImei, UpdateRoute::Resume);
}

}  // namespace tapfix::app
