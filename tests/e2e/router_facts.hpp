#pragma once

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

// What the end-to-end cases read out of the simulator's state and trace, and out of the
// package the updater carries, to judge an update from the outside.
namespace tapfix::test::e2e {

using Json = nlohmann::json;

// The package as the updater sees it once it has unpacked it into its work folder.
struct PackageFacts {
    std::vector<int> nvItems;                   // the NV items the package keeps
    std::vector<std::string> efsFiles;          // the EFS files it keeps, by path
    std::map<std::string, std::string> images;  // partition -> SHA-256 of the image written there
};

// Reads the work folder's download.xml and the packed updater's index; fails the test when
// either cannot be read.
PackageFacts ReadPackageFacts(const std::filesystem::path& workFolder,
                              const std::filesystem::path& updater);

// What an update promises to keep of a router (state file): the listed NV items and EFS files
// it has, its Wi-Fi MAC, SSID and password, by name.
std::map<std::string, Json> KeptData(const Json& state, const PackageFacts& package);
// The names whose values differ between two such maps, or that only one of them has.
std::vector<std::string> Differences(const std::map<std::string, Json>& before,
                                     const std::map<std::string, Json>& after);
// Partition -> SHA-256 of what the router's flash holds.
std::map<std::string, std::string> FlashedImages(const Json& state);

// Turns a router made by the simulator into another one with this IMEI (the caller gives it
// its own MAC): every other NV item, EFS file and Wi-Fi secret differs from the default router.
void MakeAnotherRouter(Json& state, std::string_view imei);

std::string FileBytes(const std::filesystem::path& file);
// What a backup folder gives back, by name: each NV item's 128 bytes ("NV 550"; an item the
// lists name twice once), each EFS file ("EFS <file>") and the Wi-Fi MAC ("MAC").
std::map<std::string, std::string> BackupData(const std::filesystem::path& folder);

// Trace records of one kind: `event` "request" with `name`, or any other event.
std::vector<Json> Events(const std::vector<Json>& trace, std::string_view event);
std::vector<Json> Requests(const std::vector<Json>& trace, std::string_view name);
// What the router received in its boot stage or from its flash programmer: download traffic.
std::size_t DownloadRequests(const std::vector<Json>& trace);

}  // namespace tapfix::test::e2e
