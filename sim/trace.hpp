#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace tapfix::sim {

// What the device saw and did, one JSON object per line: every decoded request, every port
// that appeared or went, every fault applied. Tests assert on it; people read it.
class Trace {
  public:
    Trace();
    // Appends to the file from now on; false with a reason when it cannot be opened.
    bool OpenFile(const std::filesystem::path& path, std::string* error);

    // Adds "event" and "ms" (milliseconds since the trace began) to the record.
    void Record(std::string_view event, nlohmann::json fields = nlohmann::json::object());
    std::vector<nlohmann::json> Records() const;

  private:
    const std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::ofstream file_;
    std::vector<nlohmann::json> records_;
};

}  // namespace tapfix::sim
