// The XQCN reader over any bytes: what it accepts, the writer writes again, and that reads back
// to the same content.
#include "nv/xqcn.hpp"

#include <algorithm>

#include "fuzz_input.hpp"

namespace tapfix::fuzz {
namespace {

Bytes AsBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

nv::NvRecord Item(std::uint16_t number, std::uint8_t fill) {
    nv::NvRecord record{number, {}, 0};
    record.data.fill(fill);
    return record;
}

// The writer files the EFS files by section, so their order may change, not their content.
std::vector<nv::XqcnFile> ByPath(std::vector<nv::XqcnFile> files) {
    std::sort(files.begin(), files.end(),
              [](const nv::XqcnFile& a, const nv::XqcnFile& b) { return a.path < b.path; });
    return files;
}

bool SameContent(const nv::XqcnContent& a, const nv::XqcnContent& b) {
    if (a.items.size() != b.items.size() || ByPath(a.efsFiles) != ByPath(b.efsFiles)) {
        return false;
    }
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        if (a.items[i].item != b.items[i].item || a.items[i].data != b.items[i].data) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<Bytes> Seeds() {
    nv::XqcnContent content;
    content.items = {Item(550, 0x35), Item(4678, 0x02), Item(6700, 0xFF)};
    content.efsFiles = {{"/nv/item_files/rfnv/00020207", "rf"},
                        {"/nv/item_files/mcs/tcxomgr/field_cal_params", std::string(3, '\0')}};
    return {AsBytes(nv::WriteXqcn(content, "seed")), AsBytes(nv::WriteXqcn({}, "empty")),
            AsBytes("\xEF\xBB\xBF<!-- other writer --><Storage Name=\"a\"><Storage "
                    "Name='NV_Items'><Storage Name='EFS_Dir'><Stream Length='6' Name='0' "
                    "Value='2f 6e 76 2f 61 00'/></Storage><Storage Name='EFS_Data'><Stream "
                    "Length='0' Name='0' Value=''></Stream></Storage></Storage></Storage>"),
            AsBytes("<Storage Name='x'><Storage Name='NV_NUMBERED_ITEMS'><Stream Length='2' "
                    "Name='NV_ITEM_ARRAY' Value='88 00'/></Storage></Storage>")};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix;
    nv::XqcnContent content;
    std::string error;
    if (!nv::ReadXqcn({reinterpret_cast<const char*>(data), size}, content, error)) {
        fuzz::Require(!error.empty());
        return 0;
    }
    nv::XqcnContent again;
    fuzz::Require(nv::ReadXqcn(nv::WriteXqcn(content, "again"), again, error));
    fuzz::Require(fuzz::SameContent(content, again));
    return 0;
}
