// The modelled USB link: its schedule on made-up times, and a timed transfer against the
// model's own arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "host_script.hpp"
#include "sim/link_schedule.hpp"
#include "sim_fixture.hpp"

namespace tapfix::sim::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

// One byte a microsecond, 100 µs before each answer.
LinkModel SlowLink() {
    LinkModel model;
    model.bytesPerSecond = 1e6;
    model.latency = 100us;
    return model;
}

// Bytes from the host (read at `at`) or to it (ready at `at`, waited for since `since`).
struct Step {
    bool toHost;
    std::size_t bytes;
    microseconds at;
    bool backToBack;  // bytes from the host were waiting when the wire came free
    microseconds since;
    microseconds due;
};

struct ScheduleCase {
    std::string_view name;
    LinkModel model;
    std::vector<Step> steps;
    microseconds needed;
};

Step FromHost(std::size_t bytes, microseconds at, bool backToBack, microseconds due) {
    return {false, bytes, at, backToBack, {}, due};
}

Step ToHost(std::size_t bytes, microseconds readyAt, microseconds since, microseconds due) {
    return {true, bytes, readyAt, false, since, due};
}

TEST(LinkSchedule, EveryByteIsDueAtItsTimeFromTheRate) {
    const std::vector<ScheduleCase> cases = {
        {"a busy host's bytes follow each other although the device wakes late",
         SlowLink(),
         {FromHost(1000, 0us, false, 1000us), FromHost(1000, 1300us, true, 2000us),
          FromHost(1000, 2400us, true, 3000us)},
         3000us},
        {"bytes after an idle wire start when they are read",
         SlowLink(),
         {FromHost(1000, 0us, false, 1000us), FromHost(500, 5000us, false, 5500us)},
         1500us},
        {"bytes read while the wire is still busy wait for it",
         SlowLink(),
         {FromHost(1000, 0us, false, 1000us), FromHost(100, 200us, false, 1100us)},
         1100us},
        {"an answer leaves the latency after its request",
         SlowLink(),
         {FromHost(100, 0us, false, 100us), ToHost(50, 200us, 100us, 250us)},
         250us},
        {"the frames of one answer pay the latency once",
         SlowLink(),
         {FromHost(100, 0us, false, 100us), ToHost(10, 200us, 100us, 210us),
          ToHost(10, 200us, 100us, 220us)},
         220us},
        {"packets of an answer leave a gap apart",
         SlowLink(),
         {ToHost(10, 0us, 0us, 10us), ToHost(10, 15us, 10us, 25us)},
         25us},
        {"latency that the host's bytes cover is not the link's own",
         SlowLink(),
         {FromHost(1000, 0us, false, 1000us), ToHost(10, 150us, 50us, 1010us)},
         1010us},
        {"an unlimited link holds nothing",
         LinkModel{},
         {FromHost(4096, 7us, false, 7us), ToHost(10, 7us, 7us, 7us)},
         0us},
    };
    for (const ScheduleCase& c : cases) {
        SCOPED_TRACE(c.name);
        LinkSchedule schedule(c.model);
        const LinkSchedule::TimePoint origin{};
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            bytes += step.bytes;
            const auto due =
                step.toHost ? schedule.ToHost(step.bytes, origin + step.at, origin + step.since)
                            : schedule.FromHost(step.bytes, origin + step.at, step.backToBack);
            EXPECT_EQ(due - origin, step.due) << "step " << i;
        }
        EXPECT_EQ(schedule.Needed(), c.needed);
        EXPECT_EQ(schedule.Carried(), bytes) << "both directions count";
    }
}

// A host that keeps the wire busy: a long run of bytes the device reads and drops (no flag
// ends them), then a request whose answer tells when the device had it all. The same run
// without a link model is what the machine itself needs; a loaded machine slows both alike.
class LinkModelTest : public RouterTest {
  protected:
    using Seconds = std::chrono::duration<double>;
    static constexpr std::size_t kRunLength = 2 * 1024 * 1024;

    static LinkModel Link() {
        LinkModel link;
        link.bytesPerSecond = 8e6;
        link.latency = 500us;
        return link;
    }

    // Sends the run to a fresh router over `link`; the time until the answer was in.
    Seconds TimedRun(const LinkModel& link, std::size_t* sent, std::size_t* answered) {
        host_.ClosePort();
        RouterOptions options = Options();
        options.profile.link = link;
        Start(options);
        const Bytes run = Concat({Bytes(kRunLength, 0x55), {0x7E}, ReferenceFrame({0x0C})});
        const auto start = std::chrono::steady_clock::now();
        Bytes answer;
        if (!host_.WriteRaw(run)) {
            ADD_FAILURE() << host_.LastError();
        }
        while (host_.IsPortOpen() && (answer.empty() || answer.back() != 0x7E)) {
            host_.ReadWaiting();
            answer.insert(answer.end(), host_.ReceivedBytes().begin(), host_.ReceivedBytes().end());
        }
        *sent = run.size();
        *answered = answer.size();
        return std::chrono::steady_clock::now() - start;
    }

    static Bytes ReferenceFrame(const Bytes& payload) {
        return tapfix::test::ReferenceFrame(payload, false);
    }
};

TEST_F(LinkModelTest, ABusyHostSeesTheConfiguredRate) {
    double pace = 0;   // the paced run over the model's time for it
    double added = 0;  // what pacing added to the machine's own time, over the model's time
    // The best of three: a machine busy with other work may stall any one run.
    for (int attempt = 0; attempt < 3 && !(pace >= 0.95 && added <= 1.05); ++attempt) {
        std::size_t sent = 0;
        std::size_t answered = 0;
        const Seconds machine = TimedRun(LinkModel{}, &sent, &answered);
        const Seconds paced = TimedRun(Link(), &sent, &answered);
        const Seconds modelled = Link().WireTime(sent) + Link().latency + Link().WireTime(answered);
        pace = paced / modelled;
        added = (paced - machine) / modelled;
    }
    EXPECT_GE(pace, 0.95) << "faster than the link allows";
    EXPECT_LE(added, 1.05) << "slower than the link";
}

}  // namespace
}  // namespace tapfix::sim::test
