// The firmware package's trailer and index over any file: an opened package lists the twenty
// files inside its archive, and only files whose SHA-256 matches are ever written out.
#include "config/package.hpp"

#include <fstream>

#include "fuzz_input.hpp"
#include "scratch_folder.hpp"

namespace tapfix::fuzz {
namespace {

namespace fs = std::filesystem;

fs::path Place(const std::string& name) {
    return ScratchFile("package", name);
}

// A package of the twenty files, small, appended to `program` (none: a side file).
Bytes SmallPackage(const Bytes& program) {
    const fs::path firmware = Place("firmware");
    fs::create_directories(firmware);
    for (const config::PackageFile& file : config::PackageTable()) {
        std::ofstream(firmware / file.name) << file.name << file.resourceId;
    }
    const fs::path programFile = program.empty() ? fs::path() : Place("program");
    if (!program.empty()) {
        WriteBytes(programFile, program);
    }
    std::string error;
    Require(config::WritePackage(programFile, firmware, Place("seed.bin"), error));
    return ReadBytes(Place("seed.bin"));
}

}  // namespace

std::vector<Bytes> Seeds() {
    return {SmallPackage({}), SmallPackage(Bytes{0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0})};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix;
    using namespace tapfix::fuzz;
    const fs::path file = Place("package.bin");
    WriteBytes(file, {data, size});
    config::CFirmwarePackage package;
    if (!package.Open(file)) {
        Require(!package.LastError().empty() && package.Entries().empty());
        return 0;
    }
    const std::span<const config::PackageFile> table = config::PackageTable();
    Require(package.Entries().size() == table.size());
    for (const config::PackageEntry& entry : package.Entries()) {
        Require(package.ArchiveStart() + entry.offset + entry.size <= size);
    }
    const fs::path out = Place("extracted");
    fs::remove_all(out);
    fs::create_directories(out);
    if (!package.ExtractPackage(out)) {
        Require(fs::is_empty(out));
        return 0;
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        Require(fs::file_size(out / table[i].name) == package.Entries()[i].size);
    }
    return 0;
}
