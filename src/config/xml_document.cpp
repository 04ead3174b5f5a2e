#include "config/xml_document.hpp"

#include <algorithm>
#include <optional>

#include "config/failure_text.hpp"
#include "config/xml_entities.hpp"
#include "platform/file_io.hpp"
#include "platform/utf16.hpp"

namespace tapfix::config {
namespace {

constexpr std::size_t kNone = std::u16string_view::npos;

bool IsNameStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' ||
           c >= 0x80;
}

bool IsNameChar(char16_t c) {
    return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
}

std::string_view EncodingName(XmlEncoding encoding) {
    switch (encoding) {
        case XmlEncoding::Utf8:
            return "UTF-8";
        case XmlEncoding::Utf16Le:
            return "UTF-16LE";
        case XmlEncoding::Utf16Be:
            return "UTF-16BE";
        case XmlEncoding::Latin1:
            return "ISO-8859-1";
    }
    return "UTF-8";
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return lower;
}

// The encoding named by the XML declaration, or by an HTML meta charset, in the first bytes.
std::string DeclaredEncoding(std::string_view bytes) {
    const std::string head = AsciiLower(bytes.substr(0, 1024));
    std::size_t at = std::string::npos;
    if (head.starts_with("<?xml")) {
        const auto end = head.find("?>");
        at = head.substr(0, end).find("encoding");
    }
    if (at == std::string::npos) {
        at = head.find("charset=");
        if (at == std::string::npos) {
            return {};
        }
    }
    at = head.find_first_not_of(" \t\r\n=\"'", head.find_first_of("=", at));
    if (at == std::string::npos) {
        return {};
    }
    const auto end = head.find_first_of(" \t\r\n\"'?>;/", at);
    return head.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool IsLatin1Name(std::string_view name) {
    for (std::string_view known : {"iso-8859-1", "latin1", "l1", "us-ascii", "ascii",
                                   "windows-1252", "cp1252", "iso8859-1"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

std::u16string DecodeLatin1(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        text.push_back(static_cast<unsigned char>(byte));
    }
    return text;
}

void AppendCodePoint(std::u16string& out, char32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | codePoint >> 10));
        out.push_back(static_cast<char16_t>(0xDC00 | (codePoint & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(codePoint));
    }
}

// "#123", "#x7B" or a name; nothing for an unknown or out-of-range reference.
std::optional<char32_t> ResolveReference(std::u16string_view name) {
    if (!name.starts_with(u'#')) {
        return LookupEntity(name);
    }
    name.remove_prefix(1);
    const bool hex = name.starts_with(u'x') || name.starts_with(u'X');
    if (hex) {
        name.remove_prefix(1);
    }
    if (name.empty() || name.size() > 8) {
        return std::nullopt;
    }
    char32_t value = 0;
    for (char16_t c : name) {
        int digit = -1;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (hex && c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (hex && c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    }
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return value;
}

// Character data with references decoded; an unknown reference is kept as written.
void AppendDecoded(std::u16string& out, std::u16string_view data) {
    constexpr std::size_t kLongestReference = 32;
    while (!data.empty()) {
        const auto amp = data.find(u'&');
        out.append(data.substr(0, amp));
        if (amp == kNone) {
            return;
        }
        data.remove_prefix(amp);
        const auto semicolon = data.substr(0, kLongestReference).find(u';');
        const auto resolved =
            semicolon == kNone ? std::nullopt : ResolveReference(data.substr(1, semicolon - 1));
        if (resolved) {
            AppendCodePoint(out, *resolved);
            data.remove_prefix(semicolon + 1);
        } else {
            out.push_back(u'&');
            data.remove_prefix(1);
        }
    }
}

std::u16string Escape(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'<') {
            out += u"&lt;";
        } else if (c == u'&') {
            out += u"&amp;";
        } else if (c == u'>') {
            out += u"&gt;";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// What each problem of the record means to a user; notes that are not problems are absent.
constexpr std::pair<std::string_view, std::string_view> kProblemTexts[] = {
    {"file_error", "cannot be read"},
    {"truncation_error", "ends in the middle of a character"},
    {"no_root_element", "holds no XML element"},
    {"root_has_sibling", "a second top-level element"},
    {"lone_end_tag", "an end tag without its start tag"},
    {"unended_start_tag", "an element that is never closed"},
    {"first_tag_syntax", "a \"<\" that starts no tag"},
    {"exclamation_tag_syntax", "an unterminated \"<!\" declaration"},
    {"doctype_tag_syntax", "an unterminated document type"},
    {"comment_tag_syntax", "an unterminated comment"},
    {"cdata_section_syntax", "an unterminated CDATA section"},
    {"unterminated_tag_syntax", "an unterminated tag"},
};

// A tag name from the file and a reason, as much of them as a one-line message can carry.
constexpr std::size_t kQuotedLength = 40;
constexpr std::size_t kReasonLength = 120;

std::optional<std::string_view> ProblemText(std::string_view name) {
    for (const auto& [problem, text] : kProblemTexts) {
        if (problem == name) {
            return text;
        }
    }
    return std::nullopt;
}

std::string Attribute(const XmlResult& result, std::string_view key) {
    for (const auto& [name, value] : result.attributes) {
        if (name == key) {
            return value;
        }
    }
    return {};
}

}  // namespace

// Builds the element index in one pass over the text with an explicit stack of open elements,
// so neither deep nesting nor a truncated file can exhaust anything but the bounded text.
class XmlDocument::Parser {
  public:
    explicit Parser(XmlDocument& document) : doc_(document), text_(document.text_) {}

    bool Run() {
        std::size_t at = 0;
        while (ok_ && (at = text_.find(u'<', at)) != kNone) {
            at = Markup(at);
        }
        if (!ok_) {
            return false;
        }
        while (!open_.empty()) {
            Problem("unended_start_tag", open_.back());
            Close(open_.back(), text_.size(), text_.size());
        }
        if (doc_.root_ == 0) {
            doc_.Note("no_root_element");
            return false;
        }
        return !structuralError_;
    }

  private:
    // Handles the markup at `at` ("<" ...) and returns where scanning goes on.
    std::size_t Markup(std::size_t at) {
        if (Starts(at, u"<?")) {
            return SkipTo(at, u"?>", "unterminated_tag_syntax");
        }
        if (Starts(at, u"<!--")) {
            return SkipTo(at, u"-->", "comment_tag_syntax");
        }
        if (Starts(at, u"<![CDATA[")) {
            return SkipTo(at, u"]]>", "cdata_section_syntax");
        }
        if (Starts(at, u"<!DOCTYPE")) {
            return SkipDoctype(at);
        }
        if (Starts(at, u"<!")) {
            return SkipTo(at, u">", "exclamation_tag_syntax");
        }
        if (Starts(at, u"</")) {
            return EndTag(at);
        }
        if (at + 1 < text_.size() && IsNameStart(text_[at + 1])) {
            return StartTag(at);
        }
        structuralError_ = true;
        Note("first_tag_syntax", at);
        return at + 1;
    }

    bool Starts(std::size_t at, std::u16string_view prefix) const {
        return std::u16string_view(text_).substr(at).starts_with(prefix);
    }

    std::size_t SkipTo(std::size_t at, std::u16string_view terminator, const char* problem) {
        const auto end = text_.find(terminator, at + 2);
        if (end == kNone) {
            Fail(problem, at);
            return text_.size();
        }
        return end + terminator.size();
    }

    std::size_t SkipDoctype(std::size_t at) {
        int bracketDepth = 0;
        for (std::size_t i = at + 9; i < text_.size(); ++i) {
            if (text_[i] == u'[') {
                ++bracketDepth;
            } else if (text_[i] == u']') {
                bracketDepth = std::max(0, bracketDepth - 1);
            } else if (text_[i] == u'>' && bracketDepth == 0) {
                return i + 1;
            }
        }
        Fail("doctype_tag_syntax", at);
        return text_.size();
    }

    std::size_t NameEnd(std::size_t from) const {
        while (from < text_.size() && IsNameChar(text_[from])) {
            ++from;
        }
        return from;
    }

    // The ">" that ends a tag, skipping quoted attribute values.
    std::size_t TagEnd(std::size_t from) const {
        char16_t quote = 0;
        for (std::size_t i = from; i < text_.size(); ++i) {
            const char16_t c = text_[i];
            if (quote != 0) {
                quote = c == quote ? 0 : quote;
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'>') {
                return i;
            }
        }
        return kNone;
    }

    std::size_t StartTag(std::size_t at) {
        const std::size_t nameEnd = NameEnd(at + 1);
        const std::size_t close = TagEnd(nameEnd);
        if (close == kNone) {
            Fail("unterminated_tag_syntax", at);
            return text_.size();
        }
        Element element;
        element.start = at;
        element.nameStart = at + 1;
        element.nameLength = nameEnd - at - 1;
        element.selfClosing = text_[close - 1] == u'/' && close - 1 >= nameEnd;
        element.contentStart = element.contentEnd = close + 1;
        element.length = close + 1 - at;
        element.parent = open_.empty() ? 0 : open_.back();
        const int index = Append(element);
        if (!element.selfClosing) {
            open_.push_back(index);
        }
        return close + 1;
    }

    std::size_t EndTag(std::size_t at) {
        const std::size_t nameEnd = NameEnd(at + 2);
        const std::size_t close = TagEnd(nameEnd);
        if (close == kNone) {
            Fail("unterminated_tag_syntax", at);
            return text_.size();
        }
        const std::u16string_view name =
            std::u16string_view(text_).substr(at + 2, nameEnd - at - 2);
        const auto match = std::find_if(open_.rbegin(), open_.rend(), [&](int open) {
            return doc_.NameIs(doc_.elements_[open], name);
        });
        if (match == open_.rend()) {
            Problem("lone_end_tag", 0, at);
            return close + 1;
        }
        while (open_.back() != *match) {
            Problem("unended_start_tag", open_.back());
            Close(open_.back(), at, at);
        }
        Close(open_.back(), at, close + 1);
        return close + 1;
    }

    void Close(int index, std::size_t contentEnd, std::size_t end) {
        Element& element = doc_.elements_[index];
        element.contentEnd = contentEnd;
        element.length = end - element.start;
        open_.pop_back();
    }

    int Append(const Element& element) {
        const int index = static_cast<int>(doc_.elements_.size());
        doc_.elements_.push_back(element);
        Element& added = doc_.elements_.back();
        int& last = added.parent == 0 ? lastTopLevel_ : doc_.elements_[added.parent].lastChild;
        if (last == 0) {
            if (added.parent == 0) {
                doc_.root_ = index;
            } else {
                doc_.elements_[added.parent].firstChild = index;
            }
        } else {
            doc_.elements_[last].next = index;
            added.previous = last;
            if (added.parent == 0) {
                Problem("root_has_sibling", index);
            }
        }
        last = index;
        return index;
    }

    void Problem(const char* name, int element, std::size_t offset = 0) {
        structuralError_ = true;
        if (element != 0) {
            const Element& e = doc_.elements_[element];
            const std::u16string_view tag =
                std::u16string_view(text_).substr(e.nameStart, e.nameLength);
            doc_.Note(name, {{"tagname", platform::Utf16ToUtf8(tag)},
                             {"offset", std::to_string(e.start)}});
        } else {
            Note(name, offset);
        }
    }
    void Note(const char* name, std::size_t offset) {
        doc_.Note(name, {{"offset", std::to_string(offset)}});
    }
    void Fail(const char* name, std::size_t offset) {
        Note(name, offset);
        ok_ = false;
    }

    XmlDocument& doc_;
    const std::u16string& text_;
    std::vector<int> open_;
    int lastTopLevel_ = 0;
    bool structuralError_ = false;
    bool ok_ = true;
};

void XmlDocument::Reset() {
    text_.clear();
    elements_.assign(1, Element{});
    root_ = parent_ = current_ = child_ = 0;
    encoding_ = XmlEncoding::Utf8;
    byteOrderMark_ = false;
    results_.clear();
}

void XmlDocument::Note(std::string name,
                       std::vector<std::pair<std::string, std::string>> attributes) {
    results_.push_back({std::move(name), std::move(attributes)});
}

bool XmlDocument::LoadFile(const std::filesystem::path& file) {
    std::string bytes;
    std::string error;
    if (!platform::ReadWholeFile(file, kMaxFileBytes, bytes, error)) {
        Reset();
        Note("file_error", {{"type", error}});
        return false;
    }
    return LoadBytes(bytes);
}

bool XmlDocument::LoadBytes(std::string_view bytes) {
    Reset();
    if (bytes.size() > kMaxFileBytes) {
        Note("file_error", {{"length", std::to_string(bytes.size())}});
        return false;
    }
    Decode(bytes);
    Note("read", {{"encoding", std::string(EncodingName(encoding_))},
                  {"length", std::to_string(bytes.size())}});
    return Parse();
}

void XmlDocument::Decode(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return i < bytes.size() ? bytes[i] : '\x01'; };
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        byteOrderMark_ = true;
        bytes.remove_prefix(3);
        encoding_ = platform::IsValidUtf8(bytes) ? XmlEncoding::Utf8 : XmlEncoding::Latin1;
    } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        byteOrderMark_ = true;
        encoding_ = bytes[0] == '\xFF' ? XmlEncoding::Utf16Le : XmlEncoding::Utf16Be;
        bytes.remove_prefix(2);
    } else if (at(0) != 0 && at(1) == 0 && at(2) != 0 && at(3) == 0) {
        encoding_ = XmlEncoding::Utf16Le;
    } else if (at(0) == 0 && at(1) != 0 && at(2) == 0 && at(3) != 0) {
        encoding_ = XmlEncoding::Utf16Be;
    } else {
        const std::string declared = DeclaredEncoding(bytes);
        const bool validUtf8 = platform::IsValidUtf8(bytes);
        // A declaration that the bytes contradict loses: reading them as Latin-1 keeps every
        // byte, so a save still reproduces the file.
        encoding_ = IsLatin1Name(declared) || !validUtf8 ? XmlEncoding::Latin1 : XmlEncoding::Utf8;
        if (declared.empty()) {
            Note("utf8_detection", {{"encoding", std::string(EncodingName(encoding_))}});
        }
    }
    if (byteOrderMark_) {
        Note("bom", {{"encoding", std::string(EncodingName(encoding_))}});
    }
    switch (encoding_) {
        case XmlEncoding::Utf8:
            text_ = platform::Utf8ToUtf16(bytes);
            break;
        case XmlEncoding::Latin1:
            text_ = DecodeLatin1(bytes);
            break;
        case XmlEncoding::Utf16Le:
        case XmlEncoding::Utf16Be:
            if (bytes.size() % 2 != 0) {
                Note("truncation_error", {{"length", std::to_string(bytes.size())}});
            }
            if (encoding_ == XmlEncoding::Utf16Be) {
                Note("endian_swap");
            }
            text_ = platform::DecodeUtf16Bytes(bytes, encoding_ == XmlEncoding::Utf16Be);
            break;
    }
}

bool XmlDocument::Parse() {
    return Parser(*this).Run();
}

bool XmlDocument::NameIs(const Element& element, std::u16string_view name) const {
    return std::u16string_view(text_).substr(element.nameStart, element.nameLength) == name;
}

bool XmlDocument::FindChild(std::string_view name) {
    if (current_ == 0) {
        current_ = root_;
        parent_ = 0;
        child_ = 0;
    }
    if (current_ == 0) {
        return false;
    }
    const std::u16string wanted = platform::Utf8ToUtf16(name);
    int candidate = child_ != 0 ? elements_[child_].next : elements_[current_].firstChild;
    for (; candidate != 0; candidate = elements_[candidate].next) {
        if (NameIs(elements_[candidate], wanted)) {
            child_ = candidate;
            return true;
        }
    }
    return false;
}

bool XmlDocument::EnterChild() {
    if (child_ == 0) {
        return false;
    }
    parent_ = current_;
    current_ = child_;
    child_ = 0;
    return true;
}

bool XmlDocument::LeaveElement() {
    if (current_ == 0) {
        return false;
    }
    child_ = current_;
    current_ = parent_;
    parent_ = current_ != 0 ? elements_[current_].parent : 0;
    return true;
}

std::string XmlDocument::GetElementText() const {
    if (current_ == 0) {
        return {};
    }
    const Element& element = elements_[current_];
    std::u16string_view content = std::u16string_view(text_).substr(
        element.contentStart, element.contentEnd - element.contentStart);
    std::u16string out;
    while (!content.empty()) {
        const auto markup = content.find(u'<');
        AppendDecoded(out, content.substr(0, markup));
        if (markup == kNone) {
            break;
        }
        content.remove_prefix(markup);
        std::u16string_view terminator = u">";
        if (content.starts_with(u"<![CDATA[")) {
            const auto end = content.find(u"]]>");
            out.append(content.substr(9, end == kNone ? kNone : end - 9));
            terminator = u"]]>";
        } else if (content.starts_with(u"<!--")) {
            terminator = u"-->";
        } else if (content.starts_with(u"<?")) {
            terminator = u"?>";
        }
        const auto end = content.find(terminator, 1);
        content.remove_prefix(end == kNone ? content.size() : end + terminator.size());
    }
    return platform::Utf16ToUtf8(out);
}

void XmlDocument::Replace(std::size_t from, std::size_t to, std::u16string_view replacement) {
    text_.replace(from, to - from, replacement);
    const std::ptrdiff_t delta =
        static_cast<std::ptrdiff_t>(replacement.size()) - static_cast<std::ptrdiff_t>(to - from);
    const auto shift = [&](std::size_t& position) {
        if (position >= to) {
            position = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(position) + delta);
        }
    };
    for (std::size_t i = 1; i < elements_.size(); ++i) {
        Element& element = elements_[i];
        if (element.start < from && element.start + element.length >= to) {
            element.length =
                static_cast<std::size_t>(static_cast<std::ptrdiff_t>(element.length) + delta);
        } else {
            shift(element.start);
        }
        shift(element.nameStart);
        shift(element.contentStart);
        shift(element.contentEnd);
    }
}

bool XmlDocument::SetElementText(std::string_view text) {
    if (current_ == 0) {
        return false;
    }
    const std::u16string escaped = Escape(platform::Utf8ToUtf16(text));
    Element& element = elements_[current_];
    std::size_t contentStart = element.contentStart;
    if (element.selfClosing) {
        // <name/> becomes <name>text</name>
        const std::size_t slash = element.start + element.length - 2;
        const std::u16string name = text_.substr(element.nameStart, element.nameLength);
        Replace(slash, slash + 2, u">" + escaped + u"</" + name + u">");
        contentStart = slash + 1;
    } else {
        Replace(element.contentStart, element.contentEnd, escaped);
    }
    Element& changed = elements_[current_];
    changed.selfClosing = false;
    changed.contentStart = contentStart;
    changed.contentEnd = contentStart + escaped.size();
    // The old content's elements are gone from the text; they are no longer reachable.
    changed.firstChild = changed.lastChild = 0;
    child_ = 0;
    return true;
}

std::string XmlDocument::SaveBytes() {
    std::string bytes;
    const auto putUnit = [&](char16_t unit) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        bytes.push_back(encoding_ == XmlEncoding::Utf16Be ? high : low);
        bytes.push_back(encoding_ == XmlEncoding::Utf16Be ? low : high);
    };
    std::size_t lost = 0;
    switch (encoding_) {
        case XmlEncoding::Utf8:
            bytes = (byteOrderMark_ ? "\xEF\xBB\xBF" : "") + platform::Utf16ToUtf8(text_);
            break;
        case XmlEncoding::Latin1:
            bytes = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
            for (char16_t unit : text_) {
                lost += unit > 0xFF ? 1 : 0;
                bytes.push_back(unit > 0xFF ? '?' : static_cast<char>(unit));
            }
            break;
        case XmlEncoding::Utf16Le:
        case XmlEncoding::Utf16Be:
            if (byteOrderMark_) {
                putUnit(0xFEFF);
            }
            std::for_each(text_.begin(), text_.end(), putUnit);
            break;
    }
    Note("converted_to", {{"encoding", std::string(EncodingName(encoding_))}});
    if (lost != 0) {
        Note("conversion_loss", {{"count", std::to_string(lost)}});
    }
    return bytes;
}

