#include "sim/boot_loader.hpp"
#include "sim/mode_handler.hpp"
#include "sim/normal_mode.hpp"
#include "sim/programmer.hpp"
#include "sim/sahara_mode.hpp"

namespace tapfix::sim {

std::string_view ModeName(DeviceMode mode) {
    switch (mode) {
        case DeviceMode::Normal:
            return "normal";
        case DeviceMode::Download:
            return "download";
        case DeviceMode::Programmer:
            return "programmer";
    }
    return "unknown";
}

std::unique_ptr<ModeHandler> CreateModeHandler(DeviceMode mode, const DeviceProfile& profile) {
    switch (mode) {
        case DeviceMode::Normal:
            return std::make_unique<NormalModeHandler>();
        case DeviceMode::Download:
            if (profile.boot == BootProtocol::Sahara) {
                return std::make_unique<SaharaHandler>();
            }
            return std::make_unique<BootLoaderHandler>();
        case DeviceMode::Programmer:
            return std::make_unique<ProgrammerHandler>();
    }
    return nullptr;
}

void HandOverToProgrammer(DeviceContext& context) {
    const DeviceProfile& profile = context.Profile();
    if (profile.programmerReenumerates) {
        context.Reenumerate(DeviceMode::Programmer, profile.programmerStartTime,
                            "programmer start");
    } else {
        context.ContinueIn(DeviceMode::Programmer);
    }
}

}  // namespace tapfix::sim
