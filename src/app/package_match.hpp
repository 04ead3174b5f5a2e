#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"

// Whether the package fits the router.
namespace tapfix::app {

// The router's build id, up to its last "V", occurs in the image (searched twice, 500 ms
// apart). An empty prefix never matches.
bool PackageMatchesDevice(const std::filesystem::path& image, std::string_view buildId,
                          platform::Clock& clock);
// Both build ids are comparable (the same text before their last "V", and after it a version:
// numbers separated by ".") and the package's version is the lower one.
bool IsDowngrade(std::string_view packageBuildId, std::string_view routerBuildId);
// Searches the file in 1,024-byte windows that overlap by the text's length + 18 bytes, zero
// bytes read as spaces, so a text across a window boundary is found too; the file's last,
// shorter window is searched as well.
bool SearchFileForText(const std::filesystem::path& file, std::string_view text);
// The build ids an image names ("QC_IMAGE_VERSION_STRING=..."), each once: what the package
// accepts, for the log.
std::vector<std::string> ImageVersionStrings(const std::filesystem::path& image);

}  // namespace tapfix::app
