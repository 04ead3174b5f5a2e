// A fuzz target as an ordinary program: runs its seeds and every input kept in the folders it
// is given (the inputs that once crashed it), so they stay fixed; a crash fails the run.
// With --write-seeds DIR it writes its seeds there instead, as the fuzzer's first corpus.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "fuzz_input.hpp"

namespace {

namespace fs = std::filesystem;
using tapfix::fuzz::Bytes;

void Run(const Bytes& input) {
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

int WriteSeeds(const fs::path& folder) {
    fs::create_directories(folder);
    const std::vector<Bytes> seeds = tapfix::fuzz::Seeds();
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream(folder / ("seed-" + std::to_string(i)), std::ios::binary)
            .write(reinterpret_cast<const char*>(seeds[i].data()),
                   static_cast<std::streamsize>(seeds[i].size()));
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}

// The folder's files in name order, so a run replays them the same way every time.
std::vector<fs::path> InputsIn(const fs::path& folder) {
    std::vector<fs::path> inputs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file() && !entry.path().filename().string().starts_with('.')) {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--write-seeds") {
        return WriteSeeds(argv[2]);
    }
    std::size_t replayed = 0;
    for (const Bytes& seed : tapfix::fuzz::Seeds()) {
        Run(seed);
        ++replayed;
    }
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& file : InputsIn(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            Run(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return 0;
}
