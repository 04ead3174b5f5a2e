#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "nv/nv_record.hpp"

namespace tapfix::nv {

// Fills the "%s" and "%d" fields of a message, in order, with the given texts; the messages
// keep the device vendor's wording, fields included.
inline std::string FormatText(std::string_view pattern,
                              std::initializer_list<std::string_view> values) {
    std::string text;
    auto value = values.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool field = pattern[i] == '%' && i + 1 < pattern.size() &&
                           (pattern[i + 1] == 's' || pattern[i + 1] == 'd');
        if (field && value != values.end()) {
            text += *value++;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

// The line an NV item's messages start with: "%s %d..." (step text, item number).
inline std::string ItemLine(std::string_view stepText, int item) {
    return FormatText("%s %d...", {stepText, std::to_string(item)});
}

// An item that failed: its line, the NV status name and the link's reason.
inline std::string ItemFailure(std::string_view stepText, int item, std::uint16_t status,
                               std::string_view reason) {
    return ItemLine(stepText, item) + " " + std::string(NvStatusName(status)) + ": " +
           std::string(reason);
}

}  // namespace tapfix::nv
