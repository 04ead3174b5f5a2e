#include "session/file_bytes.hpp"

#include "platform/file_io.hpp"

namespace tapfix::session {

std::optional<Bytes> ReadFileBytes(const std::filesystem::path& file, std::size_t maxBytes,
                                   std::string& error) {
    std::string bytes;
    if (!platform::ReadWholeFile(file, maxBytes, bytes, error)) {
        return std::nullopt;
    }
    return Bytes(bytes.begin(), bytes.end());
}

bool ImageFile::Open(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t length = std::filesystem::file_size(file, ec);
    if (ec) {
        return false;
    }
    stream_.open(file, std::ios::binary);
    length_ = length;
    return stream_.is_open();
}

bool ImageFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) {
    if (offset > length_ || length_ - offset < into.size()) {
        return false;
    }
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    return stream_.gcount() == static_cast<std::streamsize>(into.size());
}

}  // namespace tapfix::session
