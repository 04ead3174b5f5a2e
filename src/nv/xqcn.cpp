#include "nv/xqcn.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <span>

#include "link/wire.hpp"

namespace tapfix::nv {
namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\n";
constexpr std::string_view kNvStorage = "NV_NUMBERED_ITEMS";
constexpr std::string_view kNvStream = "NV_ITEM_ARRAY";
constexpr std::string_view kRfSection = "EFS_Backup";
constexpr std::string_view kProvisioningSection = "Provisioning_Item_Files";
constexpr std::string_view kItemSection = "NV_Items";
constexpr std::array kEfsSections{kRfSection, kProvisioningSection, kItemSection};
constexpr std::string_view kDirStorage = "EFS_Dir";
constexpr std::string_view kDataStorage = "EFS_Data";
constexpr std::string_view kRfFolder = "/nv/item_files/rfnv/";
constexpr std::string_view kNvFolder = "/nv/";

// One NV item in NV_ITEM_ARRAY.
constexpr std::uint16_t kRecordLength = 0x0088;
constexpr std::uint16_t kRecordKind = 0x0001;
constexpr std::size_t kRecordItemOffset = 4;
constexpr std::size_t kRecordDataOffset = 8;
// The prefix of an EFS_Backup path: four fixed bytes and a 32-bit value (the file's length
// here; writers differ on it).
constexpr std::array<std::uint8_t, 4> kRfPathMark{0x01, 0x00, 0x01, 0x01};
constexpr std::size_t kRfPathPrefix = 8;
constexpr std::array<std::uint16_t, 3> kFileVersion{2, 0, 0};

// Storages nest a few levels deep; anything deeper is not XQCN.
constexpr int kMaxDepth = 16;

using Bytes = std::string;

// --- writing ---

std::string Hex(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(byte));
        text += text.empty() ? "" : " ";
        text += pair;
    }
    return text;
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    for (const char c : text) {
        switch (c) {
            case '&':
                quoted += "&amp;";
                break;
            case '<':
                quoted += "&lt;";
                break;
            case '\'':
                quoted += "&apos;";
                break;
            default:
                quoted += c;
        }
    }
    return "'" + quoted + "'";
}

class Writer {
  public:
    void Open(std::string_view name) {
        Indent();
        text_ += "<Storage Name=" + Quoted(name) + ">\n";
        ++depth_;
    }
    void Close() {
        --depth_;
        Indent();
        text_ += "</Storage>\n";
    }
    void Stream(std::string_view name, std::string_view bytes) {
        Indent();
        text_ += "<Stream Length='" + std::to_string(bytes.size()) + "' Name=" + Quoted(name) +
                 " Value='" + Hex(bytes) + "'/>\n";
    }
    std::string Take() { return std::move(text_); }

  private:
    void Indent() { text_.append(static_cast<std::size_t>(depth_) * 2, ' '); }

    std::string text_{kDeclaration};
    int depth_ = 0;
};

std::string StreamName(std::size_t index) {
    char name[sizeof(std::size_t) * 2 + 1];
    std::snprintf(name, sizeof name, "%08zX", index);
    return name;
}

