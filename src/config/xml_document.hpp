#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tapfix::config {

// One named entry of the record of the last load, parse or save ("read", "bom",
// "unended_start_tag", "file_error", ...), with its attributes ("encoding", "offset", ...).
struct XmlResult {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

enum class XmlEncoding { Utf8, Utf16Le, Utf16Be, Latin1 };

// A small in-memory XML document: the whole text decoded to UTF-16, an index of element
// positions over it, and a navigation position (parent, current element, current child).
// Values are read and written as element text; everything else in the text is kept as it is,
// so a save reproduces every untouched byte.
class XmlDocument {
  public:
    // Decodes and parses; true when the file was read and holds exactly one root element and
    // no structural error. The navigation is reset to before the root either way.
    bool LoadFile(const std::filesystem::path& file);
    bool LoadBytes(std::string_view bytes);

    // Searches the children of the current element (the root when there is none), from after
    // the current child on, for the next element with the name; it becomes the current child.
    bool FindChild(std::string_view name);
    bool EnterChild();
    bool LeaveElement();

    // The content of the current element with references decoded, as UTF-8.
    std::string GetElementText() const;
    // Replaces the content of the current element; "<", "&" and ">" are escaped.
    bool SetElementText(std::string_view text);

    // Writes the whole text in the encoding the document was read in.
    bool SaveFile(const std::filesystem::path& file);
    std::string SaveBytes();

    const std::vector<XmlResult>& Results() const { return results_; }
    bool HasResult(std::string_view name) const;
    // The record as text, e.g. <read encoding="UTF-8" length="11377"/><no_root_element/>; past
    // its first kMaxResultEntries entries only their count (a binary file makes thousands).
    std::string ResultText() const;
    static constexpr std::size_t kMaxResultEntries = 24;
    // The first problem of the record in words, with its line, e.g. "line 7: an element that is
    // never closed <ITEM_HSUSB> (and 3 more problems)"; empty when the record holds none.
    std::string ProblemSummary() const;
    // The line of the current child element, 0 when there is none.
    std::size_t ChildLine() const;

    // Larger files are refused: the configuration is a few kilobytes.
    static constexpr std::size_t kMaxFileBytes = 8 * 1024 * 1024;

  private:
    struct Element {
        std::size_t start = 0;   // of "<"
        std::size_t length = 0;  // through the end tag's ">"
        std::size_t nameStart = 0;
        std::size_t nameLength = 0;
        std::size_t contentStart = 0;
        std::size_t contentEnd = 0;
        bool selfClosing = false;
        int parent = 0;
        int firstChild = 0;
        int lastChild = 0;
        int next = 0;
        int previous = 0;
    };
    class Parser;

    void Reset();
    void Decode(std::string_view bytes);
    bool Parse();
    void Note(std::string name, std::vector<std::pair<std::string, std::string>> attributes = {});
    bool NameIs(const Element& element, std::u16string_view name) const;
    void Replace(std::size_t from, std::size_t to, std::u16string_view replacement);
    std::size_t LineAt(std::size_t offset) const;

    std::u16string text_;
    std::vector<Element> elements_;  // entry 0 stands for "none"
    int root_ = 0;
    int parent_ = 0;
    int current_ = 0;
    int child_ = 0;
    XmlEncoding encoding_ = XmlEncoding::Utf8;
    bool byteOrderMark_ = false;
    std::vector<XmlResult> results_;
};

}  // namespace tapfix::config
