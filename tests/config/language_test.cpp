#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <string>

#include "config/language_manager.hpp"
#include "config/ui_text.hpp"
#include "platform/profile.hpp"
#include "platform/utf16.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::config {
namespace {

// Every key the download session and the NV steps look up.
const std::set<std::string> kSessionKeys = {"ID_HINT_BACKUPNV",
                                            "ID_HINT_DOWNLOADARMPRG",
                                            "ID_HINT_DOWNPARTITION",
                                            "ID_HINT_DOWNSDPFILE",
                                            "ID_HINT_INTEGRATE",
                                            "ID_HINT_JUMPTOARMPRG",
                                            "ID_HINT_MAC_OUTER",
                                            "ID_HINT_PC_OUTER",
                                            "ID_HINT_RESETSDP",
                                            "ID_HINT_RESTORENV",
                                            "ID_HINT_SENDSECURITYCODE",
                                            "ID_HINT_START",
                                            "ID_HINT_SWITCHQUALDOWNMODE",
                                            "ID_HINT_SW_OUTER",
                                            "ID_HINT_THREAD",
                                            "ID_ERROR_ADRESSRSP",
                                            "ID_ERROR_BACKUPCER_ERR2",
                                            "ID_ERROR_BACKUPNV",
                                            "ID_ERROR_CAL1",
                                            "ID_ERROR_CAL2",
                                            "ID_ERROR_CAL3",
                                            "ID_ERROR_CREATENVPATH",
                                            "ID_ERROR_DOWNLOADARMPRG",
                                            "ID_ERROR_DOWNPARTITION",
                                            "ID_ERROR_DOWNSDPFILE",
                                            "ID_ERROR_FILEEXIT",
                                            "ID_ERROR_HANDSHAKE",
                                            "ID_ERROR_HSDL",
                                            "ID_ERROR_HSSENDDATA",
                                            "ID_ERROR_IMEIREPEAT",
                                            "ID_ERROR_JUMPTOARMPRG",
                                            "ID_ERROR_NOBARCODE",
                                            "ID_ERROR_NONEDOWNMODE",
                                            "ID_ERROR_NORESPONSE",
                                            "ID_ERROR_OPENMULTI",
                                            "ID_ERROR_PORTERR",
                                            "ID_ERROR_REPAIRCMD",
                                            "ID_ERROR_RESETSDP",
                                            "ID_ERROR_RESTORENV",
                                            "ID_ERROR_SENDSECURITYCODE",
                                            "ID_ERROR_SWITCHQUALDOWNMODE",
                                            "ID_ERROR_USBPORT",
                                            "ID_SUCCESS_BACKUPNV",
                                            "ID_SUCCESS_RESTORENV"};

TEST(ProfileReader, FollowsTheWindowsProfileRules) {
    test::TempDir dir;
    const auto file = dir.Path() / "texts.ini";
    std::ofstream(file, std::ios::binary)
        << "\xEF\xBB\xBF; comment\r\nstray=ignored\r\n[Other]\r\nKEY=other\r\n"
           "[ download_string_table ]\r\n  Key  =  \"  quoted  \"  \r\nkey=second\r\n"
           "Plain = a = b \r\nEmpty=\r\n[Other]\r\nLATE=x\r\n";
    std::string out;
    EXPECT_EQ(platform::GetPrivateProfileString("Download_String_Table", "KEY", "d", out, 64, file),
              10u);
    EXPECT_EQ(out, "  quoted  ");
    platform::GetPrivateProfileString("Download_String_Table", "plain", "d", out, 64, file);
    EXPECT_EQ(out, "a = b");
    EXPECT_EQ(
        platform::GetPrivateProfileString("Download_String_Table", "Empty", "d", out, 64, file),
        0u);
    EXPECT_EQ(out, "");
    platform::GetPrivateProfileString("Download_String_Table", "stray", "dflt", out, 64, file);
    EXPECT_EQ(out, "dflt");
    platform::GetPrivateProfileString("Other", "late", "", out, 64, file);
    EXPECT_EQ(out, "x");
    platform::GetPrivateProfileString("Download_String_Table", "KEY", "", out, 4, file);
    EXPECT_EQ(out, "  q");
    platform::GetPrivateProfileString("Download_String_Table", "KEY", "fallback", out, 64,
                                      dir.Path() / "missing.ini");
    EXPECT_EQ(out, "fallback");

    // UTF-16 files as Windows editors save them.
    const auto wide = dir.Path() / "wide.ini";
    std::ofstream(wide, std::ios::binary)
        << std::string("\xFF\xFE[\0s\0]\0\n\0k\0=\0\x16\x04\n\0", 18);
    platform::GetPrivateProfileString("s", "k", "", out, 64, wide);
    EXPECT_EQ(out, "\u0416");
}

TEST(LanguageManager, GivesBothLanguagesATextForEveryKeyItKnows) {
    CLanguageManager manager;
    EXPECT_EQ(manager.Language(), UiLanguage::Russian);
    const std::regex keyPattern("^(ID_(HINT|ERROR|SUCCESS)_[A-Z0-9_]+)=", std::regex::multiline);
    for (UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
        manager.SetLanguage(language);
        const std::string profile(BuiltInLanguageProfile(language));
        std::set<std::string> shipped;
        for (auto it = std::sregex_iterator(profile.begin(), profile.end(), keyPattern);
             it != std::sregex_iterator(); ++it) {
            shipped.insert((*it)[1]);
        }
        EXPECT_EQ(shipped, kSessionKeys);
        for (const std::string& key : kSessionKeys) {
            EXPECT_FALSE(manager.GetText(key).empty()) << key;
        }
    }
    manager.SetLanguage(UiLanguage::English);
    EXPECT_EQ(manager.GetText("ID_HINT_DOWNSDPFILE"), "Writing image ");
    manager.SetLanguage(UiLanguage::Russian);
    EXPECT_EQ(manager.GetText("ID_SUCCESS_RESTORENV"), "NV-параметры восстановлены");
    EXPECT_EQ(manager.GetText("ID_HINT_NOT_A_KEY"), "");

    const auto keys = TextKeys();
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()), kSessionKeys);
}

