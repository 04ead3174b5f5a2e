#include "config/download_config.hpp"

#include <limits>
#include <system_error>

#include "config/contained_name.hpp"
#include "config/failure_text.hpp"
#include "config/xml_document.hpp"
#include "platform/utf16.hpp"

namespace tapfix::config {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips blanks and a sign; returns whether the sign was "-".
bool SkipBlanksAndSign(std::string_view& text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) {
        text.remove_prefix(1);
    }
    return negative;
}

int DigitValue(char c, int base) {
    int value = base;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

// The leading digits' value, saturated at `limit` as the C library's conversions do.
std::uint64_t ReadDigits(std::string_view text, int base, std::uint64_t limit) {
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = DigitValue(c, base);
        if (digit < 0) {
            break;
        }
        value = std::min(
            limit, value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit));
    }
    return value;
}

std::string_view TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The key lookup of the configuration: each key is searched after the element at which the
// previous lookup stopped; a key that is not found takes the text of the last key found.
class KeyReader {
  public:
    explicit KeyReader(XmlDocument& document) : document_(document) {}

    const std::string& Next(std::string_view key) {
        key_ = key;
        found_ = document_.FindChild(key);
        if (found_) {
            line_ = document_.ChildLine();
            document_.EnterChild();
            last_ = document_.GetElementText();
            document_.LeaveElement();
        }
        return last_;
    }

    // The last key and its line, for failure texts; a missing key says whose text it was given.
    std::string Described() const {
        if (!found_) {
            return std::string(key_) +
                   " (missing or out of order, so the previous key's text was read)";
        }
        return "line " + std::to_string(line_) + ": " + std::string(key_);
    }

  private:
    XmlDocument& document_;
    std::string last_;
    std::string_view key_;
    std::size_t line_ = 0;
    bool found_ = false;
};

// An entry of a list, quoted in a failure line.
constexpr std::size_t kQuotedEntryLength = 60;

std::string Quoted(std::string_view text) {
    return "\"" + Excerpt(text, kQuotedEntryLength) + "\"";
}

bool ReadPairList(std::string_view text, const std::string& key, std::vector<EfsNvFile>& pairs,
                  std::string& error) {
    for (std::string_view entry : SplitPieces(text, ';')) {
        const std::vector<std::string_view> fields = SplitPieces(entry, ',');
        if (fields.size() < 2) {
            error = key + ": entry " + Quoted(entry) +
                    " is not a number and an EFS path separated by \",\"";
            return false;
        }
        pairs.push_back({ReadInt(fields[0]), std::string(fields[1])});
    }
    return true;
}

// The file named by a list entry, checked and measured.
bool MeasureFile(const std::filesystem::path& path, std::string_view key, DownloadFile& file,
                 std::string& error) {
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    const std::uintmax_t size = regular ? std::filesystem::file_size(path, ec) : 0;
    const std::string named = std::string(key) + ": firmware file " +
                              Excerpt(path.filename().string(), kQuotedEntryLength);
    if (!regular || ec || size < 2) {
        error = WithDetails(named + " missing or shorter than 2 bytes", path.string());
        return false;
    }
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        error = WithDetails(named + " of 4 GiB or more", path.string());
        return false;
    }
    file.path = path;
    file.size = static_cast<std::uint32_t>(size);
    return true;
}

// The file name of a list entry: its first field without the spaces around it.
std::string_view ListedName(std::string_view entry) {
    return TrimSpaces(entry.substr(0, entry.find(',')));
}

// Why a listed name cannot be used; empty when it can (an empty name is a grammar matter).
std::string WhyNameIsRefused(const std::string& folder, std::string_view name) {
    if (name.empty()) {
        return {};
    }
    const std::string path = (std::filesystem::path(folder) / name).string();
    if (platform::Utf16Length(path) > DownloadFile::kMaxPathUnits) {
        return WithDetails("makes a path longer than 255 characters", path);
    }
    return WhyNameLeavesFolder(folder, name);
}

// Every name of a list, before any file is looked at: none may reach outside the image folder.
bool CheckListedNames(std::string_view text, std::string_view key, const std::string& folder,
                      std::string& error) {
    for (std::string_view entry : SplitPieces(text, ';')) {
        const std::string reason = WhyNameIsRefused(folder, ListedName(entry));
        if (!reason.empty()) {
            error = std::string(key) + ": entry " + Quoted(entry) + " " + reason;
            return false;
        }
    }
    return true;
}

bool ReadFileEntry(std::string_view entry, const std::string& folder, std::string_view key,
                   DownloadFile& file, std::string& error) {
    const std::vector<std::string_view> fields = SplitPieces(entry, ',');
    const std::string_view name = ListedName(entry);
    if (fields.size() < 4 || name.empty()) {
        error = std::string(key) + ": entry " + Quoted(entry) +
                " needs a file name, open code, header flag and download type";
        return false;
    }
    if (!MeasureFile(std::filesystem::path(folder) / name, key, file, error)) {
        return false;
    }
    file.OpenCode = ReadHex(fields[1]);
    file.bHdFile = ReadInt(fields[2]);
    file.dlType = ReadInt(fields[3]);
    file.bOpenMutilWithName = fields.size() > 4 ? ReadInt(fields[4]) : 0;
    file.partitionName = fields.size() > 5 ? std::string(fields[5]) : std::string();
    return true;
}

bool ReadFileList(std::string_view text, std::string_view key, DownloadServiceConfig& config,
                  std::vector<std::string>& entries, std::vector<DownloadFile>& files,
                  std::string& error) {
    const std::vector<std::string_view> pieces = SplitPieces(text, ';');
    entries.insert(entries.end(), pieces.begin(), pieces.end());
    for (std::string_view entry : pieces) {
        DownloadFile file;
        if (!ReadFileEntry(entry, config.versionFilePath, key, file, error)) {
            return false;
        }
        if (file.size > std::numeric_limits<std::uint32_t>::max() - config.totalBytes) {
            error = std::string(key) + ": the listed files exceed 4 GiB in all";
            return false;
        }
        config.totalBytes += file.size;
        files.push_back(std::move(file));
    }
    return true;
}

