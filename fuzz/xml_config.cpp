// The XML reader over any bytes, and the configuration read from what it saves after start-up
// has pointed it at the work folder. Untouched documents save back byte for byte; a loaded
// configuration names only files inside the work folder, and a refused one says why.
#include <fstream>

#include "config/download_config.hpp"
#include "config/package.hpp"
#include "config/xml_document.hpp"
#include "fuzz_input.hpp"
#include "platform/utf16.hpp"
#include "reference/download_xml.hpp"
#include "scratch_folder.hpp"

namespace tapfix::fuzz {
namespace {

namespace fs = std::filesystem;

// A work folder with every file the package's lists name, a file outside it and a link out.
const fs::path& WorkFolder() {
    static const fs::path folder = [] {
        const fs::path work = ScratchFolder() / "xml" / "work";
        fs::create_directories(work);
        for (const config::PackageFile& file : config::PackageTable()) {
            std::ofstream(work / file.name) << file.name;
        }
        std::ofstream(work.parent_path() / "x") << "outside";
        fs::create_symlink(work.parent_path() / "x", work / "escape.mbn");
        return fs::canonical(work);
    }();
    return folder;
}

bool IsInsideWorkFolder(const fs::path& file) {
    std::error_code ec;
    const fs::path relative = fs::relative(fs::canonical(file, ec), WorkFolder(), ec);
    return !ec && !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// What start-up does before the configuration is read; the NV folder gets a text from the
// input instead, since nothing reads it as a path here. A text set reads back as it was.
void PointAtWorkFolder(config::XmlDocument& document, const std::string& nvText) {
    if (!document.FindChild("DOWNLOADBL") || !document.EnterChild()) {
        return;
    }
    for (const auto& [item, text] :
         {std::pair{"ITEM_VERSIONFILE_PATH", config::FolderText(WorkFolder())},
          std::pair{"ITEM_NVFILE_PATH", nvText}}) {
        if (document.FindChild(item) && document.EnterChild()) {
            document.GetElementText();
            if (document.SetElementText(text)) {
                Require(document.GetElementText() == text);
            }
            document.LeaveElement();
        }
    }
    document.LeaveElement();
}

// The input's last bytes as UTF-8 text (bytes that are not UTF-8 taken as Latin-1).
std::string TextFrom(std::string_view bytes) {
    constexpr std::size_t kLength = 40;
    return platform::Utf16ToUtf8(
        platform::Utf8ToUtf16(bytes.substr(bytes.size() - std::min(bytes.size(), kLength))));
}

void CheckConfiguration(const fs::path& file) {
    config::DownloadServiceConfig config;
    std::string error;
    if (!config::LoadConfig(file, config, error)) {
        Require(!error.empty() && !config.loaded);
        return;
    }
    std::uint64_t total = 0;
    for (const auto* list : {&config.files, &config.urgentFiles}) {
        for (const config::DownloadFile& listed : *list) {
            Require(IsInsideWorkFolder(listed.path) && listed.size >= 2);
            total += listed.size;
        }
    }
    Require(total == config.totalBytes);
}

Bytes AsBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace

std::vector<Bytes> Seeds() {
    const std::string package = reference::PackageDownloadXml();
    Bytes utf16{0xFF, 0xFE};
    for (const char16_t unit : platform::Utf8ToUtf16(package)) {
        utf16.push_back(static_cast<std::uint8_t>(unit));
        utf16.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    const std::string small =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE phone>\n<phone a='1'>"
        "<!-- c --><DOWNLOADBL><ITEM_VERSIONFILE_PATH/>//x\n<ITEM_NVFILE_PATH></ITEM_NVFILE_PATH>"
        "<ITEM_COMMONNV>550,&#x32;3,,</ITEM_COMMONNV><ITEM_EFS_RFNV_OVER6W>1,nv/a;2,b</"
        "ITEM_EFS_RFNV_OVER6W><ITEM_DOWNLOAD_FILElIST>rpm.mbn,0x0e,0,4,1,0:RPM;escape.mbn,"
        "0e,0,4</ITEM_DOWNLOAD_FILElIST><ITEM_DOWNLOAD_URGFLIELIST>../x,0e,0,4"
        "</ITEM_DOWNLOAD_URGFLIELIST><![CDATA[<x>]]><?pi x?>&eacute;\xE9</DOWNLOADBL></phone>";
    return {AsBytes(package), utf16, AsBytes(small)};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix;
    using namespace tapfix::fuzz;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    config::XmlDocument document;
    document.LoadBytes(bytes);
    if (!document.HasResult("truncation_error")) {
        Require(document.SaveBytes() == bytes);
    }
    PointAtWorkFolder(document, TextFrom(bytes));
    const std::filesystem::path file = WorkFolder() / "download.xml";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << document.SaveBytes();
    CheckConfiguration(file);
    return 0;
}
