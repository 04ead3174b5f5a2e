#pragma once

#include <filesystem>
#include <string>

namespace tapfix::platform {

// tapfix's folder in the user's state directory: $XDG_STATE_HOME/tapfix, by default
// ~/.local/state/tapfix. Empty when neither variable gives a home.
std::filesystem::path UserStateFolder();

// The per-user folder that receives the firmware package and keeps the NV backup across runs
// (and reboots): $XDG_STATE_HOME/tapfix/TapfixUpdate/, by default
// ~/.local/state/tapfix/TapfixUpdate/. Empty when neither variable gives a home.
std::filesystem::path DefaultWorkFolder();

// Creates the folder (`requested`, or the default when empty) with mode 0700 and checks that it
// is a real folder owned by this user: a symlink or someone else's folder could redirect the
// user's calibration backup. The folder comes back ending with "/".
bool PrepareWorkFolder(const std::filesystem::path& requested, std::filesystem::path& folder,
                       std::string& error);

}  // namespace tapfix::platform
