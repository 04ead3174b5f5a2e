#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tapfix::sim {

// Faults on demand, deterministic: counted over the answers the device sends (1 = first).
// Text form, comma-separated:
//   silent:N            the Nth answer is not sent
//   badcrc:N            the Nth answer carries a wrong FCS
//   split[:MS]          every answer goes out as two writes MS ms apart (default 1 ms, unscaled)
//   diagerror:CMD[:ERR] requests with DIAG command CMD get the error byte ERR (default 0x13)
//   noport-after-reset  after a reset the port does not come back
//   nak:N[:REASON]      the Nth boot-loader memory write is refused with NAK REASON (default 7)
//   badsum:K[:TIMES]    the Kth checksummed or high-speed unit of the programmer fails its checksum
//                       TIMES times in a row (1 or 2, default 1); units count first sendings only
//   ackloop:K           the Kth such unit is acknowledged by its first address over and over,
//                       each time the host has read the last one, and never by its last address
//   powerloss:K         the power fails as the first data of the Kth opened image is written
//   hang:K              the programmer stops answering as the Kth image is opened (the images
//                       before it written) and stays silent while the host holds its port
//   nvwrite-refused:ITEM every write of NV item ITEM is refused with status 4 (command failed)
//   nvread-refused:ITEM[:STATUS] every read of NV item ITEM is refused with STATUS (default 4)
//   sahara-repeat:K     Sahara asks for the piece of its Kth read-data request once more, at once
//   sahara-swap:K       Sahara makes its Kth and (K+1)th read-data requests in the other order
//   dlflag-refused:N    the first N requests for the special download-mode flag are refused
// Boot-loader writes, units, images, Sahara requests and flag requests are counted over the
// whole run, across reboots, so a fault strikes once.
struct FaultPlan {
    std::set<unsigned> silentAnswers;
    std::set<unsigned> badCrcAnswers;
    bool split = false;
    std::chrono::milliseconds splitGap{1};
    std::map<std::uint8_t, std::uint8_t> diagErrors;
    bool noPortAfterReset = false;
    std::map<unsigned, std::uint16_t> nakWrites;
    std::map<unsigned, unsigned> badSums;
    std::set<unsigned> ackLoops;
    std::set<unsigned> powerLossImages;
    std::set<unsigned> hangImages;
    std::set<std::uint16_t> refusedNvWrites;
    std::map<std::uint16_t, std::uint16_t> refusedNvReads;
    std::set<unsigned> saharaRepeats;
    std::set<unsigned> saharaSwaps;
    unsigned refusedDlFlags = 0;

    // False with a reason for a malformed list; the plan is then unchanged.
    bool Parse(std::string_view text, std::string* error);
};

// What happens to one Sahara read-data request.
struct SaharaRequestFate {
    bool repeat = false;
    bool swapWithNext = false;
};

// What happens to one transfer unit.
struct UnitFate {
    // Sendings of the unit that fail their checksum.
    unsigned badSums = 0;
    bool ackLoop = false;
};

// What happens to one opened image.
struct ImageFate {
    bool losesPower = false;
    bool hangs = false;
};

// What happens to one answer.
struct AnswerFate {
    bool silent = false;
    bool badCrc = false;
};

class FaultCounter {
  public:
    explicit FaultCounter(const FaultPlan& plan) : plan_(plan) {}
    // Counts one more answer and tells its fate.
    AnswerFate NextAnswer();
    unsigned AnswersCounted() const { return count_; }
    // Counts one more boot-loader write; the NAK reason it is refused with, if any.
    std::optional<std::uint16_t> NextBootWrite();
    // Counts one more transfer unit.
    UnitFate NextUnit();
    // Counts one more opened image.
    ImageFate NextImage();
    bool RefusesNvWrite(std::uint16_t item) const { return plan_.refusedNvWrites.contains(item); }
    // The status a read of the item is refused with, if it is.
    std::optional<std::uint16_t> RefusedNvRead(std::uint16_t item) const;
    // Counts one more Sahara read-data request.
    SaharaRequestFate NextSaharaRequest();
    // Counts one more request for the special download-mode flag; true when it is refused.
    bool NextDlFlagRefused();

  private:
    const FaultPlan& plan_;
    unsigned count_ = 0;
    unsigned bootWrites_ = 0;
    unsigned units_ = 0;
    unsigned images_ = 0;
    unsigned saharaRequests_ = 0;
    unsigned dlFlagRequests_ = 0;
};

}  // namespace tapfix::sim
