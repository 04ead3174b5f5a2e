// The profile (INI) reader over any bytes: every value read comes back as whole UTF-8
// characters within the reader's buffer, whatever encoding the file had.
#include "platform/profile.hpp"

#include "config/language_manager.hpp"
#include "fuzz_input.hpp"
#include "platform/utf16.hpp"

namespace tapfix::fuzz {
namespace {

constexpr std::string_view kSection = config::CLanguageManager::kSection;
constexpr std::string_view kKeys[] = {"ID_HINT_START", "ID_ERROR_FILEEXIT", "id_success_backupnv",
                                      "", "ID_HINT_START "};
constexpr std::size_t kCapacities[] = {0, 1, 2, 7, config::CLanguageManager::kTextCapacity};

Bytes AsBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// UTF-16 with its byte-order mark, in either byte order.
Bytes Utf16(std::string_view text, bool bigEndian) {
    Bytes bytes = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (const char16_t unit : platform::Utf8ToUtf16(text)) {
        const auto high = static_cast<std::uint8_t>(unit >> 8);
        const auto low = static_cast<std::uint8_t>(unit);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

}  // namespace

std::vector<Bytes> Seeds() {
    const std::string_view english = config::BuiltInLanguageProfile(config::UiLanguage::English);
    const std::string_view russian = config::BuiltInLanguageProfile(config::UiLanguage::Russian);
    return {AsBytes(english), AsBytes(russian), Utf16(russian, false), Utf16(english, true),
            AsBytes("\xEF\xBB\xBF[download_string_table]\r\n ID_HINT_START = \"quoted\" \r\n"
                    "ID_ERROR_FILEEXIT='\xFF\xFE half'\n;ID_SUCCESS_BACKUPNV=x\n[other\nk=v")};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix;
    using namespace tapfix::fuzz;
    const platform::ProfileText profile =
        platform::ProfileText::Parse({reinterpret_cast<const char*>(data), size});
    for (const std::string_view key : kKeys) {
        for (const std::size_t capacity : kCapacities) {
            std::string value;
            const std::size_t units =
                platform::ReadProfileString(profile, kSection, key, "default", value, capacity);
            Require(units == platform::Utf16Length(value));
            Require(units + 1 <= std::max<std::size_t>(capacity, 1));
            Require(platform::IsValidUtf8(value));
        }
    }
    return 0;
}
