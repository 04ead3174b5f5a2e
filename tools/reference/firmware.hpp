#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tapfix::reference {

// The build id written into "dsp2.mbn". The updater accepts a package when the device's ninth
// version string, cut before its last capital "V", occurs in dsp2.mbn; a device (or the
// simulator) that runs this firmware therefore reports "<build id>V<suffix>" with a suffix
// without "V", e.g. "M9615A-CEFWMAZM-2.0.1017V01".
inline constexpr std::string_view kDefaultBuildId = "M9615A-CEFWMAZM-2.0.1017";

struct ReferenceFirmwareOptions {
    std::filesystem::path output;
    // The sizes of the router's real package (about 140 MB); otherwise a few MB in all.
    bool full = false;
    std::string buildId = std::string(kDefaultBuildId);
    // The package of a router whose boot stage speaks Sahara: the programmer goes over Sahara.
    bool sahara = false;
};

// Writes the twenty files of the firmware package with plausible structure (MBN, ELF and
// Android boot headers, YAFFS2-like chunks, the partition table) and deterministic content.
bool GenerateReferenceFirmware(const ReferenceFirmwareOptions& options, std::string& error);

// Where the build id stands in dsp2.mbn; the updater's search covers it for both sizes.
inline constexpr std::size_t kBuildIdOffset = 0x400;

}  // namespace tapfix::reference
