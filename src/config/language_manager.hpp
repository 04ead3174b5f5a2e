#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/ui_text.hpp"

namespace tapfix::config {

// Turns the session's text keys (ID_HINT_*, ID_ERROR_*, ID_SUCCESS_*) into display text read
// from section "Download_String_Table" of a profile text. The texts ship with the program in
// English and Russian; a text file set with SetTextFile replaces them.
class CLanguageManager {
  public:
    static constexpr std::string_view kSection = "Download_String_Table";
    // The profile read's buffer, in UTF-16 units with the terminating zero.
    static constexpr std::size_t kTextCapacity = 1024;

    CLanguageManager() = default;
    virtual ~CLanguageManager() = default;
    CLanguageManager(const CLanguageManager&) = delete;
    CLanguageManager& operator=(const CLanguageManager&) = delete;

    // The key's text, or the empty text when the key (or the set file) is missing.
    std::string GetText(std::string_view key) const;

    // Follows the window's language; read by the session's threads.
    void SetLanguage(UiLanguage language) { language_.store(language); }
    UiLanguage Language() const { return language_.load(); }

    // An empty path returns to the built-in texts. Set at start-up, before any thread reads.
    void SetTextFile(const std::filesystem::path& file) { textFile_ = file; }
    const std::filesystem::path& TextFile() const { return textFile_; }

  private:
    std::atomic<UiLanguage> language_{UiLanguage::Russian};
    std::filesystem::path textFile_;
};

// The built-in profile text of a language (UTF-8, one "[Download_String_Table]" section).
std::string_view BuiltInLanguageProfile(UiLanguage language);

}  // namespace tapfix::config
