#include "nv/pending_copies.hpp"

#include <algorithm>
#include <chrono>
#include <map>

#include "nv/backup_archive.hpp"
#include "nv/backup_files.hpp"
#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;
// Renames as (from, to).
using Moves = std::vector<std::pair<fs::path, fs::path>>;

// Names beside a copy while it is replaced; hidden, so no listing takes them for a copy.
constexpr std::string_view kIncomingSuffix = ".incoming";
constexpr std::string_view kReplacedSuffix = ".replaced";

fs::path HiddenBeside(const fs::path& folder, std::string_view suffix) {
    return folder.parent_path() / ("." + folder.filename().string() + std::string(suffix));
}

bool IsFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec));
}

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

// The time of an earlier version's copy, which recorded none: when its NV file was written.
std::string FileTime(const fs::path& file) {
    std::error_code ec;
    const auto written = fs::last_write_time(file, ec);
    return ec ? std::string() : UtcTimestamp(std::chrono::file_clock::to_sys(written));
}

// Moves each (from, to) in order; on a failure the moves done are undone.
bool MoveAll(const Moves& moves, std::string& error) {
    for (std::size_t i = 0; i < moves.size(); ++i) {
        if (RenameEntry(moves[i].first, moves[i].second, error)) {
            continue;
        }
        std::string ignored;
        while (i-- > 0) {
            RenameEntry(moves[i].second, moves[i].first, ignored);
        }
        return false;
    }
    return true;
}

Moves Reversed(const Moves& moves) {
    Moves back;
    for (const auto& [from, to] : moves) {
        back.emplace_back(to, from);
    }
    return back;
}

Moves MovesInto(const BackupSource& files, const fs::path& folder) {
    std::vector<std::pair<fs::path, fs::path>> moves{{files.nvFile, folder / NvFileName(0)},
                                                     {files.efsFolder, folder / kEfsFolderName}};
    if (files.wifiMac) {
        moves.emplace_back(*files.wifiMac, folder / kWifiMacName);
    }
    return moves;
}

// The backup's files moved into `folder` with its record (marked complete), each folder
// flushed; on a failure the files are back where they were.
bool MoveBackupInto(const BackupSource& files, const fs::path& folder, BackupRecord record,
                    std::string& error) {
    record.complete = true;
    const Moves moves = MovesInto(files, folder);
    if (!WriteBackupRecord(folder, record, error) || !MoveAll(moves, error)) {
        return false;
    }
    if (platform::FlushFolder(folder, error) &&
        platform::FlushFolder(folder / kEfsFolderName, error)) {
        // The record left behind would name a backup that is no longer there.
        std::error_code ec;
        fs::remove(files.nvFile.parent_path() / kIdentityName, ec);
        return platform::FlushFolder(files.nvFile.parent_path(), error);
    }
    std::string ignored;
    MoveAll(Reversed(moves), ignored);
    return false;
}

// Puts the incoming copy in the place of the router's copy: the earlier one is archived
// first, moved aside, the new one moved in, the folder flushed; only then the aside goes.
bool ReplaceCopy(const fs::path& workFolder, const fs::path& incoming, const fs::path& target,
                 CommittedCopy& committed, std::string& error) {
    const fs::path aside = HiddenBeside(target, kReplacedSuffix);
    const bool earlier = IsFolder(target);
    if (earlier) {
        committed.earlierMatched = SameBackupData(target, incoming);
        if (!ArchiveBackup(target, workFolder, committed.archivedEarlier, error)) {
            return false;
        }
        RemoveTreeKeepingArchive(aside);
        if (!RenameEntry(target, aside, error)) {
            return false;
        }
    }
    if (!RenameEntry(incoming, target, error)) {
        std::string ignored;
        if (earlier) {
            RenameEntry(aside, target, ignored);
        }
        return false;
    }
    const bool flushed = platform::FlushFolder(target.parent_path(), error);
    RemoveTreeKeepingArchive(aside);
    return flushed;
}

std::map<std::string, std::string> FolderBytes(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::vector<std::string> names;
    std::string error;
    ListFolderFiles(folder, names, error);
    for (const std::string& name : names) {
        std::string bytes;
        platform::ReadWholeFile(folder / name, kMaxBackupFile, bytes, error);
        files[name] = std::move(bytes);
    }
    return files;
}

// The backup's data without its record, whose time always differs.
std::map<std::string, std::string> BackupData(const fs::path& folder) {
    std::map<std::string, std::string> data = FolderBytes(folder);
    data.erase(std::string(kIdentityName));
    for (auto& [name, bytes] : FolderBytes(folder / kEfsFolderName)) {
        data[std::string(kEfsFolderName) + "/" + name] = std::move(bytes);
    }
    return data;
}

// Removes the files a backup consists of, then the folder when nothing else is left in it.
void RemoveBackupFiles(const fs::path& folder) {
    std::vector<std::string> names;
    std::string ignored;
    ListFolderFiles(folder, names, ignored);
    std::error_code ec;
    for (const std::string& name : names) {
        if (IsNvFileName(name) || name == kWifiMacName || name == kIdentityName) {
            fs::remove(folder / name, ec);
        }
    }
    RemoveTreeKeepingArchive(folder / kEfsFolderName);
    fs::remove(folder, ec);  // only when empty
}

bool Unfinished(const std::optional<StoredBackup>& copy) {
    return copy && copy->record.restore != RestoreState::Done;
}

// Another device at the same socket: both serials known and different.
bool OtherSerial(std::string_view saved, std::string_view now) {
    return !saved.empty() && !now.empty() && saved != now;
}

}  // namespace

