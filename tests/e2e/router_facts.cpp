#include "router_facts.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "config/download_config.hpp"
#include "config/package.hpp"

namespace tapfix::test::e2e {
namespace {

constexpr std::string_view kRfItemFolder = "nv/item_files/rfnv/";
constexpr const char* kWifiMacItem = "4678";
constexpr std::size_t kMacHexDigits = 12;

std::string RfItemPath(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "%08d", number);
    return std::string(kRfItemFolder) + name;
}

std::map<std::string, std::string> ImageDigests(const std::filesystem::path& updater) {
    config::CFirmwarePackage package;
    EXPECT_TRUE(package.Open(updater)) << package.LastError();
    std::map<std::string, std::string> digests;
    for (const config::PackageEntry& entry : package.Entries()) {
        digests[entry.name] = config::HexText(entry.sha256);
    }
    return digests;
}

// The value under `key` of a JSON object, or nothing.
const Json* Member(const Json& object, const std::string& key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

}  // namespace

PackageFacts ReadPackageFacts(const std::filesystem::path& workFolder,
                              const std::filesystem::path& updater) {
    config::DownloadServiceConfig config;
    std::string error;
    EXPECT_TRUE(config::LoadConfig(workFolder / "download.xml", config, error)) << error;
    PackageFacts facts;
    for (const auto* list : {&config.rfNv, &config.commonNv, &config.lockNv}) {
        facts.nvItems.insert(facts.nvItems.end(), list->begin(), list->end());
    }
    for (const std::int32_t number : config.efsRfNv) {
        facts.efsFiles.push_back(RfItemPath(number));
    }
    for (const config::EfsNvFile& pair : config.efsRfNvOver6w) {
        facts.efsFiles.push_back(pair.efsPath);
    }
    const std::map<std::string, std::string> digests = ImageDigests(updater);
    for (const config::DownloadFile& file : config.files) {
        const auto digest = digests.find(file.path.filename().string());
        EXPECT_NE(digest, digests.end()) << file.path;
        if (digest != digests.end()) {
            facts.images[file.partitionName] = digest->second;
        }
    }
    EXPECT_FALSE(facts.nvItems.empty() || facts.efsFiles.empty() || facts.images.empty());
    return facts;
}

std::map<std::string, Json> KeptData(const Json& state, const PackageFacts& package) {
    std::map<std::string, Json> kept;
    const Json nv = state.value("nv", Json::object());
    for (const int item : package.nvItems) {
        if (const Json* value = Member(nv, std::to_string(item))) {
            kept["NV item " + std::to_string(item)] = *value;
        }
    }
    const Json efs = state.value("efs", Json::object());
    for (const std::string& path : package.efsFiles) {
        if (const Json* file = Member(efs, path)) {
            kept["EFS file " + path] = *file;
        }
    }
    if (const Json* mac = Member(nv, kWifiMacItem)) {
        kept["Wi-Fi MAC"] = mac->get<std::string>().substr(0, kMacHexDigits);
    }
    const Json wifi = state.value("wifi", Json::object());
    kept["SSID"] = wifi.value("ssid", "");
    kept["Wi-Fi password"] = wifi.value("password", "");
    return kept;
}

std::vector<std::string> Differences(const std::map<std::string, Json>& before,
                                     const std::map<std::string, Json>& after) {
    std::vector<std::string> names;
    for (const auto& [name, value] : before) {
        const auto found = after.find(name);
        if (found == after.end() || found->second != value) {
            names.push_back(name);
        }
    }
    for (const auto& [name, value] : after) {
        if (!before.contains(name)) {
            names.push_back(name);
        }
    }
    return names;
}

std::map<std::string, std::string> FlashedImages(const Json& state) {
    std::map<std::string, std::string> images;
    const Json flash = state.value("flash", Json::object());
    for (const auto& [partition, image] : flash.items()) {
        images[partition] = image.value("sha256", "");
    }
    return images;
}

void MakeAnotherRouter(Json& state, std::string_view imei) {
    for (auto& [item, value] : state.at("nv").items()) {
        std::string hex = value.get<std::string>();
        if (!hex.empty() && item != "550" && item != kWifiMacItem) {
            hex[0] = hex[0] == 'b' ? 'c' : 'b';
            value = hex;
        }
    }
    for (auto& [path, file] : state.at("efs").items()) {
        std::string hex = file.at("data").get<std::string>();
        if (!hex.empty()) {
            hex[0] = hex[0] == 'b' ? 'c' : 'b';
            file["data"] = hex;
        }
    }
    // The firmware restores its SSID and password from the copies it keeps aside.
    for (const char* key : {"ssid", "savedSsid"}) {
        state["wifi"][key] = "router-" + std::string(imei);
    }
    for (const char* key : {"password", "savedPassword"}) {
        state["wifi"][key] = "secret-" + std::string(imei);
    }
}

std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> BackupData(const std::filesystem::path& folder) {
    constexpr std::size_t kRecord = 136;
    constexpr std::size_t kItemBytes = 128;
    std::map<std::string, std::string> data;
    const std::string records = FileBytes(folder / "Channel0.nv");
    for (std::size_t at = 0; at + kRecord <= records.size(); at += kRecord) {
        const unsigned item = static_cast<unsigned char>(records[at]) |
                              static_cast<unsigned char>(records[at + 1]) << 8;
        data.emplace("NV " + std::to_string(item), records.substr(at + 4, kItemBytes));
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator entry(folder / "ITEM_EFS_RFNV", ec), end;
         !ec && entry != end; entry.increment(ec)) {
        data["EFS " + entry->path().filename().string()] = FileBytes(entry->path());
    }
    data["MAC"] = FileBytes(folder / "wifi_mac");
    return data;
}

std::vector<Json> Events(const std::vector<Json>& trace, std::string_view event) {
    std::vector<Json> found;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(found),
                 [&](const Json& record) { return record.value("event", "") == event; });
    return found;
}

std::vector<Json> Requests(const std::vector<Json>& trace, std::string_view name) {
    std::vector<Json> found;
    for (const Json& request : Events(trace, "request")) {
        if (request.value("name", "") == name) {
            found.push_back(request);
        }
    }
    return found;
}

std::size_t DownloadRequests(const std::vector<Json>& trace) {
    return std::count_if(trace.begin(), trace.end(), [](const Json& record) {
        const std::string event = record.value("event", "");
        const Json mode = record.value("mode", Json());
        return event == "sahara" || (event == "request" && mode.is_string() && mode != "normal");
    });
}

}  // namespace tapfix::test::e2e
