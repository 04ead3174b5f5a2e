#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ui_text.hpp"
#include "platform/profile.hpp"

namespace tapfix::config {

// Turns the session's text keys (ID_HINT_*, ID_ERROR_*, ID_SUCCESS_*) into display text read
// from section "Download_String_Table" of a profile text. The texts ship with the program in
// English and Russian; a text file loaded with LoadTextFile replaces those it holds.
class CLanguageManager {
  public:
    static constexpr std::string_view kSection = "Download_String_Table";
    // The profile read's buffer, in UTF-16 units with the terminating zero.
    static constexpr std::size_t kTextCapacity = 1024;

    CLanguageManager() = default;
    virtual ~CLanguageManager() = default;
    CLanguageManager(const CLanguageManager&) = delete;
    CLanguageManager& operator=(const CLanguageManager&) = delete;

    // The key's text: the loaded file's, else the built-in one of the language; the empty text
    // for a key the program does not know.
    std::string GetText(std::string_view key) const;

    // Follows the window's language; read by the session's threads.
    void SetLanguage(UiLanguage language) { language_.store(language); }
    UiLanguage Language() const { return language_.load(); }

    // Takes the texts of a file; the keys it lacks keep their built-in texts and are listed in
    // `lacking`. Refuses, with the reason in `error` and the texts unchanged, a file that
    // cannot be read or is no text table: no section "Download_String_Table" with any of the
    // program's keys. An empty path returns to the built-in texts. Called at start-up, before
    // any thread reads.
    bool LoadTextFile(const std::filesystem::path& file, std::vector<std::string>& lacking,
                      std::string& error);

  private:
    std::atomic<UiLanguage> language_{UiLanguage::Russian};
    std::optional<platform::ProfileText> textFile_;
};

// The keys the session and the NV steps look up: those of the built-in texts.
std::vector<std::string> TextKeys();

// The built-in profile text of a language (UTF-8, one "[Download_String_Table]" section).
std::string_view BuiltInLanguageProfile(UiLanguage language);

}  // namespace tapfix::config
