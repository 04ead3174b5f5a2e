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

// Among the candidates: the copy the user named, else the one the USB identity proves, else
// the user is asked.
RouteDecision ChooseOwner(const RouterFindings& router, const std::vector<StoredBackup>& pending,
                          const std::vector<std::size_t>& candidates, std::string_view chosenImei,
                          UpdateRoute route) {
    const auto chosen = std::find_if(candidates.begin(), candidates.end(), [&](std::size_t i) {
        return !chosenImei.empty() && OfImei(pending[i], chosenImei);
    });
    if (chosen != candidates.end()) {
        return Owned(route, *chosen, Ownership::Chosen);
    }
    std::vector<StoredBackup> eligible;
    for (const std::size_t i : candidates) {
        eligible.push_back(pending[i]);
    }
    if (const auto proven = nv::ProvenByUsb(eligible, router.usb)) {
        const Ownership ownership =
            proven->proof == nv::UsbProof::Serial ? Ownership::UsbSerial : Ownership::UsbPort;
        return Owned(route, candidates[proven->index], ownership);
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
    // Running firmware without an IMEI: a restore that stopped before the IMEI explains it,
    // and so does a new firmware whose port never came back after the reset, before its
    // restore began. A copy cut short is the likelier owner; any pending copy is written only
    // as the identity rules allow.
    const auto cutShort = Matching(pending, RestoreCutShort);
    const auto candidates = cutShort.empty() ? Matching(pending, Any) : cutShort;
    if (candidates.empty()) {
        return Only(UpdateRoute::NoImei);
    }
    return ChooseOwner(router, pending, candidates, chosenImei, UpdateRoute::FinishRestore);
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
    return ChooseOwner(router, backup, {0}, chosenImei, UpdateRoute::FinishRestore);
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
