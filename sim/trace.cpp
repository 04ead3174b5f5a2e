#include "sim/trace.hpp"

namespace tapfix::sim {

Trace::Trace() : start_(std::chrono::steady_clock::now()) {}

bool Trace::OpenFile(const std::filesystem::path& path, std::string* error) {
    std::lock_guard lock(mutex_);
    file_.open(path, std::ios::out | std::ios::app);
    if (!file_) {
        *error = "cannot open the trace file " + path.string();
        return false;
    }
    return true;
}

void Trace::Record(std::string_view event, nlohmann::json fields) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    fields["event"] = event;
    fields["ms"] = elapsed.count();
    std::lock_guard lock(mutex_);
    if (file_.is_open()) {
        // Device text may hold any byte; replace what is not UTF-8 rather than throw.
        file_ << fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        file_.flush();
    }
    records_.push_back(std::move(fields));
}

std::vector<nlohmann::json> Trace::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

}  // namespace tapfix::sim
