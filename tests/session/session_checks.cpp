#include "session_checks.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "sim/flash_model.hpp"

namespace tapfix::test {

std::vector<Heard> HeardOf(const std::vector<session::Notification>& notifications) {
    std::vector<Heard> heard;
    for (const auto& notification : notifications) {
        heard.push_back({notification.kind, notification.text, notification.value});
    }
    return heard;
}

void ExpectInOrder(const std::vector<session::Notification>& notifications,
                   const std::vector<Expected>& expected) {
    auto next = notifications.begin();
    for (const Expected& wanted : expected) {
        next = std::find_if(next, notifications.end(), [&](const auto& notification) {
            return notification.kind == wanted.kind &&
                   notification.text.find(wanted.part) != std::string::npos;
        });
        if (next == notifications.end()) {
            ADD_FAILURE() << "no kind " << wanted.kind << " \"" << wanted.part
                          << "\" in order; heard: "
                          << ::testing::PrintToString(HeardOf(notifications));
            return;
        }
        ++next;
    }
}

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FileSha256(const std::filesystem::path& file) {
    return sim::flash::Sha256Hex(FileBytes(file));
}

void ExpectImagesWritten(const std::vector<nlohmann::json>& written,
                         const std::vector<config::DownloadFile>& files) {
    ASSERT_EQ(written.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(written[i].at("sha256"), FileSha256(files[i].path)) << files[i].path;
        EXPECT_EQ(written[i].at("bytes"), files[i].size) << files[i].path;
    }
}

std::size_t TraceIndex(const std::vector<nlohmann::json>& records, std::string_view event,
                       std::string_view name, std::size_t from) {
    for (std::size_t i = from; i < records.size(); ++i) {
        if (records[i].at("event") == event &&
            (name.empty() || records[i].value("name", "") == name)) {
            return i;
        }
    }
    return records.size();
}

}  // namespace tapfix::test
