#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The window's text table: English texts under even ids, their Russian counterparts under the
// next id (a few pairs break that rule and are listed as they are), and three standalone
// entries.
namespace tapfix::config {

enum class UiLanguage { English, Russian };

inline constexpr int kTextEnglishName = 181;  // caption of the language button in Russian mode
inline constexpr int kTextRussianName = 182;  // ... and in English mode
inline constexpr int kTextCaption = 183;

// Texts of this build beyond the window's table, English id (Russian: the next id).
inline constexpr int kTextPortHeldByModemManager = 240;
inline constexpr int kTextPortHeld = 242;
inline constexpr int kTextPortInUse = 244;
inline constexpr int kTextPortPermission = 246;
inline constexpr int kTextPortCannotOpen = 248;
inline constexpr int kTextRestarting = 250;
inline constexpr int kTextSharedWorkFolder = 252;

// The entry with the id, or the empty text for an id the table does not hold.
std::string_view UiText(int id);
// The English entry when `english` is true, else the Russian one.
std::string_view LoadUiText(int englishId, int russianId, bool english);
// The text with each "%s" replaced by the next value (an empty one once they run out).
std::string FillText(std::string_view text, std::initializer_list<std::string_view> values);
// The English (id) or Russian (id + 1) entry of a pair.
inline std::string_view PairText(int englishId, bool english) {
    return LoadUiText(englishId, englishId + 1, english);
}

}  // namespace tapfix::config
