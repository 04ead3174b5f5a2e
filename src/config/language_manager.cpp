#include "config/language_manager.hpp"

#include <algorithm>

namespace tapfix::config {
namespace {

// Parsed once per language; the texts never change while the program runs.
const platform::ProfileText& BuiltInTexts(UiLanguage language) {
    static const platform::ProfileText english =
        platform::ProfileText::Parse(BuiltInLanguageProfile(UiLanguage::English));
    static const platform::ProfileText russian =
        platform::ProfileText::Parse(BuiltInLanguageProfile(UiLanguage::Russian));
    return language == UiLanguage::English ? english : russian;
}

}  // namespace

std::vector<std::string> TextKeys() {
    return BuiltInTexts(UiLanguage::English).Names(CLanguageManager::kSection);
}

std::string CLanguageManager::GetText(std::string_view key) const {
    std::string builtIn;
    platform::ReadProfileString(BuiltInTexts(Language()), kSection, key, "", builtIn,
                                kTextCapacity);
    if (!textFile_) {
        return builtIn;
    }
    std::string text;
    platform::ReadProfileString(*textFile_, kSection, key, builtIn, text, kTextCapacity);
    return text;
}

bool CLanguageManager::LoadTextFile(const std::filesystem::path& file,
                                    std::vector<std::string>& lacking, std::string& error) {
    lacking.clear();
    if (file.empty()) {
        textFile_.reset();
        return true;
    }
    std::optional<platform::ProfileText> loaded = platform::ProfileText::Load(file, &error);
    if (!loaded) {
        return false;
    }
    for (const std::string& key : TextKeys()) {
        if (!loaded->Find(kSection, key)) {
            lacking.push_back(key);
        }
    }
    if (lacking.size() == TextKeys().size()) {
        lacking.clear();
        error = file.string() + " is not a text table: it has no section [" +
                std::string(kSection) + "] with any of the program's keys";
        return false;
    }
    textFile_ = std::move(loaded);
    return true;
}

}  // namespace tapfix::config
