#include "sim/download_mode.hpp"
#include "sim/mode_handler.hpp"
#include "sim/normal_mode.hpp"

namespace tapfix::sim {

std::string_view ModeName(DeviceMode mode) {
    switch (mode) {
        case DeviceMode::Normal:
            return "normal";
        case DeviceMode::Download:
            return "download";
    }
    return "unknown";
}

std::unique_ptr<ModeHandler> CreateModeHandler(DeviceMode mode) {
    switch (mode) {
        case DeviceMode::Normal:
            return std::make_unique<NormalModeHandler>();
        case DeviceMode::Download:
            return std::make_unique<DownloadModePlaceholder>();
    }
    return nullptr;
}

}  // namespace tapfix::sim
