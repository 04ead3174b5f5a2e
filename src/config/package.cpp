#include "config/package.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <system_error>

#include "config/digest.hpp"
#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "config/signature.hpp"
#include "config/xml_document.hpp"
#include "link/wire.hpp"
#include "platform/file_io.hpp"

namespace tapfix::config {
namespace {

constexpr PackageFile kTable[] = {
    {135, "9615-cdp-image-9615-cdp.yaffs2"},
    {136, "9615-cdp-recovery-image-9615-cdp.yaffs2"},
    {137, "9615-cdp-usr-image.usrfs.yaffs2"},
    {138, "9615-cdp-qvodata-image.usrfs.yaffs2"},
    {139, "appsboot.mbn"},
    {140, "armprg.bin"},
    {151, "narmprg.bin"},
    {141, "boot-oe-msm9615.img"},
    {142, "dsp1.mbn"},
    {143, "dsp2.mbn"},
    {144, "efs.mbn"},
    {145, "partition.mbn"},
    {146, "recovery-boot-oe-msm9615.img"},
    {147, "rpm.mbn"},
    {148, "sbl1.mbn"},
    {134, "sbl2.mbn"},
    {132, "SCSI.exe"},
    {133, "setup.exe"},
    {153, "setupOLD.exe"},
    {149, "download.xml"},
};

constexpr std::string_view kMagic = "TAPFXPKG";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kTrailerSize = 32;
constexpr std::size_t kEntryFixedSize = 4 + 2 + 8 + 8 + 32;
constexpr std::uint64_t kMaxIndexLength = 64 * 1024;

using wire::Bytes;

std::optional<std::uint64_t> ReadLe64(Bytes data, std::size_t offset) {
    const auto low = wire::ReadLe32(data, offset);
    const auto high = wire::ReadLe32(data, offset + 4);
    if (!low || !high) {
        return std::nullopt;
    }
    return std::uint64_t{*high} << 32 | *low;
}

void AppendLe64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    wire::AppendLe32(out, static_cast<std::uint32_t>(value));
    wire::AppendLe32(out, static_cast<std::uint32_t>(value >> 32));
}

Bytes AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string_view AsText(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<Sha256> Sha256Of(CDigest& digest) {
    const std::vector<std::uint8_t> sum = digest.Final();
    if (sum.size() != Sha256().size()) {
        return std::nullopt;
    }
    Sha256 result{};
    std::copy(sum.begin(), sum.end(), result.begin());
    return result;
}

// Why the file cannot be read as a package; empty when it can be opened.
std::string WhyUnreadable(const std::filesystem::path& file) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (ec) {
        return ec == std::errc::no_such_file_or_directory ? "it does not exist" : ec.message();
    }
    if (std::filesystem::is_directory(status)) {
        return "it is a folder, not a package file";
    }
    if (!std::filesystem::is_regular_file(status)) {
        return "it is not a regular file";
    }
    errno = 0;
    const std::ifstream in(file, std::ios::binary);
    return in ? std::string() : std::error_code(errno, std::generic_category()).message();
}

std::optional<std::uint64_t> FileSize(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    return ec ? std::nullopt : std::optional<std::uint64_t>(size);
}

// Parses the index; the caller checks the entries against the table.
bool ParseIndex(Bytes index, std::uint32_t count, std::vector<PackageEntry>& entries) {
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        PackageEntry entry;
        const auto id = wire::ReadLe32(index, at);
        const auto nameLength = wire::ReadLe16(index, at + 4);
        if (!id || !nameLength || index.size() - at < kEntryFixedSize + *nameLength) {
            return false;
        }
        entry.resourceId = *id;
        entry.name.assign(reinterpret_cast<const char*>(index.data() + at + 6), *nameLength);
        at += 6 + *nameLength;
        entry.offset = *ReadLe64(index, at);
        entry.size = *ReadLe64(index, at + 8);
        std::copy_n(index.begin() + static_cast<std::ptrdiff_t>(at + 16), 32, entry.sha256.begin());
        at += 48;
        entries.push_back(std::move(entry));
    }
    return at == index.size();
}

}  // namespace

std::span<const PackageFile> PackageTable() {
    return kTable;
}

std::filesystem::path CFirmwarePackage::RunningProgram() {
    return "/proc/self/exe";
}

bool CFirmwarePackage::Fail(std::string reason) {
    lastError_ = std::move(reason);
    return false;
}

