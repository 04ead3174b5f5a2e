#include "platform/text_file.hpp"

#include <fstream>

namespace tapfix::platform {

std::optional<std::string> ReadFirstLine(const std::filesystem::path& file, std::size_t capacity) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(capacity, '\0');
    in.read(text.data(), static_cast<std::streamsize>(capacity));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    text.resize(std::min(text.size(), text.find('\n')));
    const auto end = text.find_last_not_of(" \t\r");
    text.resize(end == std::string::npos ? 0 : end + 1);
    return text;
}

}  // namespace tapfix::platform
