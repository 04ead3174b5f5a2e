#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/diag_protocol.hpp"
#include "link/packet.hpp"
#include "platform/clock.hpp"
#include "support/pty_peer.hpp"

namespace tapfix::device {

using test::Bytes;
using test::Hex;
using test::PtyPeer;

// A DIAG answer or request as it travels: payload, FCS, stuffing, closing flag.
inline std::string Frame(const Bytes& payload) {
    return Hex(test::ReferenceFrame(payload, false));
}

// A packet with the DIAG command set on a port whose device end the test scripts.
class DeviceTest : public ::testing::Test {
  protected:
    DeviceTest() {
        platform::SetTimeScale(0.01);
        packet.SetProtocol(link::MODE_DIAG, &DiagProtocol());
    }

    void SetUp() override { ASSERT_TRUE(packet.OpenPort(peer.PortNumber())); }

    // Answers request i with answers[i] framed; an empty entry, and every request after the
    // last entry, gets silence.
    void AnswerInTurn(std::vector<Bytes> answers) {
        auto queue = std::make_shared<std::vector<Bytes>>(std::move(answers));
        auto next = std::make_shared<std::size_t>(0);
        peer.Respond([queue, next](const Bytes&) -> std::vector<PtyPeer::Write> {
            if (*next >= queue->size()) {
                return {};
            }
            const Bytes& answer = (*queue)[(*next)++];
            if (answer.empty()) {
                return {};
            }
            return {{test::ReferenceFrame(answer, false)}};
        });
    }

    void AnswerAlways(const Bytes& answer) {
        peer.AnswerAlways({{test::ReferenceFrame(answer, false)}});
    }

    void Silence() { AnswerInTurn({}); }

    // The request frames the device has seen, as hex.
    std::vector<std::string> Sent() const {
        std::vector<std::string> sent;
        for (const Bytes& request : peer.Requests()) {
            sent.push_back(Hex(request));
        }
        return sent;
    }

    std::string LastSent() const {
        const std::vector<std::string> sent = Sent();
        return sent.empty() ? std::string{} : sent.back();
    }

    PtyPeer peer;
    link::CPacket packet;
};

inline Bytes Join(std::initializer_list<Bytes> parts) {
    return test::Concat(parts);
}

}  // namespace tapfix::device
