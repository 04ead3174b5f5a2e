#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "app/package_match.hpp"
#include "app/route_decision.hpp"
#include "app/shared_state.hpp"
#include "nv/pending_copies.hpp"
#include "platform/clock.hpp"
#include "session/download_service.hpp"

namespace tapfix::app {

enum EndResult : int {
    kResultSuccess = 0,
    kResultVersionMismatch = 1,
    kResultNoImei = 2,
    kResultNoDevice = 3,
    // Saved copies wait for the user to say whose they are (--resume IMEI); nothing written.
    kResultOwnerUnconfirmed = 5,
    // A router whose firmware was interrupted, and whose data this work folder does not hold.
    kResultNoSavedData = 6,
    // A backup of another router than the one plugged in; nothing written.
    kResultOtherRouter = 7,
};

// Runs the update once, started by "Update": decides from what the watcher learnt, and from the
// router itself when that is not enough, whether the package fits the router and whose saved
// data it may get back; runs the download session, finishes the router, and sends the end
// result. The router's pending copy (nv/pending_copies.hpp) outlives a failed update.
class CUpdateWorker {
  public:
    static constexpr std::string_view kImageFile = "dsp2.mbn";
    // Asks the user a yes/no question; true for yes.
    using Question = std::function<bool(std::string_view question)>;

    CUpdateWorker(session::CDownloadService& service, SharedState& shared, platform::Clock& clock);

    // Without a question every answer is no.
    void SetQuestion(Question question) { question_ = std::move(question); }
    // The thread body; returns the end result it sent.
    int RunUpdateWorker(const DeviceFacts& facts);
    // The way the update goes for the router, with these pending copies in the work folder.
    RouteDecision DecideRoute(const DeviceFacts& facts,
                              const std::vector<nv::StoredBackup>& pending);

  private:
    int RunTask(const DeviceFacts& facts);
    int RunUpdate(const DeviceFacts& facts);
    // The router's backup, taken as before an update, moved into the archive.
    int RunBackup(const DeviceFacts& facts);
    // A backup the user named written back to the router it belongs to.
    int RunRestore(const DeviceFacts& facts);
    // What the facts say, and when they do not show a version, what the router answers now.
    RouterFindings Examine(const DeviceFacts& facts);
    void Probe(RouterFindings& router);
    RouterFindings FromFacts(const DeviceFacts& facts);
    // A signed package older than the router's build, not allowed: logged.
    bool RefusedAsDowngrade(const std::string& buildId);
    // The candidate the user confirms, newest first; none when every answer is no.
    std::optional<std::size_t> AskOwner(const std::vector<nv::StoredBackup>& pending,
                                        const std::vector<std::size_t>& candidates);
    int RunRoute(const RouteDecision& decision, const std::vector<nv::StoredBackup>& pending);
    // The facts behind a refusal: what the router said and what the package accepts.
    void LogRefusal(UpdateRoute route, const DeviceFacts& facts);
    int RunSession(session::PortContext& context);
    // Writes the copy back to the router: repaired first (a resume), or as it is.
    int RunFromCopy(const nv::StoredBackup& copy, int actionMode);
    // Says on screen and in the log whose data is written back, and why.
    void TellOwner(const nv::StoredBackup& copy, Ownership ownership);
    void TellBackup(const std::filesystem::path& folder);
    // A failure the user can act on, said on screen; the general failure result.
    int Refuse(int englishId, std::string_view detail = {});
    void Hint(const std::string& text);
    std::string_view Text(int englishId) const;

    session::CDownloadService& service_;
    SharedState& shared_;
    platform::Clock& clock_;
    Question question_;
    // The router's mode was detected while examining it; the session need not ask again.
    bool probed_ = false;
    bool sessionRan_ = false;
    // What the decision was based on: the watcher's facts, or a fresh read when it probed.
    DeviceFacts examined_;
};

}  // namespace tapfix::app
