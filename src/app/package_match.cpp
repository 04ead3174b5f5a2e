#include "app/package_match.hpp"

#include <fstream>
#include <string>

#include "platform/utf16.hpp"

namespace tapfix::app {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kSearchWindow = 1024;
constexpr std::size_t kSearchSlack = 18;

}  // namespace

bool HasSavedBackup(const session::PortContext& context) {
    const std::ifstream saved(context.nvRoot / kSavedBackupFolder / "Channel0.nv",
                              std::ios::binary);
    return saved.is_open();
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

}  // namespace tapfix::app
