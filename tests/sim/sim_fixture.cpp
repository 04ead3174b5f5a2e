#include "sim_fixture.hpp"

#include <cstdlib>
#include <fstream>

#include "link/wire.hpp"
#include "platform/clock.hpp"

namespace tapfix::sim::test {

RouterTest::RouterTest() {
    platform::SetTimeScale(0.01);
}

RouterTest::~RouterTest() {
    host_.ClosePort();
    if (router_) {
        router_->Stop();
    }
}

RouterOptions RouterTest::Options() const {
    RouterOptions options;
    options.registry = dir_.Path() / "ports";
    return options;
}

void RouterTest::Start(RouterOptions options) {
    router_ = std::make_unique<SimulatedRouter>(std::move(options));
    std::string error;
    ASSERT_TRUE(router_->Start(&error)) << error;
    const auto port = router_->CurrentPort();
    ASSERT_TRUE(port.has_value());
    ASSERT_TRUE(host_.OpenPort(port->number)) << host_.OpenFailure();
}

Bytes RouterTest::Ask(const Bytes& request, std::uint8_t attempts) {
    host_.SetMode(link::MODE_RAW);
    host_.ResetBuffers();
    EXPECT_TRUE(host_.SetRawPayload(request));
    // Scaled to half a second: ample for an answer on a loaded machine.
    if (!host_.Transact(attempts, 50000)) {
        return {};
    }
    const auto answer = host_.DecodedPayload();
    return Bytes(answer.begin(), answer.end());
}

std::vector<std::string> RouterTest::TracedRequestNames() const {
    std::vector<std::string> names;
    for (const auto& record : router_->TraceRecords()) {
        if (record.at("event") == "request") {
            names.push_back(record.value("name", "?"));
        }
    }
    return names;
}

std::string RouterTest::RegisteredName(int number) const {
    std::ifstream in(dir_.Path() / "ports" / ("COM" + std::to_string(number) + ".name"));
    std::string name;
    std::getline(in, name);
    return name;
}

std::uint32_t Le32At(const Bytes& bytes, std::size_t offset) {
    const auto value = wire::ReadLe32(bytes, offset);
    EXPECT_TRUE(value.has_value()) << "no 32-bit field at " << offset << " of " << Hex(bytes);
    return value.value_or(0xDEADBEEF);
}

std::uint16_t Le16At(const Bytes& bytes, std::size_t offset) {
    const auto value = wire::ReadLe16(bytes, offset);
    EXPECT_TRUE(value.has_value()) << "no 16-bit field at " << offset << " of " << Hex(bytes);
    return value.value_or(0xDEAD);
}

Bytes NvRequest(std::uint8_t command, std::uint16_t item, const Bytes& data) {
    Bytes request{command, static_cast<std::uint8_t>(item), static_cast<std::uint8_t>(item >> 8)};
    Bytes body = data;
    body.resize(kNvItemSize, 0);
    request.insert(request.end(), body.begin(), body.end());
    request.push_back(0);
    request.push_back(0);
    return request;
}

}  // namespace tapfix::sim::test
