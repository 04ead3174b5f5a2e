#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace tapfix::test {

// A case's description as a test name: its letters and digits.
inline std::string TestNameOf(std::string_view description) {
    std::string name;
    for (const char letter : description) {
        if (std::isalnum(static_cast<unsigned char>(letter))) {
            name += letter;
        }
    }
    return name;
}

}  // namespace tapfix::test
