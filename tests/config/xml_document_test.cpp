#include "config/xml_document.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "reference/download_xml.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::config {
namespace {

std::string ReadItem(XmlDocument& document, const char* name) {
    if (!document.FindChild(name) || !document.EnterChild()) {
        return "<not found>";
    }
    std::string text = document.GetElementText();
    document.LeaveElement();
    return text;
}

bool WriteItem(XmlDocument& document, const char* name, const std::string& text) {
    return document.FindChild(name) && document.EnterChild() && document.SetElementText(text) &&
           document.LeaveElement();
}

TEST(XmlDocument, SavingThePackageFileChangesOnlyTheTwoWrittenValues) {
    test::TempDir dir;
    const auto file = dir.Path() / "download.xml";
    const std::string original = reference::PackageDownloadXml();
    test::WriteFileBytes(file, original);

    XmlDocument document;
    ASSERT_TRUE(document.LoadFile(file)) << document.ResultText();
    ASSERT_TRUE(document.FindChild("DOWNLOADBL"));
    ASSERT_TRUE(document.EnterChild());
    ASSERT_TRUE(WriteItem(document, "ITEM_VERSIONFILE_PATH", "/home/u/work/"));
    ASSERT_TRUE(WriteItem(document, "ITEM_NVFILE_PATH", "/home/u/a&b<c>/"));
    ASSERT_TRUE(document.SaveFile(file));

    std::string expected = original;
    const auto fill = [&](const std::string& name, const std::string& value) {
        const std::string empty = "<" + name + "></" + name + ">";
        expected.replace(expected.find(empty), empty.size(),
                         "<" + name + ">" + value + "</" + name + ">");
    };
    fill("ITEM_VERSIONFILE_PATH", "/home/u/work/");
    fill("ITEM_NVFILE_PATH", "/home/u/a&amp;b&lt;c&gt;/");
    EXPECT_EQ(test::ReadFileBytes(file), expected);

    // The values read back decoded, and the index still finds what follows the edits.
    XmlDocument reread;
    ASSERT_TRUE(reread.LoadFile(file));
    ASSERT_TRUE(reread.FindChild("DOWNLOADBL") && reread.EnterChild());
    EXPECT_EQ(ReadItem(reread, "ITEM_NVFILE_PATH"), "/home/u/a&b<c>/");
    EXPECT_EQ(ReadItem(reread, "ITEM_UFI"), "1");
}

TEST(XmlDocument, ChildSearchOnlyGoesForwardAndEditsKeepTheIndexRight) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadBytes("<r><a>1</a><b/><c>3</c><b>x</b></r>"));
    ASSERT_TRUE(document.FindChild("c"));
    EXPECT_FALSE(document.FindChild("a"));  // before the current child
    EXPECT_TRUE(document.FindChild("b"));   // the second b, after c
    ASSERT_TRUE(document.EnterChild());
    EXPECT_EQ(document.GetElementText(), "x");
    ASSERT_TRUE(document.LeaveElement());
    EXPECT_FALSE(document.FindChild("c"));

    // A self-closing element gets a start and an end tag; later elements stay addressable.
    XmlDocument edited;
    ASSERT_TRUE(edited.LoadBytes("<r><a>1</a><b/><c>3</c></r>"));
    ASSERT_TRUE(WriteItem(edited, "b", "two words"));
    ASSERT_TRUE(WriteItem(edited, "c", ""));
    EXPECT_EQ(edited.SaveBytes(), "<r><a>1</a><b>two words</b><c></c></r>");
    XmlDocument again;
    ASSERT_TRUE(again.LoadBytes(edited.SaveBytes()));
    EXPECT_EQ(ReadItem(again, "b"), "two words");
}

TEST(XmlDocument, ElementTextDecodesReferencesAndSkipsMarkup) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadBytes(
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x \"y\">]><r><v>a&lt;&amp;&gt;&quot;"
        "&#65;&#x42;&eacute;&euro;&nbsp;&bogus;&#0;<!-- c --><![CDATA[<raw>&amp;]]></v></r>"));
    EXPECT_EQ(ReadItem(document, "v"), "a<&>\"AB\u00e9\u20ac\u00a0&bogus;&#0;<raw>&amp;");
}

TEST(XmlDocument, EncodingsAreDetectedAndWrittenBackAsRead) {
    const std::string utf16le("\xFF\xFE<\0r\0>\0\xE9\0<\0/\0r\0>\0", 18);
    const std::string utf16beNoMark("\0<\0r\0>\0\xE9\0<\0/\0r\0>", 16);
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE9</r>";
    const std::string invalidUtf8 = "<r>caf\xE9</r>";
    const std::string utf8Bom = "\xEF\xBB\xBF<r>\xC3\xA9</r>";
    for (const std::string& bytes : {utf16le, utf16beNoMark, latin1, invalidUtf8, utf8Bom}) {
        XmlDocument document;
        ASSERT_TRUE(document.LoadBytes(bytes)) << document.ResultText();
        EXPECT_EQ(document.SaveBytes(), bytes) << document.ResultText();
    }
    XmlDocument swapped;
    ASSERT_TRUE(swapped.LoadBytes(utf16beNoMark));
    EXPECT_TRUE(swapped.HasResult("endian_swap"));
    XmlDocument marked;
    ASSERT_TRUE(marked.LoadBytes(utf8Bom));
    EXPECT_TRUE(marked.HasResult("bom"));
}

TEST(XmlDocument, StructuralProblemsFailTheLoadByName) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no_root_element"},
        {"just text", "no_root_element"},
        {"<a/><b/>", "root_has_sibling"},
        {"<a></b></a>", "lone_end_tag"},
        {"<a><b></a>", "unended_start_tag"},
        {"<a>", "unended_start_tag"},
        {"<a><!-- open", "comment_tag_syntax"},
        {"<a><![CDATA[ open", "cdata_section_syntax"},
        {"<a x=\"1>", "unterminated_tag_syntax"},
        {"<!DOCTYPE a [ <a/>", "doctype_tag_syntax"},
        {"<a>< b</a>", "first_tag_syntax"},
    };
    for (const auto& [bytes, problem] : cases) {
        XmlDocument document;
        EXPECT_FALSE(document.LoadBytes(bytes)) << bytes;
        EXPECT_TRUE(document.HasResult(problem)) << bytes << " " << document.ResultText();
    }
    XmlDocument missing;
    EXPECT_FALSE(missing.LoadFile("/nonexistent/download.xml"));
    EXPECT_TRUE(missing.HasResult("file_error"));
}

}  // namespace
}  // namespace tapfix::config
