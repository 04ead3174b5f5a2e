#include "config/failure_text.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/utf16.hpp"

namespace tapfix::config {
namespace {

std::size_t Characters(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return count;
}

TEST(FailureText, TheUserGetsTheFirstLineWithinTwoHundredCharacters) {
    const std::string cyrillic = std::string(150, 'a') + "файл повреждён и не может быть прочитан";
    const struct {
        const char* what;
        std::string failure;
        std::string line;
    } cases[] = {
        {"short", "download.xml: line 3: bad", "download.xml: line 3: bad"},
        {"details after the first line", WithDetails("summary", "<read/><more/>"), "summary"},
        {"no details", WithDetails("summary", ""), "summary"},
        {"long ASCII", std::string(300, 'x'), std::string(199, 'x') + "…"},
        {"Cyrillic within the bound", cyrillic, cyrillic},
        {"control characters", "tag <\x01\x1b[2J>", "tag <??[2J>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FailureLine(c.failure), c.line) << c.what;
    }
    // Cut between letters, never inside one.
    const std::string longCyrillic = FailureLine(cyrillic + cyrillic);
    EXPECT_TRUE(platform::IsValidUtf8(longCyrillic));
    EXPECT_EQ(Characters(longCyrillic), 200u);
    EXPECT_TRUE(longCyrillic.ends_with("…"));
    // Bytes that are no UTF-8 at all are bounded too.
    EXPECT_LT(FailureLine(std::string(100000, '\x80')).size(), 1000u);
}

}  // namespace
}  // namespace tapfix::config
