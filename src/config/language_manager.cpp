#include "config/language_manager.hpp"

#include "platform/profile.hpp"

namespace tapfix::config {

std::string CLanguageManager::GetText(std::string_view key) const {
    std::string text;
    if (!textFile_.empty()) {
        platform::GetPrivateProfileString(kSection, key, "", text, kTextCapacity, textFile_);
        return text;
    }
    // Parsed once per language; the texts never change while the program runs.
    static const platform::ProfileText english =
        platform::ProfileText::Parse(BuiltInLanguageProfile(UiLanguage::English));
    static const platform::ProfileText russian =
        platform::ProfileText::Parse(BuiltInLanguageProfile(UiLanguage::Russian));
    platform::ReadProfileString(Language() == UiLanguage::English ? english : russian, kSection,
                                key, "", text, kTextCapacity);
    return text;
}

}  // namespace tapfix::config
