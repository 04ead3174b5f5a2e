#include <algorithm>
#include <array>
#include <cstdio>

#include "config/download_config.hpp"
#include "device/nv_efs.hpp"
#include "nv/backup_files.hpp"
#include "nv/efs_names.hpp"
#include "nv/nv_preservation.hpp"
#include "nv/nv_text.hpp"
#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;
using device::EfsAccess;

constexpr std::uint32_t kTypeMask = 0xF000;
constexpr std::uint32_t kTypeRegular = 0x8000;
constexpr std::uint32_t kTypeItem = 0xE000;
constexpr std::uint32_t kNoSuchFile = 2;

// As many tries per file as an NV item read gets.
constexpr int kEfsCopyAttempts = 3;
// The device answers at most this much file data per request.
constexpr std::size_t kEfsPiece = 512;
constexpr std::size_t kItemFileCapacity = 4095;
// A file the new firmware does not have is made an item file when it is smaller than this.
constexpr std::size_t kSmallestRegularFile = 106;
constexpr std::uint16_t kEfsSequence = 1;

bool Fail(CDownloadService& session, int slot, std::string_view pattern, std::string_view name) {
    session.LogLine(slot, FormatText(pattern, {name}));
    return false;
}

bool ReadRegularFile(link::CPacket& link, std::uint32_t descriptor, std::uint32_t size,
                     std::string& bytes) {
    if (size == 0 || size > kMaxBackupFile) {
        return false;
    }
    std::array<std::uint8_t, kEfsPiece> piece{};
    while (bytes.size() < size) {
        const std::size_t wanted = std::min<std::size_t>(kEfsPiece, size - bytes.size());
        std::uint32_t got = 0;
        if (!device::EfsRead(link, descriptor, static_cast<std::uint32_t>(bytes.size()),
                             std::span(piece).first(wanted), got) ||
            got == 0) {
            return false;
        }
        bytes.append(reinterpret_cast<const char*>(piece.data()), got);
    }
    return true;
}

bool FetchRegularFile(link::CPacket& link, std::string_view efsPath, const fs::path& local) {
    std::uint32_t descriptor = 0;
    std::uint32_t size = 0;
    std::string bytes;
    const bool read = device::EfsOpen(link, efsPath, EfsAccess::Read, descriptor) &&
                      device::EfsFstat(link, descriptor, size) &&
                      ReadRegularFile(link, descriptor, size, bytes);
    std::string error;
    return device::EfsClose(link) && read && WritePrivateFile(local, bytes, error);
}

bool FetchItemFile(link::CPacket& link, std::string_view efsPath, const fs::path& local) {
    std::array<std::uint8_t, kItemFileCapacity> data{};
    std::uint32_t length = 0;
    std::string error;
    return device::EfsGet(link, efsPath, kEfsSequence, data, length) &&
           WritePrivateFile(local, {reinterpret_cast<const char*>(data.data()), length}, error);
}

std::span<const std::uint8_t> AsBytes(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

bool WriteRegularFile(link::CPacket& link, std::string_view efsPath, const std::string& bytes) {
    std::uint32_t descriptor = 0;
    bool written = device::EfsOpen(link, efsPath, EfsAccess::Write, descriptor);
    const auto data = AsBytes(bytes);
    for (std::size_t offset = 0; written && offset < data.size(); offset += kEfsPiece) {
        written = device::EfsWrite(link, static_cast<std::uint32_t>(offset),
                                   data.subspan(offset, std::min(kEfsPiece, data.size() - offset)));
    }
    return device::EfsClose(link) && written;
}

bool PutItemFile(link::CPacket& link, std::string_view efsPath, const std::string& bytes) {
    return device::EfsPut(link, efsPath, AsBytes(bytes), kEfsSequence);
}

bool ReadLocalFile(const fs::path& local, std::string& bytes) {
    std::string error;
    return platform::ReadWholeFile(local, kMaxBackupFile, bytes, error);
}

}  // namespace

