#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tapfix::platform {

// One running copy per user: an exclusive flock on "<folder>/<name>.lock". The lock goes with
// the process (or the object), so a crashed run never blocks the next one.
class SingleInstanceLock {
  public:
    enum class Outcome { Acquired, HeldElsewhere, Failed };

    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Creates the folder, private, when needed. Failed carries the reason in `error`;
    // HeldElsewhere names the running copy there when it can be found.
    Outcome Acquire(const std::filesystem::path& folder, std::string_view name, std::string& error);
    bool Held() const { return fd_ >= 0; }

    // $XDG_RUNTIME_DIR when set (per user, cleared at logout), else tapfix's folder in the
    // user's state directory. Never beside the work folder: copies started with different work
    // folders must still find each other. Empty when neither gives a place.
    static std::filesystem::path DefaultFolder();

  private:
    int fd_ = -1;
};

}  // namespace tapfix::platform