bool CFirmwarePackage::Open(const std::filesystem::path& file) {
    file_ = file;
    entries_.clear();
    const std::string where = "firmware package " + file.string() + ": ";
    const auto size = FileSize(file);
    if (const std::string why = WhyUnreadable(file); !why.empty() || !size) {
        return Fail(where + "cannot be read: " + (why.empty() ? "its size is unknown" : why));
    }
    // A signed file carries its signature after the package: the package ends where it begins.
    const BlockReading signature = ReadSignatureBlock(file);
    if (signature.presence == BlockPresence::Damaged) {
        return Fail(where + "its " + signature.problem);
    }
    const std::uint64_t end =
        signature.presence == BlockPresence::Present ? signature.block.signedLength : *size;
    std::ifstream in(file, std::ios::binary);
    std::string trailer(kTrailerSize, '\0');
    if (end < kTrailerSize || !in.seekg(static_cast<std::streamoff>(end - kTrailerSize)) ||
        !in.read(trailer.data(), kTrailerSize) || !trailer.starts_with(kMagic)) {
        return Fail(where + "no package at the end of the file (not packed, or truncated)");
    }
    const Bytes fields = AsBytes(trailer);
    const std::uint32_t version = *wire::ReadLe32(fields, 8);
    const std::uint32_t count = *wire::ReadLe32(fields, 12);
    const std::uint64_t indexOffset = *ReadLe64(fields, 16);
    const std::uint64_t indexLength = *ReadLe64(fields, 24);
    if (version != kVersion) {
        return Fail(where + "unknown package version " + std::to_string(version));
    }
    if (count != std::size(kTable)) {
        return Fail(where + "holds " + std::to_string(count) + " files instead of " +
                    std::to_string(std::size(kTable)));
    }
    const std::uint64_t room = end - kTrailerSize;
    if (indexLength > kMaxIndexLength || indexLength > room || indexOffset > room - indexLength) {
        return Fail(where + "the index lies outside the file (damaged or truncated)");
    }
    archiveStart_ = room - indexLength - indexOffset;
    std::string index(static_cast<std::size_t>(indexLength), '\0');
    if (!in.seekg(static_cast<std::streamoff>(archiveStart_ + indexOffset)) ||
        !in.read(index.data(), static_cast<std::streamsize>(index.size())) ||
        !ParseIndex(AsBytes(index), count, entries_)) {
        entries_.clear();
        return Fail(where + "the index is damaged");
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const PackageEntry& entry = entries_[i];
        if (entry.resourceId != kTable[i].resourceId || entry.name != kTable[i].name ||
            entry.offset > indexOffset || entry.size > indexOffset - entry.offset) {
            entries_.clear();
            return Fail(where + "index entry " + std::to_string(i + 1) +
                        " does not match the package's file table");
        }
    }
    return true;
}

std::uint64_t CFirmwarePackage::ArchiveStart() const {
    return archiveStart_;
}

template <typename Sink>
bool CFirmwarePackage::ReadEntry(const PackageEntry& entry, Sink&& sink) {
    std::ifstream in(file_, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(archiveStart_ + entry.offset))) {
        return Fail("cannot read " + entry.name + " from " + file_.string());
    }
    CDigest digest(CDigest::Kind::Sha256);
    const bool copied = ReadInPieces(in, entry.size, [&](std::string_view chunk) {
        digest.Update(chunk);
        return sink(chunk);
    });
    if (!copied) {
        return lastError_.empty() ? Fail("cannot read " + entry.name + " from " + file_.string())
                                  : false;
    }
    if (Sha256Of(digest) != entry.sha256) {
        return Fail("firmware package " + file_.string() + " is damaged: " + entry.name +
                    " does not match its SHA-256 " + HexText(entry.sha256));
    }
    return true;
}

bool CFirmwarePackage::Verify() {
    lastError_.clear();
    for (const PackageEntry& entry : entries_) {
        if (!ReadEntry(entry, [](std::string_view) { return true; })) {
            return false;
        }
    }
    return !entries_.empty() || Fail("no firmware package is open");
}

bool CFirmwarePackage::WriteResourceFile(std::uint32_t resourceId,
                                         const std::filesystem::path& workFolder,
                                         std::string_view fileName) {
    lastError_.clear();
    const auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const PackageEntry& e) {
        return e.resourceId == resourceId;
    });
    if (entry == entries_.end()) {
        return Fail("the firmware package holds no file with resource id " +
                    std::to_string(resourceId));
    }
    platform::AtomicFile out;
    std::string error;
    if (!out.Open(workFolder / fileName, error)) {
        return Fail(error);
    }
    const bool copied = ReadEntry(
        *entry, [&](std::string_view chunk) { return out.Write(chunk, error) || Fail(error); });
    // Without the commit the temporary goes away: no half or damaged file under the name.
    return copied && (out.Commit(error) || Fail(error));
}