bool CNvPreservation::BackupEfsNvFiles(CDownloadService& session, int slot) {
    const config::DownloadServiceConfig& config = session.Config();
    const fs::path folder = session.NvFolder(slot) / kEfsFolderName;
    // Built aside and moved in whole: the last good copy stays until this one is complete.
    const fs::path staging =
        session.NvFolder(slot) / (std::string(kEfsFolderName) + std::string(kStagingSuffix));
    RemoveTreeKeepingArchive(staging);
    std::string error;
    if (!CreatePrivateFolder(staging, error)) {
        session.LogLine(slot, error);
        return false;
    }
    link::CPacket& link = session.Link(slot);
    // A file the device has that is not in the copy would be lost with the new partition
    // table: every file is tried (each failure logged), then the copy fails as a whole.
    bool copied = true;
    // A file gets the tries an NV item read gets: one bad frame must not stop the update.
    const auto fetch = [&](std::int32_t number, const std::string& efsPath) {
        const std::string name = EightDigits(number);
        bool fetched = false;
        for (int attempt = 0; attempt < kEfsCopyAttempts && !fetched && link.IsPortOpen();
             ++attempt) {
            fetched = GetEfsNvFile(session, slot, staging / name, efsPath, name);
        }
        copied = (fetched || !link.IsPortOpen()) && copied;
    };
    for (const std::int32_t number : config.efsRfNv) {
        fetch(number, std::string(kRfItemFolder) + EightDigits(number));
    }
    for (const config::EfsNvFile& pair : config.efsRfNvOver6w) {
        fetch(pair.number, pair.efsPath);
    }
    if (!link.IsPortOpen() || !copied) {
        session.LogLine(slot, copied
                                  ? "The device left during the EFS copy; the previous copy stays"
                                  : "Not every EFS file was copied; the previous copy stays");
        RemoveTreeKeepingArchive(staging);
        return false;
    }
    if (!ReplaceFolder(staging, folder, error)) {
        session.LogLine(slot, error);
        return false;
    }
    return true;
}

bool CNvPreservation::GetEfsNvFile(CDownloadService& session, int slot, const fs::path& local,
                                   std::string_view efsPath, std::string_view name) {
    link::CPacket& link = session.Link(slot);
    device::EfsStatResult stat;
    if (!device::EfsStat(link, efsPath, stat)) {
        return stat.errorNumber == kNoSuchFile ||
               Fail(session, slot, "Get %s NV files stats failed!", name);
    }
    switch (stat.mode & kTypeMask) {
        case kTypeRegular:
            return FetchRegularFile(link, efsPath, local) ||
                   Fail(session, slot, "Copy regular files (%s NV) failed!", name);
        case kTypeItem:
            return FetchItemFile(link, efsPath, local) ||
                   Fail(session, slot, "Get item files (%s NV) failed!", name);
        default:
            return true;
    }
}

bool CNvPreservation::RestoreEfsNvFiles(CDownloadService& session, int slot,
                                        const fs::path& folder) {
    std::vector<std::string> names;
    std::string error;
    if (!ListFolderFiles(folder, names, error)) {
        session.LogLine(slot, error);
        return false;
    }
    bool restored = true;
    for (const std::string& name : names) {
        // Only what a backup writes goes to the router: eight digits naming an EFS file.
        if (!IsEightDigits(name)) {
            session.LogLine(slot, "Not an EFS backup file, left out: " + name);
            continue;
        }
        const std::string efsPath = EfsPathOf(session.Config(), name);
        // A saved file the configuration no longer names has nowhere to go: logged only.
        restored = (PutEfsNvFile(session, slot, folder / name, efsPath, name) || efsPath.empty()) &&
                   restored;
    }
    return restored;
}

bool CNvPreservation::PutEfsNvFile(CDownloadService& session, int slot, const fs::path& local,
                                   std::string_view efsPath, std::string_view name) {
    link::CPacket& link = session.Link(slot);
    device::EfsStatResult stat;
    std::string bytes;
    if (!device::EfsStat(link, efsPath, stat)) {
        if (stat.errorNumber != kNoSuchFile) {
            return Fail(session, slot, "Get %s NV files status failed!", name);
        }
        if (!ReadLocalFile(local, bytes)) {
            return Fail(session, slot, "Read pc item files (%s NV) status failed!", name);
        }
        if (bytes.size() < kSmallestRegularFile) {
            return PutItemFile(link, efsPath, bytes) ||
                   Fail(session, slot, "Put item files (%s NV) failed!", name);
        }
        return WriteRegularFile(link, efsPath, bytes) ||
               Fail(session, slot, "Write regular Files (%s NV) failed!", name);
    }
    switch (stat.mode & kTypeMask) {
        case kTypeRegular:
            return (ReadLocalFile(local, bytes) && WriteRegularFile(link, efsPath, bytes)) ||
                   Fail(session, slot, "Write regular files (%s NV) failed!", name);
        case kTypeItem:
            return (ReadLocalFile(local, bytes) && PutItemFile(link, efsPath, bytes)) ||
                   Fail(session, slot, "Put item files (%s NV) failed!", name);
        default:
            return true;
    }
}

}  // namespace tapfix::nv
