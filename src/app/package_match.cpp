#include "app/package_match.hpp"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/download_config.hpp"
#include "platform/utf16.hpp"

namespace tapfix::app {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kSearchWindow = 1024;
constexpr std::size_t kSearchSlack = 18;
constexpr std::string_view kVersionMarker = "QC_IMAGE_VERSION_STRING=";
constexpr std::size_t kLongestVersion = 128;
constexpr std::size_t kMostVersions = 8;

bool IsVersionCharacter(char c) {
    return c > ' ' && c < 0x7F;
}

struct SplitBuildId {
    std::string_view prefix;
    std::vector<std::string_view> version;
};

// The build id's text before its last "V" and the numbers of the version after it; nothing
// when it has no such version.
std::optional<SplitBuildId> SplitAtVersion(std::string_view buildId) {
    const std::size_t lastV = buildId.rfind('V');
    if (lastV == std::string_view::npos) {
        return std::nullopt;
    }
    SplitBuildId split{buildId.substr(0, lastV), {}};
    for (std::string_view number : config::SplitPieces(buildId.substr(lastV + 1), '.')) {
        if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t first = number.find_first_not_of('0');
        split.version.push_back(first == std::string_view::npos ? "0" : number.substr(first));
    }
    return split;
}

// Numbers without leading zeros compare by length first; a missing number counts as 0.
int CompareVersions(const std::vector<std::string_view>& a,
                    const std::vector<std::string_view>& b) {
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string_view x = i < a.size() ? a[i] : "0";
        const std::string_view y = i < b.size() ? b[i] : "0";
        if (x.size() != y.size()) {
            return x.size() < y.size() ? -1 : 1;
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

}  // namespace

bool IsDowngrade(std::string_view packageBuildId, std::string_view routerBuildId) {
    const auto package = SplitAtVersion(packageBuildId);
    const auto router = SplitAtVersion(routerBuildId);
    return package && router && package->prefix == router->prefix &&
           CompareVersions(package->version, router->version) < 0;
}

bool PackageMatchesDevice(const std::filesystem::path& image, std::string_view buildId,
                          platform::Clock& clock) {
    const std::size_t lastV = buildId.rfind('V');
    const std::string_view prefix =
        lastV == std::string_view::npos ? buildId : buildId.substr(0, lastV);
    if (prefix.empty()) {
        return false;
    }
    if (SearchFileForText(image, prefix)) {
        return true;
    }
    clock.Sleep(platform::ScaledWait(500ms));
    return SearchFileForText(image, prefix);
}

bool SearchFileForText(const std::filesystem::path& file, std::string_view text) {
    // Counted in bytes, which for UTF-8 is at least the text's UTF-16 length.
    const std::size_t overlap = text.size() + kSearchSlack;
    std::ifstream in(file, std::ios::binary);
    if (!in || overlap >= kSearchWindow) {
        return false;
    }
    const std::u16string wanted = platform::Utf8ToUtf16(text);
    std::string window(kSearchWindow, '\0');
    for (std::uint64_t position = 0;; position += kSearchWindow - overlap) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(position));
        in.read(window.data(), static_cast<std::streamsize>(window.size()));
        const auto length = static_cast<std::size_t>(in.gcount());
        std::string block = window.substr(0, length);
        for (char& byte : block) {
            byte = byte == '\0' ? ' ' : byte;
        }
        if (platform::Utf8ToUtf16(block).find(wanted) != std::u16string::npos) {
            return true;
        }
        // The last window is the file's tail, however short.
        if (length < kSearchWindow) {
            return false;
        }
    }
}

std::vector<std::string> ImageVersionStrings(const std::filesystem::path& image) {
    std::ifstream in(image, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string bytes = content.str();
    std::vector<std::string> found;
    for (std::size_t at = bytes.find(kVersionMarker);
         at != std::string::npos && found.size() < kMostVersions;
         at = bytes.find(kVersionMarker, at + 1)) {
        const std::size_t begin = at + kVersionMarker.size();
        std::size_t end = begin;
        while (end < bytes.size() && end - begin < kLongestVersion &&
               IsVersionCharacter(bytes[end])) {
            ++end;
        }
        std::string version = bytes.substr(begin, end - begin);
        if (!version.empty() && std::find(found.begin(), found.end(), version) == found.end()) {
            found.push_back(std::move(version));
        }
    }
    return found;
}

}  // namespace tapfix::app
