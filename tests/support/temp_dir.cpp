#include "support/temp_dir.hpp"

#include <cstdlib>
#include <string>
#include <system_error>

namespace tapfix::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tapfix-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace tapfix::test
