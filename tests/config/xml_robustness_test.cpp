#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "config/xml_document.hpp"
#include "reference/download_xml.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::config {
namespace {

// Damages a document the ways a broken download or a wrong file does.
std::string Damage(const std::string& base, std::mt19937& random) {
    std::string bytes = base;
    const auto pick = [&](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound == 0 ? 0 : bound - 1)(random);
    };
    switch (pick(6)) {
        case 0:
            bytes.resize(pick(bytes.size()));
            break;
        case 1:
            for (std::size_t i = pick(20) + 1; i > 0 && !bytes.empty(); --i) {
                bytes[pick(bytes.size())] = static_cast<char>(pick(256));
            }
            break;
        case 2:
            bytes.assign(pick(4096), '\0');
            for (char& byte : bytes) {
                byte = static_cast<char>(pick(256));
            }
            break;
        case 3: {
            static const char* const kPieces[] = {
                "<",   ">",  "</", "/>", "<!--",     "-->",          "&",       "&#x", "<![CDATA[",
                "]]>", "<?", "\"", "<a", "</phone>", "<DOWNLOADBL>", "\xFF\xFE"};
            for (std::size_t i = pick(10) + 1; i > 0; --i) {
                bytes.insert(pick(bytes.size() + 1), kPieces[pick(std::size(kPieces))]);
            }
            break;
        }
        case 4:
            bytes = std::string(pick(3000), '<') + std::string("a>", pick(2) + 1);
            break;
        default:
            bytes.insert(0, std::string(pick(4) == 0 ? "\xFE\xFF" : "\xEF\xBB\xBF"));
            break;
    }
    return bytes;
}

TEST(XmlRobustness, DamagedDocumentsNeverCrashAndSaveBackUnchanged) {
    const std::string base = reference::PackageDownloadXml();
    std::mt19937 random(20240611);
    for (int round = 0; round < 600; ++round) {
        const std::string bytes = Damage(base, random);
        XmlDocument document;
        if (!document.LoadBytes(bytes)) {
            // What the user reads of a broken file: one line that says where.
            const std::string summary = document.ProblemSummary();
            ASSERT_FALSE(summary.empty()) << "round " << round;
            ASSERT_EQ(FailureLine(summary), summary) << "round " << round;
        }
        if (!document.HasResult("truncation_error")) {
            ASSERT_EQ(document.SaveBytes(), bytes) << "round " << round;
        }
        // Walk and edit whatever index was built.
        if (document.FindChild("DOWNLOADBL") && document.EnterChild()) {
            for (const char* item : {"ITEM_VERSIONFILE_PATH", "ITEM_RFNV", "ITEM_UFI"}) {
                if (document.FindChild(item) && document.EnterChild()) {
                    document.GetElementText();
                    document.SetElementText("/tmp/<x>&/");
                    document.GetElementText();
                    document.LeaveElement();
                }
            }
            document.LeaveElement();
        }
        document.SaveBytes();
    }
}

TEST(XmlRobustness, DamagedConfigurationsLoadOrFailWithAReason) {
    test::TempDir dir;
    const auto file = dir.Path() / "download.xml";
    std::string base = reference::PackageDownloadXml();
    const std::string empty = "<ITEM_VERSIONFILE_PATH></ITEM_VERSIONFILE_PATH>";
    base.replace(base.find(empty), empty.size(),
                 "<ITEM_VERSIONFILE_PATH>" + dir.Path().string() + "/</ITEM_VERSIONFILE_PATH>");
    std::mt19937 random(7);
    for (int round = 0; round < 120; ++round) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << Damage(base, random);
        DownloadServiceConfig config;
        std::string error;
        if (!LoadConfig(file, config, error)) {
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(config.loaded);
        }
    }
}

}  // namespace
}  // namespace tapfix::config
