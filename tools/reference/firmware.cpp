#include "reference/firmware.hpp"

#include <cstdint>
#include <functional>
#include <system_error>
#include <vector>

#include "config/package.hpp"
#include "link/wire.hpp"
#include "platform/file_io.hpp"
#include "reference/download_xml.hpp"

namespace tapfix::reference {
namespace {

using Image = std::vector<std::uint8_t>;

// Deterministic filler, different per file and build.
void FillRandom(Image& image, std::size_t from, std::string_view seedText) {
    std::uint64_t state = std::hash<std::string_view>{}(seedText) | 1;
    for (std::size_t i = from; i < image.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        image[i] = static_cast<std::uint8_t>(state);
    }
}

void PutText(Image& image, std::size_t offset, std::string_view text) {
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutWords(Image& image, std::size_t offset, std::initializer_list<std::uint32_t> words) {
    for (std::uint32_t word : words) {
        wire::WriteLe32(image, offset, word);
        offset += 4;
    }
}

// Qualcomm MBN image: the 40-byte header (image id, header version 3, image source, load
// address, image size, code size, signature and certificate chain pointers and sizes).
Image Mbn(std::uint32_t imageId, std::size_t size, std::string_view seed) {
    Image image(size);
    FillRandom(image, 40, seed);
    const auto body = static_cast<std::uint32_t>(size - 40);
    const std::uint32_t signature = 256;
    const std::uint32_t load = 0x40000000;
    PutWords(image, 0,
             {imageId, 3, 40, load, body, body - signature, load + body - signature, signature,
              load + body, 0});
    return image;
}

// First-stage boot loader with the NAND code-word header.
Image Sbl1(std::size_t size, std::string_view seed) {
    Image image(size);
    FillRandom(image, 80, seed);
    PutWords(image, 0,
             {0x844BDCD1, 0x73D71034, 0x7D0B435A, 0x15, 0xFFFFFFFF, 0xFFFFFFFF, 3, 80, 0x2A000000,
              static_cast<std::uint32_t>(size - 80)});
    return image;
}

// 32-bit little-endian ELF for the Hexagon modem with one loadable segment.
Image Elf(std::size_t size, std::string_view seed) {
    Image image(size);
    FillRandom(image, 0x100, seed);
    std::fill(image.begin(), image.begin() + 0x100, 0);
    PutText(image, 0,
            "\x7F"
            "ELF\x01\x01\x01");
    wire::WriteLe16(image, 16, 2);    // executable
    wire::WriteLe16(image, 18, 164);  // QDSP6
    PutWords(image, 20, {1, 0x08000000, 52, 0});
    PutWords(image, 36, {0x00000003});
    wire::WriteLe16(image, 40, 52);
    wire::WriteLe16(image, 42, 32);
    wire::WriteLe16(image, 44, 1);
    PutWords(image, 52,
             {1, 0x100, 0x08000000, 0x08000000, static_cast<std::uint32_t>(size - 0x100),
              static_cast<std::uint32_t>(size - 0x100), 7, 0x1000});
    return image;
}

Image Dsp2(std::size_t size, std::string_view seed, std::string_view buildId) {
    Image image = Elf(size, seed);
    const std::string version = "QC_IMAGE_VERSION_STRING=" + std::string(buildId);
    PutText(image, kBuildIdOffset - 24, version);
    image[kBuildIdOffset - 24 + version.size()] = 0;
    return image;
}

// Android boot image: "ANDROID!" header in a 2 KiB page, kernel and ramdisk after it.
Image AndroidBoot(std::size_t size, std::string_view seed, std::string_view name) {
    Image image(size);
    FillRandom(image, 2048, seed);
    std::fill(image.begin(), image.begin() + 2048, 0);
    const auto kernel = static_cast<std::uint32_t>((size - 2048) * 3 / 4);
    const auto ramdisk = static_cast<std::uint32_t>(size - 2048 - kernel);
    PutText(image, 0, "ANDROID!");
    PutWords(image, 8, {kernel, 0x40208000, ramdisk, 0x41300000, 0, 0x41100000, 0x40200100, 2048});
    PutText(image, 48, name);
    PutText(image, 64, "noinitrd console=ttyHSL0,115200,n8 androidboot.hardware=qcom");
    return image;
}

// YAFFS2 NAND dump: 2048-byte chunks with 64 spare bytes; an object header starts it.
Image Yaffs2(std::size_t size, std::string_view seed, std::string_view rootName) {
    constexpr std::size_t kChunk = 2048 + 64;
    Image image(size);
    FillRandom(image, 0, seed);
    for (std::size_t chunk = 0; chunk + kChunk <= size; chunk += kChunk) {
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(chunk + 2048), 64, 0xFF);
    }
    std::fill_n(image.begin(), std::min<std::size_t>(512, size), 0xFF);
    PutWords(image, 0, {3, 1, 0});  // directory object, parent 1, checksum unused
    PutText(image, 10, rootName);
    return image;
}

Image Efs(std::size_t size, std::string_view seed) {
    Image image(size, 0xFF);
    FillRandom(image, size / 2, seed);
    PutText(image, 0, "EFSSuper");
    PutWords(image, 8, {0x00010004, 2048, 64, static_cast<std::uint32_t>(size / (2048 * 64))});
    return image;
}

// The flash partition table: two magic words, version 3, 20 entries of a 16-byte name, start
// and length in erase blocks and four attribute bytes; 576 bytes.
Image PartitionTable() {
    static constexpr std::pair<const char*, std::uint32_t> kPartitions[] = {
        {"0:MIBIB", 10},       {"0:SBL1", 10},     {"0:SBL2", 10},     {"0:RPM", 10},
        {"0:EFS2", 60},        {"0:DSP1", 40},     {"0:DSP3", 10},     {"0:DSP2", 280},
        {"0:APPSBL", 10},      {"0:APPS", 60},     {"0:RECOVERY", 60}, {"0:FOTA", 40},
        {"0:CACHE", 40},       {"0:MISC", 10},     {"0:SECURITY", 10}, {"0:SYSTEM", 140},
        {"0:RECOVERYFS", 100}, {"0:QVODATA", 160}, {"0:BACKUP", 20},   {"0:USERDATA", 0xFFFFFFFF}};
    Image image(16 + 20 * 28, 0);
    PutWords(image, 0, {0xAA7D1B9A, 0x1F7D48BC, 3, 20});
    std::uint32_t start = 0;
    for (std::size_t i = 0; i < std::size(kPartitions); ++i) {
        const std::size_t at = 16 + i * 28;
        PutText(image, at, kPartitions[i].first);
        PutWords(image, at + 16, {start, kPartitions[i].second});
        image[at + 24] = 0xFF;  // attributes: default
        image[at + 25] = 0x01;
        image[at + 26] = 0x00;
        image[at + 27] = 0xFF;
        start += kPartitions[i].second;
    }
    return image;
}

// A stand-in for a Windows helper program: it is written out and never run on Linux.
Image WindowsPlaceholder(std::size_t size, std::string_view name) {
    Image image(size, 0);
    PutText(image, 0, "MZ");
    PutText(image, 0x4E, "This program cannot be run in DOS mode.\r\n$");
    PutText(image, 0x100, "tapfix reference firmware placeholder for " + std::string(name));
    return image;
}

struct FileSpec {
    std::string_view name;
    std::size_t smallSize;
    std::size_t fullSize;
};

constexpr FileSpec kSizes[] = {
    {"9615-cdp-image-9615-cdp.yaffs2", 64 * 2112, 13947648},
    {"9615-cdp-recovery-image-9615-cdp.yaffs2", 48 * 2112, 9972864},
    {"9615-cdp-usr-image.usrfs.yaffs2", 96 * 2112, 26672448},
    {"9615-cdp-qvodata-image.usrfs.yaffs2", 80 * 2112, 19132608},
    {"appsboot.mbn", 71256, 71256},
    {"armprg.bin", 63892, 63892},
    {"narmprg.bin", 78048, 78048},
    {"boot-oe-msm9615.img", 256 * 1024, 6940672},
    {"dsp1.mbn", 192 * 1024, 3363208},
    {"dsp2.mbn", 1024 * 1024 + 4, 35924676},
    {"efs.mbn", 128 * 1024, 1198080},
    {"recovery-boot-oe-msm9615.img", 256 * 1024, 6940672},
    {"rpm.mbn", 105776, 105776},
    {"sbl1.mbn", 115780, 115780},
    {"sbl2.mbn", 373888, 373888},
    {"SCSI.exe", 20480, 20480},
    {"setup.exe", 64 * 1024, 4454224},
    {"setupOLD.exe", 96 * 1024, 9783768},
};

Image Build(std::string_view name, std::size_t size, const std::string& buildId) {
    const std::string seed = std::string(name) + "/" + buildId;
    if (name.ends_with(".yaffs2")) {
        return Yaffs2(size, seed, name.substr(0, name.find('.')));
    }
    if (name.ends_with(".img")) {
        return AndroidBoot(size, seed, "msm9615");
    }
    if (name.ends_with(".exe")) {
        return WindowsPlaceholder(size, name);
    }
    if (name == "dsp1.mbn") {
        return Elf(size, seed);
    }
    if (name == "dsp2.mbn") {
        return Dsp2(size, seed, buildId);
    }
    if (name == "efs.mbn") {
        return Efs(size, seed);
    }
    if (name == "sbl1.mbn") {
        return Sbl1(size, seed);
    }
    const std::uint32_t imageId = name == "appsboot.mbn" ? 5
                                  : name == "rpm.mbn"    ? 0x17
                                  : name == "sbl2.mbn"   ? 0x16
                                                         : 7;  // the two flash programmers
    return Mbn(imageId, size, seed);
}

bool Write(const std::filesystem::path& file, const Image& image, std::string& error) {
    return platform::WriteFileAtomically(
        file, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()), error);
}

}  // namespace

bool GenerateReferenceFirmware(const ReferenceFirmwareOptions& options, std::string& error) {
    if (options.buildId.empty() || options.buildId.size() > 200) {
        error = "the build id must be 1 to 200 characters";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(options.output, ec);
    if (ec) {
        error = "cannot create " + options.output.string() + ": " + ec.message();
        return false;
    }
    for (const FileSpec& spec : kSizes) {
        const Image image =
            Build(spec.name, options.full ? spec.fullSize : spec.smallSize, options.buildId);
        if (!Write(options.output / spec.name, image, error)) {
            return false;
        }
    }
    const std::string xml = PackageDownloadXml(options.sahara);
    return Write(options.output / "partition.mbn", PartitionTable(), error) &&
           platform::WriteFileAtomically(options.output / "download.xml", xml, error);
}

}  // namespace tapfix::reference