// A file's texts replace the built-in ones; the keys it lacks keep theirs and are named.
TEST(LanguageManager, PartialTextFileFallsBackToTheBuiltInTextsForTheKeysItLacks) {
    test::TempDir dir;
    const auto file = dir.Path() / "texts.ini";
    std::string longText;
    for (int i = 0; i < 600; ++i) {
        longText += "Жx";  // 1,200 UTF-16 units, 1,800 bytes
    }
    std::ofstream(file) << "[Download_String_Table]\nID_HINT_START=" << longText
                        << "\nID_ERROR_CAL1=Calibration says no\nID_HINT_BOGUS=x\n";
    CLanguageManager manager;
    manager.SetLanguage(UiLanguage::English);
    std::vector<std::string> lacking;
    std::string error;
    ASSERT_TRUE(manager.LoadTextFile(file, lacking, error)) << error;
    const std::string cut = manager.GetText("ID_HINT_START");
    EXPECT_EQ(platform::Utf16Length(cut), 1023u);
    EXPECT_TRUE(longText.starts_with(cut));
    EXPECT_EQ(manager.GetText("ID_ERROR_CAL1"), "Calibration says no");
    EXPECT_EQ(manager.GetText("ID_HINT_DOWNSDPFILE"), "Writing image ");
    EXPECT_EQ(lacking.size(), kSessionKeys.size() - 2);
    EXPECT_EQ(std::count(lacking.begin(), lacking.end(), "ID_HINT_DOWNSDPFILE"), 1);
    EXPECT_EQ(std::count(lacking.begin(), lacking.end(), "ID_HINT_START"), 0);

    ASSERT_TRUE(manager.LoadTextFile({}, lacking, error));
    EXPECT_EQ(manager.GetText("ID_ERROR_CAL1"), "The device reported a write failure");
    EXPECT_TRUE(lacking.empty());
}

TEST(LanguageManager, FileThatIsNoTextTableIsRefusedAndChangesNothing) {
    test::TempDir dir;
    const std::pair<std::string, std::optional<std::string>> files[] = {
        {"binary.bin", std::string("\x7F"
                                   "ELF\x02\x01\0\0\xFF\xFE=x\n",
                                   13)},
        {"other.ini", "[Other]\nID_HINT_START=elsewhere\n"},
        {"unknown.ini", "[Download_String_Table]\nGREETING=hello\n"},
        {"absent.ini", std::nullopt},
    };
    CLanguageManager manager;
    manager.SetLanguage(UiLanguage::English);
    for (const auto& [name, content] : files) {
        if (content) {
            std::ofstream(dir.Path() / name, std::ios::binary) << *content;
        }
        std::vector<std::string> lacking;
        std::string error;
        EXPECT_FALSE(manager.LoadTextFile(dir.Path() / name, lacking, error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
    EXPECT_EQ(manager.GetText("ID_HINT_START"), "Update started");
}

TEST(UiText, PicksTheLanguageOfTheWindow) {
    EXPECT_EQ(LoadUiText(130, 131, false), "Загрузка");
    EXPECT_EQ(LoadUiText(130, 131, true), "Update");
    EXPECT_EQ(LoadUiText(kTextRussianName, kTextEnglishName, false), "English");
    EXPECT_EQ(LoadUiText(kTextRussianName, kTextEnglishName, true), "Russian");
    EXPECT_EQ(UiText(kTextCaption), "DL_QX17_NRD_RU_EUV1.00.00");
    EXPECT_EQ(LoadUiText(134, 135, true), "Searching…");
    EXPECT_EQ(LoadUiText(106, 107, false), "1. Включите  Wi-Fi роутер.");
    EXPECT_EQ(UiText(132), "");
    // Every pair of the window is filled in both languages.
    for (auto [english, russian] : {std::pair{102, 103},
                                    {151, 152},
                                    {159, 160},
                                    {161, 162},
                                    {165, 166},
                                    {175, 176},
                                    {179, 180},
                                    {184, 185},
                                    {kTextPortHeldByModemManager, kTextPortHeldByModemManager + 1},
                                    {kTextPortHeld, kTextPortHeld + 1},
                                    {kTextPortInUse, kTextPortInUse + 1},
                                    {kTextPortPermission, kTextPortPermission + 1},
                                    {kTextPortCannotOpen, kTextPortCannotOpen + 1},
                                    {kTextRestarting, kTextRestarting + 1},
                                    {kTextSharedWorkFolder, kTextSharedWorkFolder + 1}}) {
        EXPECT_FALSE(UiText(english).empty()) << english;
        EXPECT_NE(UiText(english), UiText(russian)) << english;
    }
}

}  // namespace
}  // namespace tapfix::config
