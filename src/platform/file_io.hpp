#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tapfix::platform {

// Writes every byte, resuming after interruptions and short writes; false on an error.
bool WriteAll(int fd, std::string_view bytes);

// Reads a whole regular file of at most `maxBytes` bytes. False with a reason otherwise.
bool ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes, std::string& bytes,
                   std::string& error);

// A file written whole: the bytes go to a temporary name beside the target, are flushed, and
// the temporary is renamed over the target on Commit, so an interrupted writer never leaves
// half a file under the real name. Without Commit the temporary is removed.
// The file is created with `permissions` (less the process's umask); a private file passes
// kPrivateFile.
inline constexpr unsigned kSharedFile = 0644;
inline constexpr unsigned kPrivateFile = 0600;

class AtomicFile {
  public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Open(const std::filesystem::path& file, std::string& error,
              unsigned permissions = kSharedFile);
    bool Write(std::string_view bytes, std::string& error);
    bool Commit(std::string& error);

  private:
    void Discard();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

// Flushes a folder's entries (files created, renamed or removed in it) to the disk, so that a
// rename survives a power cut as well as the bytes it names.
bool FlushFolder(const std::filesystem::path& folder, std::string& error);

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         std::string& error, unsigned permissions = kSharedFile);

}  // namespace tapfix::platform