bool XmlDocument::SaveFile(const std::filesystem::path& file) {
    std::string error;
    const std::string bytes = SaveBytes();
    if (!platform::WriteFileAtomically(file, bytes, error)) {
        Note("file_error", {{"type", error}});
        return false;
    }
    Note("write", {{"encoding", std::string(EncodingName(encoding_))},
                   {"length", std::to_string(bytes.size())}});
    return true;
}

bool XmlDocument::HasResult(std::string_view name) const {
    return std::any_of(results_.begin(), results_.end(),
                       [&](const XmlResult& result) { return result.name == name; });
}

std::string XmlDocument::ResultText() const {
    std::string text;
    const std::size_t shown = std::min(results_.size(), kMaxResultEntries);
    for (std::size_t i = 0; i < shown; ++i) {
        text += "<" + results_[i].name;
        for (const auto& [key, value] : results_[i].attributes) {
            text += " " + key + "=\"" + value + "\"";
        }
        text += "/>";
    }
    if (shown < results_.size()) {
        text += "<more count=\"" + std::to_string(results_.size() - shown) + "\"/>";
    }
    return text;
}

std::string XmlDocument::ProblemSummary() const {
    const auto first = std::find_if(results_.begin(), results_.end(), [](const XmlResult& r) {
        return ProblemText(r.name).has_value();
    });
    if (first == results_.end()) {
        return {};
    }
    const std::size_t more =
        static_cast<std::size_t>(std::count_if(first + 1, results_.end(), [](const XmlResult& r) {
            return ProblemText(r.name).has_value();
        }));
    std::string summary(*ProblemText(first->name));
    const std::string offset = Attribute(*first, "offset");
    const std::string tag = Attribute(*first, "tagname");
    const std::string reason = Attribute(*first, "type");
    if (!offset.empty()) {
        summary = "line " + std::to_string(LineAt(std::stoul(offset))) + ": " + summary;
    }
    if (!tag.empty()) {
        summary += " <" + Excerpt(tag, kQuotedLength) + ">";
    }
    if (!reason.empty()) {
        summary += ": " + Excerpt(reason, kReasonLength);
    }
    if (more > 0) {
        summary += " (and " + std::to_string(more) + " more problems)";
    }
    return summary;
}

std::size_t XmlDocument::LineAt(std::size_t offset) const {
    const auto end = text_.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text_.size()));
    return static_cast<std::size_t>(std::count(text_.begin(), end, u'\n')) + 1;
}

std::size_t XmlDocument::ChildLine() const {
    return child_ == 0 ? 0 : LineAt(elements_[child_].start);
}

}  // namespace tapfix::config
