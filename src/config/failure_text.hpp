#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How a configuration or package failure reaches the user: one line they can act on, with the
// details (the XML reader's record, the full paths) on the lines after it, for the log only.
namespace tapfix::config {

inline constexpr std::size_t kMaxFailureLine = 200;

// The first line of `failure`, cut to kMaxFailureLine characters (ending in "…" when cut).
std::string FailureLine(std::string_view failure);

// `summary` followed by `details` on the next line (nothing more when there are none).
std::string WithDetails(std::string_view summary, std::string_view details);

// A piece of untrusted text for a failure line: at most `limit` characters, control characters
// shown as "?", and "…" when it was cut.
std::string Excerpt(std::string_view text, std::size_t limit);

}  // namespace tapfix::config
