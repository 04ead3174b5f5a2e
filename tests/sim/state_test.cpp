#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "sim/device_state.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::sim {
namespace {

// The host's reading of NV item 550, written out independently.
std::string DecodeImeiLikeTheHost(const NvValue& item) {
    std::string digits(1, static_cast<char>('0' + (item[1] >> 4)));
    for (int byte = 2; byte <= 8; ++byte) {
        digits += static_cast<char>('0' + (item[byte] & 0x0F));
        digits += static_cast<char>('0' + (item[byte] >> 4));
    }
    return digits;
}

TEST(DeviceState, ImeiIsStoredInTheLayoutTheHostDecodes) {
    NvValue item{};
    ASSERT_TRUE(EncodeImei("312345678901234", &item));
    const Bytes expected{0x08, 0x3A, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), item.begin()));
    EXPECT_FALSE(EncodeImei("31234567890123", &item));
    EXPECT_FALSE(EncodeImei("31234567890123x", &item));
}

TEST(DeviceState, DefaultDeviceLooksLikeTheRouterThePackageExpects) {
    DefaultsOptions options;
    options.buildIdPrefix = "M9615A-TEST-1.0";
    const DeviceState state = DefaultDeviceState(options);
    EXPECT_EQ(DecodeImeiLikeTheHost(state.nv.at(kNvImei)), options.imei);
    EXPECT_EQ(state.versions[8], "M9615A-TEST-1.0V01");
    for (const std::string& version : state.versions) {
        EXPECT_LE(version.size(), 30U) << version;
    }
    EXPECT_EQ(WifiMacText(state), options.wifiMac);
    // Every list item the package names by value is there, and some others are inactive.
    for (const std::uint16_t item : {22, 23, 52, 550, 1943, 4678, 6700, 7226, 8000, 8028}) {
        EXPECT_TRUE(state.nv.contains(item)) << item;
    }
    std::size_t inactive = 0;
    for (std::uint16_t item = 1; item <= 7226; ++item) {
        inactive += state.nv.contains(item) ? 0 : 1;
    }
    EXPECT_GT(inactive, 50U);
    EXPECT_LT(inactive, 500U);
    EXPECT_TRUE(state.readOnlyNv.contains(kNvEsn));
    EXPECT_EQ(state.efs.at("nv/item_files/rfnv/00020207").type, EfsType::Item);
    EXPECT_EQ(state.efs.at("nv/item_files/mcs/tcxomgr/ft_table").type, EfsType::Regular);
    for (const char* name :
         {"field_cal_params", "ft_table", "ifc_version", "ifc_c1_filter", "ifc_c1_history",
          "field_cal_version", "factory_cal_version", "field_aging_data", "tcxo_mode",
          "xo_factory_cal_debug", "xo_factory_cal_data"}) {
        EXPECT_TRUE(state.efs.contains(std::string("nv/item_files/mcs/tcxomgr/") + name)) << name;
    }
    EXPECT_TRUE(state.efs.contains("nv/item_files/conf/mcs_tcxomgr.conf"));
    EXPECT_EQ(state.partitionTable.size(), 576U);
}

TEST(DeviceState, FileRoundTripsAndBadFilesAreRefusedWithAReason) {
    test::TempDir dir;
    DeviceState state = DefaultDeviceState({});
    state.nv[1234][127] = 0x01;  // a value whose last byte is not padding
    state.nv[1235] = NvValue{};  // an active item holding zeros
    state.onboardBackup[550] = state.nv.at(550);
    const auto path = dir.Path() / "router.json";
    std::string error;
    ASSERT_TRUE(SaveState(path, state, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
    DeviceState loaded;
    ASSERT_TRUE(LoadState(path, &loaded, &error)) << error;
    EXPECT_TRUE(loaded == state);

    const auto write = [&](const std::string& text) {
        std::ofstream(path, std::ios::trunc) << text;
    };
    write("{ not json");
    EXPECT_FALSE(LoadState(path, &loaded, &error));
    EXPECT_NE(error.find("not JSON"), std::string::npos);

    // A small device is enough for the damaged files.
    state = DeviceState{};
    state.nv[550] = loaded.nv.at(550);
    loaded = state;
    nlohmann::json json = ToJson(state);
    json["nv"]["550"] = std::string(2 * 129, 'a');
    write(json.dump());
    EXPECT_FALSE(LoadState(path, &loaded, &error));
    EXPECT_NE(error.find("550"), std::string::npos) << error;

    json = ToJson(state);
    json["nv"]["70000"] = "00";
    write(json.dump());
    EXPECT_FALSE(LoadState(path, &loaded, &error));

    json = ToJson(state);
    json.erase("versions");
    write(json.dump());
    EXPECT_FALSE(LoadState(path, &loaded, &error));
    EXPECT_TRUE(loaded == state) << "a refused file leaves the state as it was";

    EXPECT_FALSE(LoadState(dir.Path() / "missing.json", &loaded, &error));
}

}  // namespace
}  // namespace tapfix::sim
