#pragma once

#include <optional>
#include <string_view>

namespace tapfix::config {

// The character a named entity stands for: the five of XML and the 252 of HTML 4.
std::optional<char32_t> LookupEntity(std::u16string_view name);

}  // namespace tapfix::config
