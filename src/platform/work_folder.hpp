#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tapfix::platform {

// tapfix's folder in the user's state directory: $XDG_STATE_HOME/tapfix, by default
// ~/.local/state/tapfix. Empty when neither variable gives a home.
std::filesystem::path UserStateFolder();

// The per-user folder that receives the firmware package and keeps the NV backup across runs
// (and reboots): $XDG_STATE_HOME/tapfix/TapfixUpdate/, by default
// ~/.local/state/tapfix/TapfixUpdate/. Empty when neither variable gives a home.
std::filesystem::path DefaultWorkFolder();

// What PrepareWorkFolder made of the request.
struct WorkFolder {
    // Ends with "/".
    std::filesystem::path path;
    // The requested folder when others may enter it: `path` is then its private folder
    // kPrivateSubfolder. Empty otherwise.
    std::filesystem::path sharedRequested;
};

inline constexpr std::string_view kPrivateSubfolder = "tapfix";

// Prepares `requested`, or the default when empty, and checks that it is a real folder owned
// by this user. A folder it creates is private (0700), and so is the default folder; a folder
// the user named keeps its rights, and when others may enter it the work folder is its private
// subfolder kPrivateSubfolder instead.
bool PrepareWorkFolder(const std::filesystem::path& requested, WorkFolder& folder,
                       std::string& error);

}  // namespace tapfix::platform
