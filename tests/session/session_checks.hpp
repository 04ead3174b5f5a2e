#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "config/download_config.hpp"
#include "session/notifier.hpp"

namespace tapfix::test {

// One notification as the front-end sees it: its kind, its text and its value.
struct Heard {
    int kind = 0;
    std::string text;
    int value = 0;

    bool operator==(const Heard&) const = default;
    friend void PrintTo(const Heard& heard, std::ostream* out) {
        *out << "{" << heard.kind << ", \"" << heard.text << "\", " << heard.value << "}";
    }
};

std::vector<Heard> HeardOf(const std::vector<session::Notification>& notifications);

// A notification of `kind` whose text contains `part`.
struct Expected {
    int kind = 0;
    std::string part;
};
// The notifications hold the expected ones in this order (others may come between).
void ExpectInOrder(const std::vector<session::Notification>& notifications,
                   const std::vector<Expected>& expected);

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& file);
std::string FileSha256(const std::filesystem::path& file);

// The images the simulator wrote are the entries' files, byte for byte, in list order.
void ExpectImagesWritten(const std::vector<nlohmann::json>& written,
                         const std::vector<config::DownloadFile>& files);

// The position of the first trace record of `event` (with that request name, when given) at
// or after `from`; the record count when there is none.
std::size_t TraceIndex(const std::vector<nlohmann::json>& records, std::string_view event,
                       std::string_view name = {}, std::size_t from = 0);

}  // namespace tapfix::test
