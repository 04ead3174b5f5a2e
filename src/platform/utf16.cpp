#include "platform/utf16.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace tapfix::platform {
namespace {

struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

// One well-formed UTF-8 sequence at the start of `text`, or nothing.
std::optional<Decoded> DecodeUtf8(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return Decoded{lead, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = value << 6 | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return Decoded{value, length};
}

void AppendUtf16(std::u16string& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | codePoint >> 10));
    out.push_back(static_cast<char16_t>(0xDC00 | (codePoint & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | codePoint >> 6));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | codePoint >> 12));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | codePoint >> 18));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto decoded = DecodeUtf8(text);
        const Decoded step = decoded ? *decoded : Decoded{static_cast<std::uint8_t>(text[0]), 1};
        AppendUtf16(out, step.codePoint);
        text.remove_prefix(step.length);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    while (!text.empty()) {
        const auto decoded = DecodeUtf8(text);
        if (!decoded) {
            return false;
        }
        text.remove_prefix(decoded->length);
    }
    return true;
}

std::u16string DecodeUtf16Bytes(std::string_view bytes, bool bigEndian) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        text.push_back(
            static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first));
    }
    return text;
}

std::size_t Utf16Length(std::string_view text) {
    return Utf8ToUtf16(text).size();
}

std::string_view CutToUtf16Units(std::string_view text, std::size_t units) {
    std::size_t bytes = 0;
    while (bytes < text.size()) {
        const auto decoded = DecodeUtf8(text.substr(bytes));
        const Decoded step = decoded ? *decoded : Decoded{0, 1};
        const std::size_t needed = step.codePoint >= 0x10000 ? 2 : 1;
        if (needed > units) {
            break;
        }
        units -= needed;
        bytes += step.length;
    }
    return text.substr(0, bytes);
}

std::string PrintableText(std::string_view text, bool keepLineFeeds) {
    const auto isControl = [](char16_t unit) {
        return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    };
    if (std::none_of(text.begin(), text.end(), [](char byte) {
            return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F ||
                   static_cast<unsigned char>(byte) >= 0x80;
        })) {
        return std::string(text);
    }
    std::u16string units = Utf8ToUtf16(text);
    for (char16_t& unit : units) {
        if (isControl(unit) && !(keepLineFeeds && unit == u'\n')) {
            unit = u'?';
        }
    }
    return Utf16ToUtf8(units);
}

}  // namespace tapfix::platform
