#pragma once

#include <filesystem>
#include <memory>

#include "app/notification_channel.hpp"
#include "app/window_controller.hpp"
#include "platform/debug_output.hpp"
#include "platform/single_instance.hpp"

namespace tapfix::gui {

struct StartOptions {
    std::filesystem::path workFolder;  // empty: the per-user default
    std::filesystem::path package;     // empty: the package this program carries
    bool verbose = false;
};

// The window program from launch to a running window: one copy per user, the language's texts,
// the work folder with the package written out, the configuration pointed at it and loaded.
class CStartUp {
  public:
    CStartUp(StartOptions options, app::CNotificationChannel& channel);
    ~CStartUp();
    CStartUp(const CStartUp&) = delete;
    CStartUp& operator=(const CStartUp&) = delete;

    app::UpdateControl& Control();
    app::DebugSink DebugSink();
    // Tells the user itself why the program cannot start; false: the program ends.
    bool Run(app::CWindowController& controller, bool english);
    // After the window has closed: releases every waiting sender.
    void Finish();

  private:
    class NoDeviceControl;

    bool InitializeTool(std::string& error);

    StartOptions options_;
    app::CNotificationChannel& channel_;
    platform::SingleInstanceLock lock_;
    platform::DebugOutput debugOutput_;
    std::unique_ptr<NoDeviceControl> control_;
};

}  // namespace tapfix::gui
