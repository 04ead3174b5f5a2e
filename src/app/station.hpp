#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/shared_state.hpp"
#include "platform/clock.hpp"
#include "platform/port_enumeration.hpp"
#include "session/download_service.hpp"

// The station: every router plugged in gets an update of its own, at the same time as the
// others. One watcher looks at every port; each router it finds takes a free slot of the
// download service and an update worker, and is followed by its USB location across its
// re-enumerations. A router that finds no free slot waits for one. The window never runs a
// station: it stays one router on slot 0.
namespace tapfix::app {

struct StationOptions {
    // Only the routers at these ports' USB locations (--port COMn); empty: every router.
    std::vector<int> ports;
};

// One router as the station knows it.
struct StationRouter {
    int slot = 0;
    platform::UsbLocation usb;
    int portNumber = 0;
    std::string imei;
    // Its last end result; none while its first update runs.
    std::optional<int> result;
    // Its worker runs: first waiting for it to answer, then updating it.
    bool running = false;
    bool updating = false;
    platform::TimePoint started{};
    platform::TimePoint ended{};
};

class CStation {
  public:
    static constexpr int kSlotCount = session::CDownloadService::kSlotCount;

    // `settings` gives the work folder, the package's facts and the options every router's
    // update takes; its port context is not used.
    CStation(session::CDownloadService& service, const SharedState& settings,
             platform::Clock& clock);
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    void Start(const StationOptions& options);
    // No router is taken on any more; the updates that run go on to their end.
    void StopWatching();
    // Stops watching and waits for every update to end.
    void Stop();

    // An update is being written: the station must not end now.
    bool UpdatesRunning() const;
    // Every router found has a result, none runs, and the last two looks found nothing new.
    bool Idle() const;
    std::vector<StationRouter> Routers() const;
    // The router on the slot now (or last), for the front-end's prefixes.
    std::optional<StationRouter> RouterOnSlot(int slot) const;

    // One look at the ports: routers that appeared are taken on (the watcher's cycle).
    void Look(const platform::PortList& ports);

  private:
    struct Entry {
        StationRouter router;
        // Seen in every look since its update ended: the same router, not one plugged in anew.
        bool presentSinceEnd = false;
        bool seenThisLook = false;
        int resultSlot = 0;
    };

    void WatchLoop();
    bool Allowed(const platform::PortInfo& port);
    Entry* EntryAt(const platform::UsbLocation& usb);
    std::optional<int> FreeSlot() const;
    void TakeOn(Entry& entry, const platform::PortInfo& port, int slot);
    void RunRouter(std::size_t index);
    // Reads the router's IMEI and versions once it answers; none when it left or never did.
    std::optional<DeviceFacts> AwaitAnswer(session::PortContext& context);
    // The router updated last time came back after its restart: nothing to do for it.
    bool AlreadyUpdated(const Entry& entry, const DeviceFacts& facts) const;
    void Finish(std::size_t index, std::optional<int> result, const std::string& imei);
    void Log(int slot, const std::string& text);

    session::CDownloadService& service_;
    const SharedState& settings_;
    platform::Clock& clock_;
    StationOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable stopping_;
    std::vector<Entry> entries_;
    std::array<std::optional<std::size_t>, kSlotCount> slotEntries_{};
    // The USB locations of the ports the user named, as they were found.
    std::vector<platform::UsbLocation> allowed_;
    int quietLooks_ = 0;
    bool looked_ = false;
    std::atomic<bool> stopped_{false};
    std::thread watcher_;
    // A slot's worker; the one before on the slot has ended by the time the next starts.
    std::array<std::thread, kSlotCount> workers_;
};

// "[2 1-1.4]": the slot and the USB location of its router, before each of its lines.
std::string StationLabel(int slot, const std::optional<StationRouter>& router);

// The exit status of a station: 0 when every router ended with 0, 3 when none was found,
// otherwise 4.
int StationExitStatus(const std::vector<StationRouter>& routers);

}  // namespace tapfix::app
