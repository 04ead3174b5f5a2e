#include "platform/profile.hpp"

#include <algorithm>

#include "platform/file_io.hpp"
#include "platform/utf16.hpp"

namespace tapfix::platform {
namespace {

// Language files are a few kilobytes; anything far larger is not one.
constexpr std::size_t kMaxProfileBytes = 4 * 1024 * 1024;

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

// The profile's text as UTF-8.
std::string DecodeProfile(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        return Utf16ToUtf8(DecodeUtf16Bytes(bytes.substr(2), bytes[0] == '\xFE'));
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    return IsValidUtf8(bytes) ? std::string(bytes) : Utf16ToUtf8(Utf8ToUtf16(bytes));
}

}  // namespace

ProfileText ProfileText::Parse(std::string_view bytes) {
    ProfileText profile;
    const std::string text = DecodeProfile(bytes);
    std::string_view rest = text;
    std::string section;
    bool inSection = false;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = Trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.starts_with('[')) {
            const auto close = line.find(']');
            section = Trim(line.substr(1, close == std::string_view::npos ? close : close - 1));
            inSection = true;
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || line.starts_with(';') || equals == std::string_view::npos) {
            continue;
        }
        profile.entries_.push_back({section, std::string(Trim(line.substr(0, equals))),
                                    std::string(Unquote(Trim(line.substr(equals + 1))))});
    }
    return profile;
}

std::optional<ProfileText> ProfileText::Load(const std::filesystem::path& file,
                                             std::string* error) {
    std::string bytes;
    std::string reason = "no file named";
    if (file.empty() || !ReadWholeFile(file, kMaxProfileBytes, bytes, reason)) {
        if (error != nullptr) {
            *error = reason;
        }
        return std::nullopt;
    }
    return Parse(bytes);
}

std::vector<std::string> ProfileText::Names(std::string_view section) const {
    std::vector<std::string> names;
    for (const Entry& entry : entries_) {
        const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return SameName(name, entry.name);
        });
        if (SameName(entry.section, section) && !known) {
            names.push_back(entry.name);
        }
    }
    return names;
}

std::optional<std::string> ProfileText::Find(std::string_view section,
                                             std::string_view name) const {
    for (const Entry& entry : entries_) {
        if (SameName(entry.section, section) && SameName(entry.name, name)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

std::size_t ReadProfileString(const ProfileText& profile, std::string_view section,
                              std::string_view name, std::string_view defaultText, std::string& out,
                              std::size_t capacity) {
    const std::optional<std::string> value = profile.Find(section, name);
    const std::string_view text = value ? std::string_view(*value) : defaultText;
    out = capacity == 0 ? std::string_view{} : CutToUtf16Units(text, capacity - 1);
    return Utf16Length(out);
}

std::size_t GetPrivateProfileString(std::string_view section, std::string_view name,
                                    std::string_view defaultText, std::string& out,
                                    std::size_t capacity, const std::filesystem::path& file) {
    const std::optional<ProfileText> profile = ProfileText::Load(file);
    return ReadProfileString(profile ? *profile : ProfileText{}, section, name, defaultText, out,
                             capacity);
}

}  // namespace tapfix::platform
