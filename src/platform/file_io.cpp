#include "platform/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tapfix::platform {
namespace {

std::string Reason(std::string_view what, const std::filesystem::path& file, int error) {
    return std::string(what) + " " + file.string() + ": " + std::strerror(error);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes, std::string& bytes,
                   std::string& error) {
    bytes.clear();
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        error = Reason("cannot open", file, errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file: " + file.string();
        return false;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        error = "file too large (" + std::to_string(info.st_size) + " bytes, at most " +
                std::to_string(maxBytes) + "): " + file.string();
        return false;
    }
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = Reason("cannot read", file, errno);
            return false;
        }
        if (got == 0) {
            break;  // the file shrank while being read
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return true;
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool AtomicFile::Open(const std::filesystem::path& file, std::string& error, unsigned permissions) {
    Discard();
    target_ = file;
    temporary_ = file.parent_path() / ("." + file.filename().string() + ".partial");
    // A temporary left by an interrupted writer keeps its old mode when reused: start afresh.
    ::unlink(temporary_.c_str());
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                 static_cast<mode_t>(permissions));
    if (fd_ < 0) {
        error = Reason("cannot create", temporary_, errno);
        temporary_.clear();
        return false;
    }
    return true;
}

bool AtomicFile::Write(std::string_view bytes, std::string& error) {
    if (fd_ < 0 || !WriteAll(fd_, bytes)) {
        error = Reason("cannot write", temporary_, fd_ < 0 ? EBADF : errno);
        Discard();
        return false;
    }
    return true;
}

bool AtomicFile::Commit(std::string& error) {
    if (fd_ < 0) {
        error = "nothing to commit for " + target_.string();
        return false;
    }
    const int fd = std::exchange(fd_, -1);
    const bool flushed = ::fsync(fd) == 0;
    if (!(::close(fd) == 0 && flushed)) {
        error = Reason("cannot write", temporary_, errno);
        Discard();
        return false;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = Reason("cannot replace", target_, errno);
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

bool FlushFolder(const std::filesystem::path& folder, std::string& error) {
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) {
        error = Reason("cannot flush", folder, errno);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         std::string& error, unsigned permissions) {
    AtomicFile out;
    return out.Open(file, error, permissions) && out.Write(bytes, error) && out.Commit(error);
}

}  // namespace tapfix::platform
