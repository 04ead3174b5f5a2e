#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tapfix::config {

// An EFS item file named by its full path in the device's EFS (no leading "/").
struct EfsNvFile {
    std::int32_t number = 0;
    std::string efsPath;
};

// One entry of a file list, checked against the image folder and measured.
struct DownloadFile {
    static constexpr std::size_t kMaxPathUnits = 255;

    std::filesystem::path path;
    std::uint32_t size = 0;
    std::uint8_t OpenCode = 0;
    std::int32_t bHdFile = 0;
    std::int32_t dlType = 0;
    std::int32_t bOpenMutilWithName = 0;
    std::string partitionName;
};

// The settings of download.xml, filled once by LoadConfig and read by the session and the NV
// preservation steps.
struct DownloadServiceConfig {
    std::int32_t operation = 0;
    std::int32_t nvOption = 0;
    std::string versionFilePath;
    std::string nvFilePath;
    std::int32_t saveLockData = 0;
    std::int32_t dvbhCertification = 0;
    std::int32_t ufi = 0;
    std::int32_t readWifiMacDiagCmd = 0;
    std::int32_t saharaProgrammer = 0;
    bool loaded = false;
    std::int32_t checkDownloadMode = 0;
    std::uint8_t autorunSubId = 0;
    std::uint8_t certificationSubId = 0;
    std::string dvbhEfsPath;
    std::string programmerFile;
    std::string bootProgrammerFile;
    std::int32_t highSpeedUsb = 0;
    std::uint8_t trustMode = 0;
    std::int32_t partitionDownload = 0;
    std::uint32_t totalBytes = 0;
    std::vector<std::int32_t> commonNv;
    std::vector<std::int32_t> rfNv;
    std::vector<std::int32_t> lockNv;
    std::vector<std::int32_t> efsRfNv;
    std::vector<EfsNvFile> efsRfNvOver6w;
    std::vector<std::string> fileEntries;
    std::vector<std::string> urgentEntries;
    std::vector<DownloadFile> files;
    std::vector<DownloadFile> urgentFiles;
};

// Reads download.xml into the record. A file without a DOWNLOADBL element is not an error: the
// result is true and `loaded` stays false. False, with the reason in `error`, for an empty
// image folder, a listed file name that reaches outside the image folder (checked for both
// lists before any file is looked at), a listed file that is absent or shorter than 2 bytes,
// and an entry that breaks the list grammars. The fields read before a failure stay in place.
bool LoadConfig(const std::filesystem::path& file, DownloadServiceConfig& config,
                std::string& error);
// The same from a document already loaded (and perhaps pointed at a folder in memory).
class XmlDocument;
bool ReadConfig(XmlDocument& document, DownloadServiceConfig& config, std::string& error);

// The value readings of the configuration, also used where the same texts are read elsewhere.
// Decimal leading-integer reading: blanks skipped, optional sign, digits up to the first other
// character; no digits give 0.
std::int32_t ReadInt(std::string_view text);
// Hexadecimal reading with an optional "0x", keeping the low 8 bits.
std::uint8_t ReadHex(std::string_view text);
// The text cut at every separator; an empty text is one empty piece.
std::vector<std::string_view> SplitPieces(std::string_view text, char separator);
// Every piece read as an int (an empty piece gives 0).
std::vector<std::int32_t> ReadNumberList(std::string_view text);

}  // namespace tapfix::config
