#include "config/contained_name.hpp"

#include <algorithm>
#include <system_error>

namespace tapfix::config {
namespace {

namespace fs = std::filesystem;

// The folder with links resolved and without a trailing separator, so its parts compare.
fs::path ResolvedFolder(const fs::path& folder, std::error_code& ec) {
    fs::path resolved = fs::weakly_canonical(folder, ec);
    if (!resolved.has_filename()) {
        resolved = resolved.parent_path();
    }
    return resolved;
}

bool IsStrictlyBelow(const fs::path& path, const fs::path& folder) {
    const auto [inFolder, inPath] =
        std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return inFolder == folder.end() && inPath != path.end();
}

}  // namespace

std::string WhyNameLeavesFolder(const fs::path& folder, std::string_view name) {
    if (name.find('\0') != std::string_view::npos) {
        return "holds a NUL character";
    }
    const fs::path relative(name);
    if (relative.has_root_path()) {
        return "names an absolute path";
    }
    if (std::find(relative.begin(), relative.end(), fs::path("..")) != relative.end()) {
        return "climbs out of the image folder with \"..\"";
    }
    std::error_code ec;
    const fs::path base = ResolvedFolder(folder, ec);
    const fs::path resolved = ec ? fs::path() : fs::weakly_canonical(base / relative, ec);
    if (ec) {
        return "cannot be resolved: " + ec.message();
    }
    if (!IsStrictlyBelow(resolved, base)) {
        return "resolves outside the image folder (symbolic links followed)";
    }
    return {};
}

}  // namespace tapfix::config
