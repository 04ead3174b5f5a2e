#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tapfix::platform {

// One open tty in raw 115200 8N1, held exclusively. Input that arrives while the owner waits
// for an answer to settle is moved into a small user-space queue, so "bytes waiting" keeps
// growing past the kernel's 4095-byte cap and poll() can wake on the next byte.
class SerialPort {
  public:
    enum class Purge { Both, TransmitOnly };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens and configures the device; on failure the port stays closed and OpenError() says why.
    bool Open(const std::filesystem::path& device, bool raiseDtr, Purge purge);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& OpenError() const { return openError_; }
    // The errno of the last failed open (EBUSY, EWOULDBLOCK for a held lock, ENOENT, ...).
    int OpenErrno() const { return openErrno_; }

    void PurgeBuffers(Purge purge);
    std::size_t BytesWaiting();
    // The input that has arrived, left waiting: what the next Read() returns first.
    std::span<const std::uint8_t> PeekWaiting();
    // Waits until more than `known` bytes are waiting, or the time-out passes; true when more
    // are. Input that arrived since the caller counted `known` ends the wait at once. A
    // vanished device closes the port and returns false.
    bool WaitForMoreInput(std::size_t known, std::chrono::milliseconds timeout);
    // Returns what is waiting, waiting at most 30 ms for the first byte. Input that arrived
    // before the device vanished is still returned; Close() and a purge discard it.
    std::size_t Read(std::span<std::uint8_t> out);
    // Writes everything or gives up after 2 ms per byte + 500 ms; returns the bytes written.
    std::size_t Write(std::span<const std::uint8_t> data);

    // Safe from any thread: the wait in progress ends at once, and until Resume() every wait
    // closes the port and every write fails, so an exchange is abandoned, not waited out.
    void Interrupt();
    // Called once the interrupted owner has let go of the port, never alongside Interrupt().
    void Resume();

  private:
    bool Configure(bool raiseDtr);
    void AbandonOpen(int error);
    bool FailOpen(const std::string& what, int error);
    // Another process has the device: the reason names it.
    bool FailHeld(const std::filesystem::path& device, int error);
    // Moves what the kernel holds into pending_; false when the device has gone.
    bool DrainKernelInput();
    bool PollFor(short events, std::chrono::milliseconds timeout, short* revents);
    void Vanished();

    // Answers an interrupted wait and the exchange's attempts at once.
    bool TakeInterrupt();

    int fd_ = -1;
    // Lives as long as the port object, so another thread may always write to it.
    int interruptFd_ = -1;
    std::atomic<bool> interrupted_{false};
    std::vector<std::uint8_t> pending_;
    std::string openError_;
    int openErrno_ = 0;
};

}  // namespace tapfix::platform
