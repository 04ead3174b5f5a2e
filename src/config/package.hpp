#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/digest.hpp"
#include "config/download_config.hpp"
#include "config/signing_keys.hpp"

// The firmware package: twenty files carried as an archive appended to the program (or in a
// side file). Layout: the files' bytes, then an index (per file: resource id u32, name length
// u16, name, offset u64, size u64, SHA-256), then a fixed 32-byte trailer (magic "TAPFXPKG",
// version u32, entry count u32, index offset u64, index length u64). All numbers are
// little-endian; offsets count from the archive's first byte, which the trailer locates, so
// the archive reads the same appended to any program or on its own.
namespace tapfix::config {

struct PackageFile {
    std::uint32_t resourceId;
    std::string_view name;
};

// The twenty files in extraction order.
std::span<const PackageFile> PackageTable();

using Sha256 = std::array<std::uint8_t, 32>;

struct PackageEntry {
    std::uint32_t resourceId = 0;
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    Sha256 sha256{};
};

class CFirmwarePackage {
  public:
    // The running program, which carries the package at its end.
    static std::filesystem::path RunningProgram();

    // Reads and checks the trailer and the index: all twenty files of the table, in its order,
    // each inside the archive. Nothing of the files is read yet.
    bool Open(const std::filesystem::path& file);
    const std::vector<PackageEntry>& Entries() const { return entries_; }
    // Where the archive begins: the size of the program in front of it.
    std::uint64_t ArchiveStart() const;

    // Checks every file's SHA-256.
    bool Verify();
    // Writes the twenty files into the folder after checking them all first, so a damaged
    // package writes nothing. Other files of the folder are left alone.
    bool ExtractPackage(const std::filesystem::path& workFolder);
    // One file, written whole under its name once its SHA-256 has matched.
    bool WriteResourceFile(std::uint32_t resourceId, const std::filesystem::path& workFolder,
                           std::string_view fileName);

    const std::string& LastError() const { return lastError_; }

  private:
    // Streams the entry's bytes to `sink` (which may be empty) and checks its digest.
    template <typename Sink>
    bool ReadEntry(const PackageEntry& entry, Sink&& sink);
    bool Fail(std::string reason);

    std::filesystem::path file_;
    std::uint64_t archiveStart_ = 0;
    std::vector<PackageEntry> entries_;
    std::string lastError_;
};

// The names of the table that the folder lacks (as regular files).
std::vector<std::string> MissingPackageFiles(const std::filesystem::path& firmwareFolder);

struct PackSigning {
    // None: the output is not signed.
    const SigningKey* key = nullptr;
    std::string comment;
};

// Writes `output`: a copy of `program` (without any package or signature it already carries)
// with the firmware folder's twenty files appended as an archive, signed with `signing`'s key
// when it has one; with an empty `program`, the archive alone (a side file that
// CFirmwarePackage::Open reads the same way). The folder must hold the twenty files; the
// program's mode is kept, also when `output` is `program`.
bool WritePackage(const std::filesystem::path& program, const std::filesystem::path& firmwareFolder,
                  const std::filesystem::path& output, std::string& error,
                  const PackSigning& signing = {});

// The folder holds the twenty files and a download.xml that loads as the updater loads it once
// unpacked, listing only files of the package. False with a one-line reason otherwise.
bool CheckFirmwareFolder(const std::filesystem::path& folder, std::string& error);

// Writes the folders into ITEM_VERSIONFILE_PATH and ITEM_NVFILE_PATH of the DOWNLOADBL element
// (each ending with "/") and saves; the rest of the file stays byte for byte. True once the file
// was loaded, whether or not the elements were there.
bool PointConfigAtWorkFolder(const std::filesystem::path& configFile,
                             const std::filesystem::path& imageFolder,
                             const std::filesystem::path& nvRootFolder, std::string& error);

// The folder's download.xml as the updater uses it once unpacked there: pointed at the folder
// (and saved so when `save`), then read with every listed file checked. False when it cannot
// be loaded, names no settings or lists a file the folder lacks; `error` is then one line that
// names the file, the line and what is wrong, with the reader's details on the lines after it.
bool LoadFolderConfig(const std::filesystem::path& folder, DownloadServiceConfig& config, bool save,
                      std::string& error);

// A folder as the configuration holds it: ending with "/".
std::string FolderText(const std::filesystem::path& folder);

}  // namespace tapfix::config