bool CFirmwarePackage::ExtractPackage(const std::filesystem::path& workFolder) {
    if (!Verify()) {
        return false;
    }
    for (const PackageFile& file : kTable) {
        if (!WriteResourceFile(file.resourceId, workFolder, file.name)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> MissingPackageFiles(const std::filesystem::path& firmwareFolder) {
    std::vector<std::string> missing;
    for (const PackageFile& file : kTable) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(firmwareFolder / file.name, ec)) {
            missing.emplace_back(file.name);
        }
    }
    return missing;
}

namespace {

// The file being packed, with a running SHA-512 of every byte written: what a signature covers.
class PackOutput {
  public:
    bool Open(const std::filesystem::path& file, std::string& error) {
        return file_.Open(file, error);
    }
    bool Write(std::string_view bytes, std::string& error) {
        digest_.Update(bytes);
        return file_.Write(bytes, error);
    }
    // Appends the signature block over everything written so far.
    bool Sign(const PackSigning& signing, std::string& error) {
        std::vector<std::uint8_t> block;
        return MakeSignatureBlock(*signing.key, digest_.Final(), signing.comment, block, error) &&
               file_.Write(AsText(block), error);
    }
    bool Commit(std::string& error) { return file_.Commit(error); }

  private:
    platform::AtomicFile file_;
    CDigest digest_{CDigest::Kind::Sha512};
};

// Appends the folder's files to `out` and returns the index that describes them.
bool AppendFirmware(const std::filesystem::path& folder, PackOutput& out,
                    std::vector<std::uint8_t>& index, std::uint64_t& written, std::string& error) {
    for (const PackageFile& file : kTable) {
        const std::filesystem::path path = folder / file.name;
        const auto size = FileSize(path);
        std::ifstream in(path, std::ios::binary);
        CDigest digest(CDigest::Kind::Sha256);
        const bool copied = size && in && ReadInPieces(in, *size, [&](std::string_view chunk) {
                                digest.Update(chunk);
                                return out.Write(chunk, error);
                            });
        const auto sum = Sha256Of(digest);
        if (!copied || !sum) {
            error = error.empty() ? "cannot read " + path.string() : error;
            return false;
        }
        wire::AppendLe32(index, file.resourceId);
        wire::AppendLe16(index, static_cast<std::uint16_t>(file.name.size()));
        index.insert(index.end(), file.name.begin(), file.name.end());
        AppendLe64(index, written);
        AppendLe64(index, *size);
        index.insert(index.end(), sum->begin(), sum->end());
        written += *size;
    }
    return true;
}

// The program's own bytes: a program that already carries a package (signed or not) gives them
// without it.
bool CopyProgram(const std::filesystem::path& program, PackOutput& out, std::string& error) {
    if (program.empty()) {
        return true;  // a side file: the archive alone
    }
    CFirmwarePackage existing;
    const auto size = FileSize(program);
    const std::uint64_t length =
        existing.Open(program) ? existing.ArchiveStart() : size.value_or(0);
    std::ifstream in(program, std::ios::binary);
    if (!size || !in || !ReadInPieces(in, length, [&](std::string_view chunk) {
            return out.Write(chunk, error);
        })) {
        error = error.empty() ? "cannot read the program " + program.string() : error;
        return false;
    }
    return true;
}

// A listed file that is not one of the package's: the updater would not find it once unpacked.
std::string FileOutsidePackage(const DownloadServiceConfig& config) {
    for (const auto* files : {&config.files, &config.urgentFiles}) {
        for (const DownloadFile& file : *files) {
            const std::string name = file.path.filename().string();
            if (std::none_of(std::begin(kTable), std::end(kTable),
                             [&](const PackageFile& known) { return known.name == name; })) {
                return name;
            }
        }
    }
    return {};
}

// The folder holds the twenty files.
bool CheckPackageFiles(const std::filesystem::path& folder, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        error = "the firmware folder " + folder.string() +
                (std::filesystem::exists(folder, ec) ? " is not a folder" : " does not exist");
        return false;
    }
    const std::vector<std::string> missing = MissingPackageFiles(folder);
    if (!missing.empty()) {
        error = "the firmware folder " + folder.string() + " lacks:";
        for (const std::string& name : missing) {
            error += " " + name;
        }
        return false;
    }
    return true;
}

void WriteTrailer(const std::vector<std::uint8_t>& index, std::uint64_t written,
                  std::vector<std::uint8_t>& trailer) {
    trailer.assign(kMagic.begin(), kMagic.end());
    wire::AppendLe32(trailer, kVersion);
    wire::AppendLe32(trailer, static_cast<std::uint32_t>(std::size(kTable)));
    AppendLe64(trailer, written);
    AppendLe64(trailer, index.size());
}

}  // namespace

