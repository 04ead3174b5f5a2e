#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tapfix::config {

// A file name that download.xml lists is opened below the image folder; a name from a damaged
// or hostile package must not reach anything outside it. Returns why `name` may not be used
// there: it is absolute, holds a ".." component or a NUL, or resolves outside the folder once
// symbolic links are followed. Empty when the name stays inside.
std::string WhyNameLeavesFolder(const std::filesystem::path& folder, std::string_view name);

}  // namespace tapfix::config