std::optional<StoredBackup> ReadStoredBackup(const fs::path& folder) {
    const fs::path nvFile = folder / NvFileName(0);
    if (!IsFile(nvFile)) {
        return std::nullopt;
    }
    StoredBackup backup{folder, {}};
    std::string ignored;
    if (!ReadBackupRecord(folder, backup.record, ignored)) {
        backup.record.complete = true;
    }
    if (backup.record.time.empty()) {
        backup.record.time = FileTime(nvFile);
    }
    return backup;
}

BackupSource TakenBackup(const fs::path& nvFile, bool withWifiMac) {
    BackupSource files{nvFile, nvFile.parent_path() / kEfsFolderName, std::nullopt};
    if (withWifiMac) {
        files.wifiMac = nvFile.parent_path() / kWifiMacName;
    }
    return files;
}

bool IsPendingCopy(const fs::path& workFolder, const fs::path& folder) {
    const fs::path saved = workFolder / kSavedBackupName;
    // The user may name it relative to another folder, or through a link.
    const auto same = [&saved](const fs::path& place) {
        std::error_code ec;
        return place == saved || fs::equivalent(place, saved, ec);
    };
    return same(folder) || same(folder.parent_path());
}

void NewestFirst(std::vector<StoredBackup>& backups) {
    std::stable_sort(
        backups.begin(), backups.end(),
        [](const StoredBackup& a, const StoredBackup& b) { return a.record.time > b.record.time; });
}

std::vector<StoredBackup> ListPendingCopies(const fs::path& workFolder) {
    const fs::path saved = workFolder / kSavedBackupName;
    std::vector<StoredBackup> copies;
    if (auto legacy = ReadStoredBackup(saved); Unfinished(legacy)) {
        copies.push_back(std::move(*legacy));
    }
    std::error_code ec;
    for (fs::directory_iterator entry(saved, ec), end; !ec && entry != end; entry.increment(ec)) {
        const std::string name = entry->path().filename().string();
        if (name.starts_with('.') || !IsFolder(entry->path())) {
            continue;
        }
        if (auto copy = ReadStoredBackup(entry->path()); Unfinished(copy)) {
            copies.push_back(std::move(*copy));
        }
    }
    NewestFirst(copies);
    return copies;
}

bool CommitPendingCopy(const fs::path& workFolder, const BackupSource& files, BackupRecord record,
                       CommittedCopy& committed, std::string& error) {
    committed = CommittedCopy{};
    const fs::path saved = workFolder / kSavedBackupName;
    const fs::path target = saved / BackupName(record);
    const fs::path incoming = HiddenBeside(target, kIncomingSuffix);
    record.restore = RestoreState::None;
    RemoveTreeKeepingArchive(incoming);
    if (!CreatePrivateFolder(saved, error) || !CreatePrivateFolder(incoming, error) ||
        !MoveBackupInto(files, incoming, record, error)) {
        RemoveTreeKeepingArchive(incoming);
        return false;
    }
    if (!ReplaceCopy(workFolder, incoming, target, committed, error)) {
        std::string ignored;
        MoveAll(Reversed(MovesInto(files, incoming)), ignored);
        RemoveTreeKeepingArchive(incoming);
        return false;
    }
    committed.folder = target;
    return true;
}

bool ArchiveTakenBackup(const fs::path& workFolder, const BackupSource& files, BackupRecord record,
                        fs::path& archived, std::string& error) {
    if (!NewArchiveFolder(workFolder, BackupName(record), archived, error)) {
        return false;
    }
    if (!MoveBackupInto(files, archived, record, error)) {
        std::error_code ec;
        fs::remove_all(archived, ec);  // just made, and empty again
        return false;
    }
    return true;
}

bool MarkRestore(const fs::path& copy, RestoreState state, std::string& error) {
    BackupRecord record;
    if (!ReadBackupRecord(copy, record, error)) {
        return false;
    }
    record.restore = state;
    return WriteBackupRecord(copy, record, error) && platform::FlushFolder(copy, error);
}

bool RetirePendingCopy(const fs::path& workFolder, const fs::path& copy, fs::path& archived,
                       std::string& error) {
    archived.clear();
    BackupRecord record;
    std::string ignored;
    ReadBackupRecord(copy, record, ignored);
    record.restore = RestoreState::Done;
    if (!WriteBackupRecord(copy, record, error) ||
        !ArchiveBackup(copy, workFolder, archived, error)) {
        return false;
    }
    RemoveBackupFiles(copy);
    return platform::FlushFolder(copy.parent_path(), error);
}

std::optional<ProvenCopy> ProvenByUsb(const std::vector<StoredBackup>& copies,
                                      const platform::UsbLocation& usb) {
    if (!usb.serial.empty()) {
        std::vector<std::size_t> same;
        for (std::size_t i = 0; i < copies.size(); ++i) {
            if (copies[i].record.usb.serial == usb.serial) {
                same.push_back(i);
            }
        }
        if (same.size() == 1) {
            return ProvenCopy{same.front(), UsbProof::Serial};
        }
    }
    if (!usb.path.empty() && copies.size() == 1 && copies.front().record.usb.path == usb.path &&
        !OtherSerial(copies.front().record.usb.serial, usb.serial)) {
        return ProvenCopy{0, UsbProof::Port};
    }
    return std::nullopt;
}

bool SameBackupData(const fs::path& first, const fs::path& second) {
    return BackupData(first) == BackupData(second);
}

}  // namespace tapfix::nv
