#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/scoped_environment.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::test {

using Bytes = std::vector<std::uint8_t>;

// Independent of the link's code on purpose: tests check the link against these.
std::uint16_t ReferenceFcs(const Bytes& payload);
// payload + FCS, stuffed, closing flag; with an opening flag when asked.
Bytes ReferenceFrame(const Bytes& payload, bool openingFlag);
Bytes Concat(std::initializer_list<Bytes> parts);
std::string Hex(const Bytes& bytes);

// The device end of a pseudo-terminal pair, registered as a numbered port in a private
// port registry (TAPFIX_PORTS_DIR points at it while the peer lives).
class PtyPeer {
  public:
    // Answers to one request: each entry is written separately, after its delay.
    struct Write {
        Bytes bytes;
        std::chrono::milliseconds delay{0};
    };
    using Responder = std::function<std::vector<Write>(const Bytes& request)>;

    explicit PtyPeer(int portNumber = 7, const std::string& displayName = "Test Diagnostics 9025");
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    int PortNumber() const { return portNumber_; }
    const std::filesystem::path& Registry() const { return dir_.Path(); }

    // Starts answering every request frame (bytes up to a closing 0x7E) with the responder.
    void Respond(Responder responder);
    // Answers every request with the same writes.
    void AnswerAlways(std::vector<Write> writes);
    // Requests seen so far, each as it came over the wire.
    std::vector<Bytes> Requests() const;
    // Waits until at least n requests have arrived.
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout);

    // Writes bytes as the device, now.
    void Send(const Bytes& bytes);
    // Reads what the host sent until the line is quiet for `quiet` (no responder running).
    Bytes Collect(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
    // The device leaves the bus: the port's name goes and the host sees a hang-up.
    void Vanish();

  private:
    void Serve();
    void HandleRequest(const Bytes& request);

    TempDir dir_;
    int portNumber_;
    int master_ = -1;
    int slaveKeeper_ = -1;
    ScopedEnvironment registry_{"TAPFIX_PORTS_DIR", dir_.Path()};

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Bytes> requests_;
    Responder responder_;
    bool stopping_ = false;
    std::thread server_;
};

}  // namespace tapfix::test
