#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/packet.hpp"
#include "link/wire.hpp"
#include "sim/router.hpp"
#include "support/pty_peer.hpp"
#include "support/scoped_environment.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::sim::test {

using tapfix::test::Bytes;
using tapfix::test::Concat;
using tapfix::test::Hex;

// A simulated router in a private port registry, and the host's link to it.
class RouterTest : public ::testing::Test {
  protected:
    RouterTest();
    ~RouterTest() override;

    RouterOptions Options() const;
    // Starts the router and opens the host's link on its port.
    void Start(RouterOptions options);
    void Start() { Start(Options()); }
    // One raw DIAG exchange; the decoded answer (empty when the exchange failed).
    Bytes Ask(const Bytes& request, std::uint8_t attempts = 1);
    // Names the router traced for its requests, in order.
    std::vector<std::string> TracedRequestNames() const;
    std::string RegisteredName(int number) const;

    tapfix::test::TempDir dir_;
    std::unique_ptr<SimulatedRouter> router_;
    link::CPacket host_;

  private:
    tapfix::test::ScopedEnvironment registry_{"TAPFIX_PORTS_DIR", (dir_.Path() / "ports").string()};
};

// Little-endian fields of an answer, failing the test when they lie past its end.
std::uint32_t Le32At(const Bytes& bytes, std::size_t offset);
std::uint16_t Le16At(const Bytes& bytes, std::size_t offset);
Bytes NvRequest(std::uint8_t command, std::uint16_t item, const Bytes& data = {});

}  // namespace tapfix::sim::test
