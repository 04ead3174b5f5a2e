#include "link/serial.hpp"

#include "platform/port_registry.hpp"

namespace tapfix::link {

CSerial::~CSerial() {
    ClosePort();
}

bool CSerial::Open(int portNumber, bool raiseDtr, platform::SerialPort::Purge purge) {
    if (IsPortOpen()) {
        return true;
    }
    const auto device = platform::ResolvePortDevice(portNumber);
    if (!device) {
        openFailure_ = "COM" + std::to_string(portNumber) + " is not present";
        return false;
    }
    if (!port_.Open(*device, raiseDtr, purge)) {
        openFailure_ = port_.OpenError();
        return false;
    }
    openFailure_.clear();
    return true;
}

bool CSerial::OpenPort(int portNumber) {
    return Open(portNumber, true, platform::SerialPort::Purge::Both);
}

bool CSerial::OpenPortNoDtr(int portNumber) {
    return Open(portNumber, false, platform::SerialPort::Purge::TransmitOnly);
}

bool CSerial::ClosePort() {
    port_.Close();
    return true;
}

}  // namespace tapfix::link
