#pragma once

#include <filesystem>
#include <string>

#include "platform/serial_port.hpp"

namespace tapfix::link {

// One numbered serial port of the device, opened with the fixed line settings.
class CSerial {
  public:
    CSerial() = default;
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Raises DTR and purges both directions. True also when the port already was open.
    bool OpenPort(int portNumber);
    // Leaves DTR as the driver has it and purges only the transmit side, so bytes the device
    // sent before the open (a boot-loader hello) stay readable.
    bool OpenPortNoDtr(int portNumber);
    bool ClosePort();
    bool IsPortOpen() const { return port_.IsOpen(); }

    // Safe from another thread: the exchange in progress and every later one fail at once
    // until ResumeExchanges(), so whoever waits for the link's owner is not held by a router
    // that does not answer.
    void InterruptExchanges() { port_.Interrupt(); }
    void ResumeExchanges() { port_.Resume(); }

    // Why the last open failed, for logs; open failures set no LastError.
    const std::string& OpenFailure() const { return openFailure_; }
    // The errno of the last failed open (ENOENT for a port that is not present).
    int OpenErrno() const { return openErrno_; }
    // The device file of the last open, when the port was present.
    const std::filesystem::path& OpenDevice() const { return openDevice_; }

  protected:
    platform::SerialPort& Port() { return port_; }

  private:
    bool Open(int portNumber, bool raiseDtr, platform::SerialPort::Purge purge);

    platform::SerialPort port_;
    std::string openFailure_;
    int openErrno_ = 0;
    std::filesystem::path openDevice_;
};

}  // namespace tapfix::link
