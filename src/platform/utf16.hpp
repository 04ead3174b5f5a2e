#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Conversions between the program's UTF-8 text and the UTF-16 units that file formats and
// length limits are counted in.
namespace tapfix::platform {

// Decodes UTF-8; bytes that are not valid UTF-8 are taken as Latin-1 so that nothing is lost.
std::u16string Utf8ToUtf16(std::string_view text);
// Encodes UTF-16; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);
// UTF-16 units from bytes in either byte order; an odd last byte is dropped.
std::u16string DecodeUtf16Bytes(std::string_view bytes, bool bigEndian);
// Number of UTF-16 units the UTF-8 text takes.
std::size_t Utf16Length(std::string_view text);
// The longest prefix of the UTF-8 text that fits in `units` UTF-16 units, never splitting a
// character.
std::string_view CutToUtf16Units(std::string_view text, std::size_t units);

// The text with every control character (C0, DEL, C1) replaced by '?', so that text from a
// device cannot drive the terminal or the log reader; line feeds stay when asked to.
std::string PrintableText(std::string_view text, bool keepLineFeeds = false);

}  // namespace tapfix::platform
