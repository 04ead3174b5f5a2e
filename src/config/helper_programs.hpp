#pragma once

#include <functional>
#include <string_view>

#include "platform/clock.hpp"

// The package's Windows helper programs (two USB driver installers and the USB mode switch).
// On Linux the kernel's option and qcserial drivers serve the router and udev runs
// usb_modeswitch for known devices, so nothing is launched: the steps say so in the log.
namespace tapfix::config {

using LogSink = std::function<void(std::string_view)>;

// "setup.exe" or "setupOLD.exe": logs that the installer is skipped and returns at once.
void RunDriverInstaller(std::string_view fileName, const LogSink& log);

// Waits 2 s (scaled), as before the mode switch, then logs what the user can check when the
// router stays in its storage mode.
void RunModeSwitch(platform::Clock& clock, const LogSink& log);

}  // namespace tapfix::config
