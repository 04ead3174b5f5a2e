#include "platform/debug_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/file_io.hpp"
#include "platform/utf16.hpp"

namespace tapfix::platform {

DebugOutput::~DebugOutput() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool DebugOutput::Open(const std::filesystem::path& file, std::string& error) {
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open the log " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
    return true;
}

void DebugOutput::SetEcho(bool toStandardError) {
    std::lock_guard lock(mutex_);
    echo_ = toStandardError;
}

void DebugOutput::Write(std::string_view text) {
    const std::string line = FormatDebugLine(text);
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        WriteAll(fd_, line);
    }
    if (echo_) {
        WriteAll(STDERR_FILENO, line);
    }
}

std::string FormatDebugLine(std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[40];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line(stamp, length);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d ", static_cast<int>(milliseconds));
    line += fraction;
    // One text, one line; nothing a device sent may reach a terminal that shows the log.
    std::string body(text);
    std::replace_if(
        body.begin(), body.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    line += PrintableText(body);
    line.push_back('\n');
    return line;
}

}  // namespace tapfix::platform
