#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace tapfix::test {

// Ends the test program with a message when the guarded scope has not ended in time: a test of
// a hang fails instead of hanging. The limit is generous; the measured bound is asserted apart.
class HangGuard {
  public:
    HangGuard(std::chrono::seconds limit, std::string what)
        : what_(std::move(what)), watcher_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "hung: %s\n", what_.c_str());
                  std::abort();
              }
          }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        watcher_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

  private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watcher_;
};

}  // namespace tapfix::test
