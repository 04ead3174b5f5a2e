#pragma once

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

    // Why the last open failed, for logs; open failures set no LastError.
    const std::string& OpenFailure() const { return openFailure_; }

  protected:
    platform::SerialPort& Port() { return port_; }

  private:
    bool Open(int portNumber, bool raiseDtr, platform::SerialPort::Purge purge);

    platform::SerialPort port_;
    std::string openFailure_;
};

}  // namespace tapfix::link
