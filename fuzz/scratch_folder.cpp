#include "scratch_folder.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace tapfix::fuzz {
namespace {

class Folder {
  public:
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tapfix-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& ScratchFolder() {
    static const Folder folder;
    return folder.Path();
}

std::filesystem::path ScratchFile(std::string_view target, std::string_view name) {
    const std::filesystem::path folder = ScratchFolder() / target;
    std::filesystem::create_directories(folder);
    return folder / name;
}

void WriteBytes(const std::filesystem::path& file, ConstBytes bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tapfix::fuzz
