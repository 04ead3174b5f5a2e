#include "config/failure_text.hpp"

namespace tapfix::config {
namespace {

constexpr std::string_view kEllipsis = "…";

bool IsContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Where the first `count` characters of UTF-8 text end; text.size() when it has no more. A
// continuation byte beyond the three a character can have counts as a character of its own, so
// binary text is bounded too.
std::size_t EndOfCharacters(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    int continuations = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool continues = IsContinuationByte(text[at]) && continuations < 3;
        continuations = continues ? continuations + 1 : 0;
        if (!continues && seen++ == count) {
            return at;
        }
    }
    return text.size();
}

}  // namespace

std::string Excerpt(std::string_view text, std::size_t limit) {
    const std::size_t end = EndOfCharacters(text, limit);
    std::string excerpt;
    if (end < text.size()) {
        excerpt.assign(text.substr(0, EndOfCharacters(text, limit > 0 ? limit - 1 : 0)));
        excerpt += kEllipsis;
    } else {
        excerpt.assign(text);
    }
    for (char& byte : excerpt) {
        if (static_cast<unsigned char>(byte) < 0x20 || byte == '\x7F') {
            byte = '?';
        }
    }
    return excerpt;
}

std::string FailureLine(std::string_view failure) {
    return Excerpt(failure.substr(0, failure.find('\n')), kMaxFailureLine);
}

std::string WithDetails(std::string_view summary, std::string_view details) {
    std::string text(summary);
    if (!details.empty()) {
        text += '\n';
        text += details;
    }
    return text;
}

}  // namespace tapfix::config
