#pragma once

#include <string_view>

// The window's text table: English texts under even ids, their Russian counterparts under the
// next id (a few pairs break that rule and are listed as they are), and three standalone
// entries.
namespace tapfix::config {

enum class UiLanguage { English, Russian };

inline constexpr int kTextEnglishName = 181;  // caption of the language button in Russian mode
inline constexpr int kTextRussianName = 182;  // ... and in English mode
inline constexpr int kTextCaption = 183;

// The entry with the id, or the empty text for an id the table does not hold.
std::string_view UiText(int id);
// The English entry when `english` is true, else the Russian one.
std::string_view LoadUiText(int englishId, int russianId, bool english);

}  // namespace tapfix::config