Bytes Le(std::uint32_t value, std::size_t size) {
    Bytes bytes;
    for (std::size_t i = 0; i < size; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

Bytes ItemArray(const std::vector<NvRecord>& items) {
    Bytes array;
    for (const NvRecord& record : items) {
        array += Le(kRecordLength, 2) + Le(kRecordKind, 2) + Le(record.item, 4);
        array.append(record.data.begin(), record.data.end());
    }
    return array;
}

bool IsRfPath(std::string_view path) {
    return path.starts_with(kRfFolder);
}

Bytes StoredPath(const XqcnFile& file) {
    if (!IsRfPath(file.path)) {
        return file.path + '\0';
    }
    Bytes prefix(kRfPathMark.begin(), kRfPathMark.end());
    return prefix + Le(static_cast<std::uint32_t>(file.bytes.size()), 4) + file.path;
}

void WriteSection(Writer& out, std::string_view section,
                  const std::vector<const XqcnFile*>& files) {
    out.Open(section);
    out.Open(kDirStorage);
    for (std::size_t i = 0; i < files.size(); ++i) {
        out.Stream(StreamName(i), StoredPath(*files[i]));
    }
    out.Close();
    out.Open(kDataStorage);
    for (std::size_t i = 0; i < files.size(); ++i) {
        out.Stream(StreamName(i), files[i]->bytes);
    }
    out.Close();
    out.Close();
}

// --- reading: the XML tree ---

struct Node {
    bool stream = false;
    std::string name;
    std::string length;
    std::string value;
    std::vector<Node> children;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool Parse(Node& root, std::string& error) {
        SkipBom();
        while (SkipSpace(), Skip("<?") || Skip("<!--") || Skip("<!")) {
        }
        if (!failure_.empty() || !Element(root, 0)) {
            return Fail(error);
        }
        while (SkipSpace(), Skip("<!--")) {
        }
        if (failure_.empty() && at_ != text_.size()) {
            failure_ = "text after the root storage";
        }
        return failure_.empty() || Fail(error);
    }

  private:
    bool Fail(std::string& error) {
        error = "not an XQCN file: " + failure_ + " at byte " + std::to_string(at_);
        return false;
    }
    bool Failed(std::string reason) {
        if (failure_.empty()) {
            failure_ = std::move(reason);
        }
        return false;
    }
    void SkipBom() {
        if (text_.starts_with("\xEF\xBB\xBF")) {
            at_ = 3;
        }
    }
    void SkipSpace() {
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
    }
    // Skips a declaration, comment or doctype that begins with `opening`.
    bool Skip(std::string_view opening) {
        if (!text_.substr(at_).starts_with(opening)) {
            return false;
        }
        const std::string_view closing = opening == "<?" ? "?>" : opening == "<!--" ? "-->" : ">";
        const std::size_t end = text_.find(closing, at_ + opening.size());
        if (end == std::string_view::npos) {
            at_ = text_.size();
            return Failed("an unended " + std::string(opening));
        }
        at_ = end + closing.size();
        return true;
    }
    bool Expect(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return Failed(std::string("'") + c + "' expected");
    }
    std::string_view Name() {
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) {
            ++at_;
        }
        return text_.substr(start, at_ - start);
    }
    bool Attribute(Node& node) {
        const std::string_view key = Name();
        SkipSpace();
        if (key.empty() || !Expect('=')) {
            return Failed("an attribute expected");
        }
        SkipSpace();
        const char quote = at_ < text_.size() ? text_[at_] : '\0';
        if (quote != '\'' && quote != '"') {
            return Failed("a quoted attribute value expected");
        }
        const std::size_t end = text_.find(quote, at_ + 1);
        if (end == std::string_view::npos) {
            return Failed("an unended attribute value");
        }
        const std::string value = Unescaped(text_.substr(at_ + 1, end - at_ - 1));
        at_ = end + 1;
        if (key == "Name") {
            node.name = value;
        } else if (key == "Length") {
            node.length = value;
        } else if (key == "Value") {
            node.value = value;
        }
        return true;
    }
    static std::string Unescaped(std::string_view text) {
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
        std::string plain;
        for (std::size_t i = 0; i < text.size();) {
            const auto entity =
                std::find_if(std::begin(kEntities), std::end(kEntities),
                             [&](const auto& e) { return text.substr(i).starts_with(e.first); });
            if (entity != std::end(kEntities)) {
                plain += entity->second;
                i += entity->first.size();
            } else {
                plain += text[i++];
            }
        }
        return plain;
    }
    // "<Storage ...>children</Storage>", "<Storage .../>" or "<Stream .../>".
    bool Element(Node& node, int depth) {
        if (depth > kMaxDepth) {
            return Failed("storages nested too deep");
        }
        if (!Expect('<')) {
            return false;
        }
        const std::string_view tag = Name();
        if (tag != "Storage" && tag != "Stream") {
            return Failed("a Storage or Stream element expected");
        }
        node.stream = tag == "Stream";
        for (;;) {
            SkipSpace();
            if (text_.substr(at_).starts_with("/>")) {
                at_ += 2;
                return true;
            }
            if (at_ < text_.size() && text_[at_] == '>') {
                ++at_;
                return Children(node, tag, depth);
            }
            if (!Attribute(node)) {
                return false;
            }
        }
    }
    bool Children(Node& node, std::string_view tag, int depth) {
        for (;;) {
            SkipSpace();
            if (Skip("<!--")) {
                continue;
            }
            if (text_.substr(at_).starts_with("</")) {
                at_ += 2;
                if (Name() != tag) {
                    return Failed("a mismatched end tag");
                }
                SkipSpace();
                return Expect('>');
            }
            if (at_ >= text_.size() || node.stream) {
                return Failed("an unended element");
            }
            node.children.emplace_back();
            if (!Element(node.children.back(), depth + 1)) {
                return false;
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string failure_;
};

// --- reading: what the tree holds ---

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool StreamBytes(const Node& stream, Bytes& bytes, std::string& error) {
    bytes.clear();
    const std::string_view value = stream.value;
    for (std::size_t i = 0; i < value.size();) {
        if (value[i] == ' ') {
            ++i;
            continue;
        }
        const int high = HexDigit(value[i]);
        const int low = i + 1 < value.size() ? HexDigit(value[i + 1]) : -1;
        if (high < 0 || low < 0) {
            error = "stream " + stream.name + ": its Value is not hexadecimal bytes";
            return false;
        }
        bytes += static_cast<char>(high << 4 | low);
        i += 2;
    }
    if (stream.length != std::to_string(bytes.size())) {
        error = "stream " + stream.name + ": its Length '" + stream.length + "' is not the " +
                std::to_string(bytes.size()) + " bytes of its Value";
        return false;
    }
    return true;
}

// Every storage of the name anywhere below `node`.
void FindStorages(const Node& node, std::string_view name, std::vector<const Node*>& found) {
    for (const Node& child : node.children) {
        if (!child.stream && child.name == name) {
            found.push_back(&child);
        }
        FindStorages(child, name, found);
    }
}

const Node* Child(const Node& node, std::string_view name, bool stream) {
    const auto found = std::find_if(node.children.begin(), node.children.end(), [&](const Node& c) {
        return c.stream == stream && c.name == name;
    });
    return found == node.children.end() ? nullptr : &*found;
}

bool ReadItems(const Node& root, std::vector<NvRecord>& items, std::string& error) {
    std::vector<const Node*> storages;
    FindStorages(root, kNvStorage, storages);
    std::set<std::uint32_t> seen;
    for (const Node* storage : storages) {
        const Node* stream = Child(*storage, kNvStream, true);
        Bytes array;
        if (stream == nullptr) {
            continue;
        }
        if (!StreamBytes(*stream, array, error)) {
            return false;
        }
        const auto bytes =
            std::span(reinterpret_cast<const std::uint8_t*>(array.data()), array.size());
        for (std::size_t at = 0; at < bytes.size(); at += kNvRecordSize) {
            const std::string where = "NV item record " + std::to_string(at / kNvRecordSize + 1);
            const auto length = wire::ReadLe16(bytes, at);
            if (!length || *length != kRecordLength || bytes.size() - at < kNvRecordSize) {
                error = where + ": a record of another length than 136 bytes";
                return false;
            }
            const std::uint32_t item = *wire::ReadLe32(bytes, at + kRecordItemOffset);
            if (item > 0xFFFF || !seen.insert(item).second) {
                error = where + ": item " + std::to_string(item) +
                        (item > 0xFFFF ? " is out of range" : " is there twice");
                return false;
            }
            NvRecord record;
            record.item = static_cast<std::uint16_t>(item);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + kRecordDataOffset),
                        record.data.size(), record.data.begin());
            items.push_back(record);
        }
    }
    return true;
}

// The path a directory stream names: a prefix of EFS_Backup and terminating zeros removed.
std::string PathOf(Bytes stored) {
    const bool marked =
        stored.size() > kRfPathPrefix &&
        std::equal(kRfPathMark.begin(), kRfPathMark.end(), stored.begin(),
                   [](std::uint8_t mark, char c) { return mark == static_cast<std::uint8_t>(c); });
    if (marked) {
        stored.erase(0, kRfPathPrefix);
    }
    while (!stored.empty() && stored.back() == '\0') {
        stored.pop_back();
    }
    return stored;
}

bool SafePath(std::string_view path) {
    return path.starts_with(kNvFolder) && path.find("..") == std::string_view::npos &&
           path.find('\0') == std::string_view::npos;
}

bool ReadSection(const Node& section, std::vector<XqcnFile>& files, std::set<std::string>& paths,
                 std::string& error) {
    const Node* dir = Child(section, kDirStorage, false);
    const Node* data = Child(section, kDataStorage, false);
    if (dir == nullptr) {
        return true;
    }
    for (const Node& entry : dir->children) {
        Bytes stored;
        if (!entry.stream) {
            error = section.name + ": a storage among the paths of " + std::string(kDirStorage);
            return false;
        }
        if (!StreamBytes(entry, stored, error)) {
            return false;
        }
        XqcnFile file{PathOf(std::move(stored)), {}};
        const Node* bytes = data == nullptr ? nullptr : Child(*data, entry.name, true);
        if (!SafePath(file.path)) {
            error =
                section.name + ": the path '" + file.path + "' is outside /nv/ or climbs with ..";
            return false;
        }
        if (bytes == nullptr) {
            error = section.name + ": the file " + file.path + " has no data";
            return false;
        }
        if (!StreamBytes(*bytes, file.bytes, error)) {
            return false;
        }
        if (!paths.insert(file.path).second) {
            error = "the file " + file.path + " is there twice";
            return false;
        }
        files.push_back(std::move(file));
    }
    return true;
}

}  // namespace

std::string WriteXqcn(const XqcnContent& content, std::string_view name) {
    std::vector<const XqcnFile*> rf;
    std::vector<const XqcnFile*> items;
    for (const XqcnFile& file : content.efsFiles) {
        (IsRfPath(file.path) ? rf : items).push_back(&file);
    }
    Writer out;
    out.Open(name);
    out.Open("00000000");
    out.Open("default");
    out.Open(kNvStorage);
    out.Stream(kNvStream, ItemArray(content.items));
    out.Close();
    WriteSection(out, kRfSection, rf);
    WriteSection(out, kProvisioningSection, {});
    WriteSection(out, kItemSection, items);
    out.Close();
    out.Open("Mobile_Property_Info");
    out.Close();
    out.Close();
    Bytes version;
    for (const std::uint16_t part : kFileVersion) {
        version += Le(part, 2);
    }
    out.Stream("File_Version", version);
    out.Close();
    return out.Take();
}

bool ReadXqcn(std::string_view text, XqcnContent& content, std::string& error) {
    content = XqcnContent{};
    Node root;
    if (!Parser(text).Parse(root, error)) {
        return false;
    }
    if (root.stream) {
        error = "not an XQCN file: its root is a stream, not a storage";
        return false;
    }
    if (!ReadItems(root, content.items, error)) {
        return false;
    }
    std::set<std::string> paths;
    bool anySection = false;
    for (const std::string_view name : kEfsSections) {
        std::vector<const Node*> sections;
        FindStorages(root, name, sections);
        anySection = anySection || !sections.empty();
        for (const Node* section : sections) {
            if (!ReadSection(*section, content.efsFiles, paths, error)) {
                return false;
            }
        }
    }
    std::vector<const Node*> itemStorages;
    FindStorages(root, kNvStorage, itemStorages);
    if (itemStorages.empty() && !anySection) {
        error =
            "not an XQCN file: it holds neither " + std::string(kNvStorage) + " nor EFS sections";
        return false;
    }
    return true;
}

}  // namespace tapfix::nv