bool WritePackage(const std::filesystem::path& program, const std::filesystem::path& firmwareFolder,
                  const std::filesystem::path& output, std::string& error,
                  const PackSigning& signing) {
    if (!CheckPackageFiles(firmwareFolder, error)) {
        return false;
    }
    // Taken before writing: packing in place replaces the program.
    struct stat programInfo {};
    const bool keepMode = !program.empty() && ::stat(program.c_str(), &programInfo) == 0;
    PackOutput out;
    std::vector<std::uint8_t> index;
    std::vector<std::uint8_t> trailer;
    std::uint64_t written = 0;
    if (!out.Open(output, error) || !CopyProgram(program, out, error) ||
        !AppendFirmware(firmwareFolder, out, index, written, error)) {
        return false;
    }
    WriteTrailer(index, written, trailer);
    if (!out.Write(AsText(index), error) || !out.Write(AsText(trailer), error) ||
        (signing.key != nullptr && !out.Sign(signing, error)) || !out.Commit(error)) {
        return false;
    }
    if (keepMode) {
        ::chmod(output.c_str(), programInfo.st_mode & 07777);
    }
    return true;
}

bool CheckFirmwareFolder(const std::filesystem::path& folder, std::string& error) {
    DownloadServiceConfig config;
    if (!CheckPackageFiles(folder, error) || !LoadFolderConfig(folder, config, false, error)) {
        return false;
    }
    if (const std::string outside = FileOutsidePackage(config); !outside.empty()) {
        error = (folder / "download.xml").string() + ": lists " + Excerpt(outside, 60) +
                ", which is not one of the package's files";
        return false;
    }
    return true;
}

std::string FolderText(const std::filesystem::path& folder) {
    std::string text = folder.string();
    if (!text.ends_with('/')) {
        text += '/';
    }
    return text;
}

namespace {

std::string LoadFailure(const std::filesystem::path& file, const XmlDocument& document) {
    return WithDetails(file.string() + ": " + document.ProblemSummary(), document.ResultText());
}

// Writes the folders into the DOWNLOADBL element, when there is one.
bool PointDocumentAt(XmlDocument& document, const std::filesystem::path& imageFolder,
                     const std::filesystem::path& nvRootFolder) {
    if (!document.FindChild("DOWNLOADBL") || !document.EnterChild()) {
        return false;
    }
    for (const auto& [item, folder] : {std::pair{"ITEM_VERSIONFILE_PATH", &imageFolder},
                                       std::pair{"ITEM_NVFILE_PATH", &nvRootFolder}}) {
        if (document.FindChild(item) && document.EnterChild()) {
            document.SetElementText(FolderText(*folder));
            document.LeaveElement();
        }
    }
    return true;
}

}  // namespace

bool PointConfigAtWorkFolder(const std::filesystem::path& configFile,
                             const std::filesystem::path& imageFolder,
                             const std::filesystem::path& nvRootFolder, std::string& error) {
    XmlDocument document;
    if (!document.LoadFile(configFile)) {
        error = LoadFailure(configFile, document);
        return false;
    }
    if (PointDocumentAt(document, imageFolder, nvRootFolder) && !document.SaveFile(configFile)) {
        error = LoadFailure(configFile, document);
        return false;
    }
    return true;
}

bool LoadFolderConfig(const std::filesystem::path& folder, DownloadServiceConfig& config, bool save,
                      std::string& error) {
    const std::filesystem::path file = folder / "download.xml";
    XmlDocument document;
    if (!document.LoadFile(file)) {
        error = LoadFailure(file, document);
        return false;
    }
    const bool pointed = PointDocumentAt(document, folder, folder);
    if (save && pointed && !document.SaveFile(file)) {
        error = LoadFailure(file, document);
        return false;
    }
    // Read back as the saved file reads: the pointing moved the reader's position.
    XmlDocument saved;
    saved.LoadBytes(document.SaveBytes());
    if (!ReadConfig(saved, config, error)) {
        error = file.string() + ": " + error;
        return false;
    }
    if (!config.loaded) {
        error = file.string() + ": no DOWNLOADBL settings";
        return false;
    }
    return true;
}

}  // namespace tapfix::config