// One DOWNLOADBL element, its keys in reading order.
bool ReadBlock(KeyReader& keys, DownloadServiceConfig& config, std::string& error) {
    keys.Next("ITEM_MODE");  // the operation comes from the session, never from the file
    config.nvOption = ReadInt(keys.Next("ITEM_NVOPTION"));
    config.versionFilePath = keys.Next("ITEM_VERSIONFILE_PATH");
    if (config.versionFilePath.empty()) {
        error = "ITEM_VERSIONFILE_PATH is empty: the configuration names no image folder";
        return false;
    }
    config.nvFilePath = keys.Next("ITEM_NVFILE_PATH");
    config.saveLockData = ReadInt(keys.Next("ITEM_SAVELOCKDATA"));
    config.dvbhCertification = ReadInt(keys.Next("ITEM_DVBH_Certificatioin"));
    config.commonNv = ReadNumberList(keys.Next("ITEM_COMMONNV"));
    config.rfNv = ReadNumberList(keys.Next("ITEM_RFNV"));
    config.lockNv = ReadNumberList(keys.Next("ITEM_LOCKNV"));
    config.efsRfNv = ReadNumberList(keys.Next("ITEM_EFS_RFNV"));
    const std::string& pairs = keys.Next("ITEM_EFS_RFNV_OVER6W");
    if (!ReadPairList(pairs, keys.Described(), config.efsRfNvOver6w, error)) {
        return false;
    }
    config.checkDownloadMode = ReadInt(keys.Next("ITEM_CHECKDOWNLOADMODE"));
    config.autorunSubId = static_cast<std::uint8_t>(ReadInt(keys.Next("ITEM_Autorun_sub_ID")));
    config.certificationSubId =
        static_cast<std::uint8_t>(ReadInt(keys.Next("ITEM_Certificatioin_sub_ID")));
    config.dvbhEfsPath = keys.Next("ITEM_DVBH_EFS_PATH");
    config.programmerFile = keys.Next("ITEM_DL_armprg");
    config.saharaProgrammer = ReadInt(keys.Next("ITEM_DL_armprg_type_Sahara"));
    config.highSpeedUsb = ReadInt(keys.Next("ITEM_HSUSB"));
    config.trustMode = static_cast<std::uint8_t>(ReadInt(keys.Next("ITEM_trustmode")));
    config.partitionDownload = ReadInt(keys.Next("ITEM_PartitionDL"));
    const std::string files = keys.Next("ITEM_DOWNLOAD_FILElIST");
    const std::string filesKey = keys.Described();
    const std::string urgent = keys.Next("ITEM_DOWNLOAD_URGFLIELIST");
    const std::string urgentKey = keys.Described();
    if (!CheckListedNames(files, filesKey, config.versionFilePath, error) ||
        !CheckListedNames(urgent, urgentKey, config.versionFilePath, error) ||
        !ReadFileList(files, filesKey, config, config.fileEntries, config.files, error) ||
        !ReadFileList(urgent, urgentKey, config, config.urgentEntries, config.urgentFiles, error)) {
        return false;
    }
    config.readWifiMacDiagCmd = ReadInt(keys.Next("ITEM_READ_WIFIMAC_DIAGCMD"));
    config.ufi = ReadInt(keys.Next("ITEM_UFI"));
    return true;
}

}  // namespace

std::int32_t ReadInt(std::string_view text) {
    const bool negative = SkipBlanksAndSign(text);
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    const auto magnitude = static_cast<std::int64_t>(ReadDigits(text, 10, limit));
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::uint8_t ReadHex(std::string_view text) {
    const bool negative = SkipBlanksAndSign(text);
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    const std::uint64_t magnitude = ReadDigits(text, 16, std::numeric_limits<std::uint32_t>::max());
    return static_cast<std::uint8_t>(negative ? 0 - magnitude : magnitude);
}

std::vector<std::string_view> SplitPieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, from)) {
        pieces.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    pieces.push_back(text.substr(from));
    return pieces;
}

std::vector<std::int32_t> ReadNumberList(std::string_view text) {
    std::vector<std::int32_t> numbers;
    for (std::string_view piece : SplitPieces(text, ',')) {
        numbers.push_back(ReadInt(piece));
    }
    return numbers;
}

bool LoadConfig(const std::filesystem::path& file, DownloadServiceConfig& config,
                std::string& error) {
    // An unreadable document simply has no DOWNLOADBL element.
    XmlDocument document;
    document.LoadFile(file);
    if (!ReadConfig(document, config, error)) {
        error = file.string() + ": " + error;
        return false;
    }
    return true;
}

bool ReadConfig(XmlDocument& document, DownloadServiceConfig& config, std::string& error) {
    config.fileEntries.clear();
    config.urgentEntries.clear();
    config.files.clear();
    config.urgentFiles.clear();
    config.efsRfNvOver6w.clear();
    config.commonNv.clear();
    config.rfNv.clear();
    config.lockNv.clear();
    config.efsRfNv.clear();
    config.totalBytes = 0;
    config.loaded = false;
    while (document.FindChild("DOWNLOADBL")) {
        document.EnterChild();
        KeyReader keys(document);
        if (!ReadBlock(keys, config, error)) {
            config.loaded = false;
            return false;
        }
        document.LeaveElement();
        config.loaded = true;
    }
    return true;
}

}  // namespace tapfix::config
