#include "config/helper_programs.hpp"

#include <string>

namespace tapfix::config {

void RunDriverInstaller(std::string_view fileName, const LogSink& log) {
    log("driver installer " + std::string(fileName) +
        " skipped: on Linux the kernel's option and qcserial drivers serve the router");
}

void RunModeSwitch(platform::Clock& clock, const LogSink& log) {
    using namespace std::chrono_literals;
    clock.Sleep(platform::ScaledWait(2000ms));
    log("no router port yet: if the router shows up only as a CD-ROM or USB storage device "
        "(see lsusb), eject it or check that usb_modeswitch is installed; udev switches known "
        "routers to their modem mode");
}

}  // namespace tapfix::config
