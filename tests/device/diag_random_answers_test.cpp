#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "device/diag_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/vendor.hpp"
#include "device_fixture.hpp"

namespace tapfix::device {
namespace {

// A device that answers every request with its own first bytes (so most answers get past the
// echo checks) and then random bytes, often short, sometimes long, sometimes cut mid-frame.
class RandomDevice {
  public:
    explicit RandomDevice(std::uint32_t seed) : random_(seed) {}

    std::vector<PtyPeer::Write> Answer(const Bytes& request) {
        const Bytes plain = Unstuffed(request);
        Bytes answer(
            plain.begin(),
            plain.begin() + static_cast<std::ptrdiff_t>(
                                random_() % (std::min<std::size_t>(plain.size(), 12) + 1)));
        const std::size_t tail = random_() % 4 == 0 ? random_() % 400 : random_() % 40;
        for (std::size_t i = 0; i < tail; ++i) {
            answer.push_back(random_() % 2 ? 0 : static_cast<std::uint8_t>(random_()));
        }
        Bytes frame = test::ReferenceFrame(answer, false);
        if (random_() % 8 == 0) {
            frame.resize(random_() % frame.size());
        }
        return {{frame}};
    }

  private:
    // The request payload without FCS and flag.
    static Bytes Unstuffed(const Bytes& frame) {
        Bytes plain;
        for (std::size_t i = 0; i < frame.size() && frame[i] != 0x7E; ++i) {
            plain.push_back(frame[i] == 0x7D && i + 1 < frame.size() ? frame[++i] ^ 0x20
                                                                     : frame[i]);
        }
        plain.resize(plain.size() >= 2 ? plain.size() - 2 : 0);
        return plain;
    }

    std::mt19937 random_;
};

class InstantClock final : public platform::Clock {
  public:
    platform::TimePoint Now() const override { return now_ += std::chrono::seconds(30); }
    void Sleep(platform::Milliseconds duration) override { now_ += duration; }

  private:
    mutable platform::TimePoint now_{};
};

using RandomAnswersTest = DeviceTest;

// Under the sanitizers this is the check that no operation reads or writes past a buffer,
// whatever the device sends; the results themselves are random.
TEST_F(RandomAnswersTest, NoOperationOverrunsOnAnyAnswer) {
    auto device = std::make_shared<RandomDevice>(7411);
    peer.Respond([device](const Bytes& request) { return device->Answer(request); });
    InstantClock clock;
    std::uint32_t value = 0;
    std::uint16_t status = 0;
    VersionRecord version{};
    NvItemData item{};
    ImeiText imei{};
    std::array<std::uint8_t, 16> small{};
    EfsStatResult stat;
    OnboardResult onboard;
    OnboardList list{};
    WifiValue wifi;
    MacText mac{};
    const std::vector<std::function<bool()>> operations{
        [&] { return ResetPhone(packet); },
        [&] { return SetPhoneOffline(packet); },
        [&] { return GetEsn(packet, value); },
        [&] { return GetSoftwareVersion(packet, version); },
        [&] { return SwitchToDownloader(packet); },
        [&] { return SendSpc(packet); },
        [&] { return SendSubsysCmd(packet); },
        [&] { return ProbeDiag(packet); },
        [&] { return AutoRunAction(packet); },
        [&] { return SetSpecialDlMode(packet); },
        [&] { return SetSpecialDlMode2(packet); },
        [&] { return ReadDevicePartitionTable(packet, small); },
        [&] { return ReadNvItem(packet, 447, item, status); },
        [&] { return WriteNvItem(packet, 447, item, status); },
        [&] { return GetImei(packet, imei); },
        [&] { return EfsOpen(packet, "/nv/item", EfsAccess::Read, value); },
        [&] { return EfsClose(packet); },
        [&] { return EfsRead(packet, 0, 0, small, value); },
        [&] { return EfsWrite(packet, 0, small); },
        [&] { return EfsStat(packet, "/nv/item", stat); },
        [&] { return EfsFstat(packet, 0, value); },
        [&] { return EfsPut(packet, "/nv/item", small, 1); },
        [&] { return EfsGet(packet, "/nv/item", 1, small, value); },
        [&] { return SendOnboardBackupList(packet, true, 3, list); },
        [&] { return QueryOnboardResult(packet, onboard, clock); },
        [&] { return StartOnboardRestore(packet); },
        [&] { return SendOnboardCommand(packet, 4); },
        [&] { return WaitOnboardResult(packet, clock); },
        [&] { return ReadWifiValue(packet, wifi); },
        [&] { return WriteWifiValue(packet, 1, 2, small); },
        [&] { return CommitWifiValues(packet); },
        [&] { return RestoreWifiPassword(packet); },
        [&] { return RestoreSsid(packet); },
    };
    int succeeded = 0;
    for (int round = 0; round < 20; ++round) {
        for (const auto& operation : operations) {
            succeeded += operation() ? 1 : 0;
        }
        for (const std::uint16_t kind : {0, 1, 2, 3, 447, 4678}) {
            succeeded += WriteWifiMac(packet, "0012AB34CD56", kind, true) ? 1 : 0;
            succeeded += ReadWifiMac(packet, kind, mac) ? 1 : 0;
        }
        ASSERT_LT(std::find(imei.begin(), imei.end(), '\0'), imei.end());
        ASSERT_LT(std::find(mac.begin(), mac.end(), '\0'), mac.end());
    }
    EXPECT_GT(succeeded, 0) << "the random answers reach the success paths too";
}

}  // namespace
}  // namespace tapfix::device
