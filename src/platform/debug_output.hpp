#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace tapfix::platform {

// The debug-output channel: every step text and log line of an update, one timestamped line
// per text, appended to a log file (so a user can send the log of a failed update) and, when
// asked, echoed to standard error. Safe to use from any thread.
class DebugOutput {
  public:
    static constexpr std::string_view kFileName = "tapfix.log";

    DebugOutput() = default;
    ~DebugOutput();
    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;

    // Appends to the file from now on (created private to the user).
    bool Open(const std::filesystem::path& file, std::string& error);
    void SetEcho(bool toStandardError);
    void Write(std::string_view text);

  private:
    std::mutex mutex_;
    int fd_ = -1;
    bool echo_ = false;
};

// "2024-05-01 13:45:07.123 text\n" in local time; line breaks inside the text become spaces so
// that one text stays one line.
std::string FormatDebugLine(std::string_view text);

}  // namespace tapfix::platform
