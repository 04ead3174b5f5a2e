#include "link/serial.hpp"

#include <cerrno>

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
    openDevice_ = device.value_or(std::filesystem::path());
    if (!device) {
        openFailure_ = "COM" + std::to_string(portNumber) + " is not present";
        openErrno_ = ENOENT;
        return false;
    }
    if (!port_.Open(*device, raiseDtr, purge)) {
        openFailure_ = port_.OpenError();
        openErrno_ = port_.OpenErrno();
        return false;
    }
    openFailure_.clear();
    openErrno_ = 0;
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
