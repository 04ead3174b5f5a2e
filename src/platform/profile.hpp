#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A profile (INI) text reader with the semantics of the Windows profile API that the language
// manager's text files are written for: "[section]" headers, "name=value" entries, section and
// entry names compared without regard to ASCII case, blanks around names and values dropped,
// one pair of matching quotes around a value removed, the first matching entry wins.
namespace tapfix::platform {

class ProfileText {
  public:
    // Text in UTF-8 or UTF-16 with a byte-order mark (a UTF-8 mark is skipped).
    static ProfileText Parse(std::string_view bytes);
    // Nothing when the file is missing or unreadable; `error`, when given, then says why.
    static std::optional<ProfileText> Load(const std::filesystem::path& file,
                                           std::string* error = nullptr);

    std::optional<std::string> Find(std::string_view section, std::string_view name) const;
    // The entry names of a section, in file order, each once.
    std::vector<std::string> Names(std::string_view section) const;

  private:
    struct Entry {
        std::string section;
        std::string name;
        std::string value;
    };
    std::vector<Entry> entries_;
};

// The profile read of the Windows API: copies the entry's value (or `defaultText` when the entry
// or the file is missing) into `out`, cut to `capacity` - 1 UTF-16 units as the API's buffer of
// `capacity` units with its terminating zero would; returns the number of units copied.
std::size_t GetPrivateProfileString(std::string_view section, std::string_view name,
                                    std::string_view defaultText, std::string& out,
                                    std::size_t capacity, const std::filesystem::path& file);
// The same over text already parsed.
std::size_t ReadProfileString(const ProfileText& profile, std::string_view section,
                              std::string_view name, std::string_view defaultText, std::string& out,
                              std::size_t capacity);

}  // namespace tapfix::platform
