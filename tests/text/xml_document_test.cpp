// Tests of the XML reader: tree building, element text, escapes and references, the error
// report, broken and deeply nested input, file loading and double-byte code pages.
#include "text/xml_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "text/multibyte.h"
#include "text/xml_entities.h"

namespace {

// A compact picture of a tree: name[attr=value,...]'value'{child,...}.
std::string Describe(const XmlNode& node) {
    std::string out = node.name;
    if (!node.attributes.empty()) {
        out += '[';
        for (size_t i = 0; i < node.attributes.size(); ++i) {
            out += (i == 0 ? "" : ",") + node.attributes[i]->name + "=" + node.attributes[i]->value;
        }
        out += ']';
    }
    if (!node.value.empty()) {
        out += "'" + node.value + "'";
    }
    if (!node.children.empty()) {
        out += '{';
        for (size_t i = 0; i < node.children.size(); ++i) {
            out += (i == 0 ? "" : ",") + Describe(*node.children[i]);
        }
        out += '}';
    }
    return out;
}

// Every test loads with options of its own, so the process-wide report does not leak
// between tests.
class XmlLoadTest : public ::testing::Test {
protected:
    const char* Load(const std::string& text) {
        text_ = text;
        return root_.load(text_.c_str(), options_);
    }
    std::ptrdiff_t Offset(const char* position) const { return position - text_.c_str(); }

    std::string text_;
    XmlParseOptions options_;
    XmlNode root_;
};

TEST_F(XmlLoadTest, BuildsTrees) {
    const struct {
        const char* text;
        const char* tree;
    } cases[] = {
        {"<a><b>1</b><b>2</b></a>", "a{b'1',b'2'}"},
        // Attributes, in document order.
        {"<a x=1 y='2' z>", "a[x=1,y=2,z=]"},
        {"<a z/>", "a[z=]"},
        {"<a x = \"1\" y='q \"r\"'>", "a[x=1,y=q \"r\"]"},
        {"<a x=\"say \\\"hi\\\"\"/>", "a[x=say \"hi\"]"},
        {"<a\tx=\"1\"\ny='2'/>", "a[x=1,y=2]"},
        {"<a x='1'y=\"2\"/>", "a[x=1,y=2]"},
        // An unquoted value runs to a blank or '>', so it takes a '/' along.
        {"<a x=1/>", "a[x=1/]"},
        {"<a x='p&amp;q'/>", "a[x=p&q]"},
        {"<a x=>", "a[x=]"},
        // Comments and CDATA sections become children of the enclosing element.
        {"<a><!-- c --><b/></a>", "a{#COMMENT' c ',b}"},
        {"<a><b><!--c--></b></a>", "a{b{#COMMENT'c'}}"},
        {"<a>x<![CDATA[<raw> &amp;]]>y</a>", "a'x'{#CDATA'<raw> &amp;'}"},
        {"<a><![cdata[x]]></a>", "a{#CDATA'x'}"},
        // The escape character never starts a terminator, but does not hide one either.
        {"<a><![CDATA[a\\]]>b]]></a>", "a'b]]>'{#CDATA'a\\'}"},
        // Outside the outermost element comments and processing instructions are dropped.
        {"<?xml version=\"1.0\"?>\n<!-- top -->\n<a/>", "a"},
        {"<?xml?>junk<a/>", "a"},
        {"<a><?pi x?><b/></a>", "a{b}"},
        {"<a><?pi?>t<b/></a>", "a't'{b}"},
        {"<a><b><?pi?></b></a>", "a{b}"},
        {"<a>x<?pi?> </a>", "a'x'"},
        // Forgiving cases.
        {"<a><b>text", "a{b'text'}"},
        {"<a>< b/></a>", "a"},
        {"<a></a >", "a"},
        {"<a><b></b ></a>", "a'>'{b}"},
        {"</a>", ""},
        {"<?xml?> </a>", ""},
        {"<?xml version=\"1.0\" encoding=\"utf-8\" ?>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const char* end = Load(c.text);
        ASSERT_NE(end, nullptr);
        EXPECT_EQ(Describe(root_), c.tree);
        EXPECT_FALSE(options_.errorOccurred);
    }
}

TEST_F(XmlLoadTest, ReturnsThePositionAfterTheElement) {
    EXPECT_EQ(Offset(Load("<a>x</a><b/>")), 8);
    EXPECT_EQ(Offset(Load("<a/> tail")), 4);
    EXPECT_EQ(Offset(Load("<a>open")), 7);
    EXPECT_EQ(Offset(Load("  </a>")), 2);
}

TEST_F(XmlLoadTest, ReloadingANodeKeepsNothingOfTheLastText) {
    ASSERT_NE(Load("<a x='1'>text<b/></a>"), nullptr);
    ASSERT_NE(Load("<c/>"), nullptr);
    EXPECT_EQ(Describe(root_), "c");
    ASSERT_NE(Load("<?xml version=\"1.0\"?>"), nullptr);
    EXPECT_EQ(Describe(root_), "");
}

TEST_F(XmlLoadTest, SpecialNodesHaveTheirTypes) {
    ASSERT_NE(Load("<a><!--c--><![CDATA[d]]><b/></a>"), nullptr);
    ASSERT_EQ(root_.children.size(), 3u);
    EXPECT_EQ(root_.type, kXmlElement);
    EXPECT_EQ(root_.children[0]->type, kXmlComment);
    EXPECT_EQ(root_.children[1]->type, kXmlCdata);
    EXPECT_EQ(root_.children[2]->type, kXmlElement);
    for (const auto& child : root_.children) {
        EXPECT_EQ(child->parent, &root_);
    }
    EXPECT_EQ(root_.children[2]->findAttribute("x"), nullptr);
}

TEST_F(XmlLoadTest, ElementText) {
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        // The first non-blank run wins; when all are blank, the last one.
        {"<a>x<b/>y</a>", "x"},
        {"<a> <b/>y<c/>z</a>", "y"},
        {"<a> <b/>\t<c/>\n</a>", "\n"},
        {"<a><b/>y</a>", "y"},
        {"<a> t </a>", " t "},
        // Escapes: the escape character is dropped, the character after it kept.
        {"<p>C:\\\\dir\\\\f</p>", "C:\\dir\\f"},
        {"<p>a\\bc</p>", "abc"},
        {"<p>1 \\< 2</p>", "1 < 2"},
        {"<p>end\\", "end"},
        // References.
        {"<a>x &lt; y</a>", "x < y"},
        {"<a>&lt? &ampx &LT;</a>", "&lt? &ampx &LT;"},
        {"<a>&amp;lt;</a>", "&lt;"},
        {"<a>\\&lt;</a>", "<"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_NE(Load(c.text), nullptr);
        EXPECT_EQ(root_.value, c.value);
    }
}

// Long runs are scanned in blocks; escapes, references and the end of the run must be found
// wherever they fall in a block.
TEST_F(XmlLoadTest, LongRunsFindEveryDelimiterWhereverItFalls) {
    const struct {
        const char* insert;  // placed after `offset` filler characters
        const char* stored;
    } markers[] = {{"&amp;", "&"}, {"\\<", "<"}, {"\\\"", "\""}, {"\\\\", "\\"}, {"&lt", "&lt"}};
    for (const auto& marker : markers) {
        for (size_t offset = 0; offset < 40; ++offset) {
            SCOPED_TRACE(std::string(marker.insert) + " at " + std::to_string(offset));
            const std::string filler(offset, 'f');
            const std::string tail(37 - offset % 17, 't');
            const std::string run = filler + marker.insert + tail;
            ASSERT_NE(Load("<a x=\"" + run + "\">" + run + "</a>"), nullptr);
            const std::string expected = filler + marker.stored + tail;
            EXPECT_EQ(root_.value, expected);
            ASSERT_EQ(root_.attributes.size(), 1u);
            EXPECT_EQ(root_.attributes[0]->value, expected);
        }
    }
    // The run ends at the first '<' (or quote) even at the last byte of a block.
    for (size_t length = 10; length < 40; ++length) {
        const std::string run(length, 'r');
        ASSERT_NE(Load("<a x='" + run + "'>" + run + "<b/>" + run + "</a>"), nullptr);
        EXPECT_EQ(root_.value, run);
        EXPECT_EQ(root_.attributes[0]->value, run);
        EXPECT_EQ(root_.children.size(), 1u);
    }
}

// A node that is loaded again reuses its old nodes; nothing of the old tree may show.
TEST_F(XmlLoadTest, ReloadsOfDifferentShapesBuildCleanTrees) {
    const struct {
        const char* text;
        const char* tree;
    } sequence[] = {
        {"<a x='1' y='2'><b z='3'>t<c/><d><e f='4'/></d></b><!--k--><g>u</g></a>",
         "a[x=1,y=2]{b[z=3]'t'{c,d{e[f=4]}},#COMMENT'k',g'u'}"},
        {"<p><q/></p>", "p{q}"},
        {"<r s='5'><t><u><v w='6' x='7'>deep</v></u></t><t2/><t3>a</t3></r>",
         "r[s=5]{t{u{v[w=6,x=7]'deep'}},t2,t3'a'}"},
        {"<a x='1' y='2'><b z='3'>t<c/><d><e f='4'/></d></b><!--k--><g>u</g></a>",
         "a[x=1,y=2]{b[z=3]'t'{c,d{e[f=4]}},#COMMENT'k',g'u'}"},
        // A nameless element is dropped with its attributes and children.
        {"<n>< x='1'>lost<o/></ ><p/></n>", "n{p}"},
        {"<a><b></c>", "a{b}"},  // fails, keeping what was built
        {"<z/>", "z"},
    };
    for (const auto& step : sequence) {
        SCOPED_TRACE(step.text);
        Load(step.text);
        EXPECT_EQ(Describe(root_), step.tree);
        // Every node and attribute points at its real parent.
        std::vector<const XmlNode*> pending{&root_};
        while (!pending.empty()) {
            const XmlNode* node = pending.back();
            pending.pop_back();
            for (const auto& attribute : node->attributes) {
                EXPECT_EQ(attribute->parent, node);
            }
            for (const auto& child : node->children) {
                EXPECT_EQ(child->parent, node);
                pending.push_back(child.get());
            }
        }
    }
}

TEST_F(XmlLoadTest, ParseOptionsChangeValues) {
    const struct {
        const char* name;
        void (*configure)(XmlParseOptions&);
        const char* text;
        const char* value;
        const char* attribute;
    } cases[] = {
        {"defaults", [](XmlParseOptions&) {}, "<a x=' 1 '> t <b/></a>", " t ", " 1 "},
        {"trim", [](XmlParseOptions& o) { o.trimValues = true; }, "<a x=' 1 '> t <b/></a>", "t",
         "1"},
        {"no decoding", [](XmlParseOptions& o) { o.decodeEntities = false; },
         "<a x='&lt;'>&amp;</a>", "&amp;", "&lt;"},
        {"no table", [](XmlParseOptions& o) { o.entities = nullptr; }, "<a x='&lt;'>&amp;</a>",
         "&amp;", "&lt;"},
        // A backslash still protects '<' and quotes while scanning, but is kept.
        {"other escape", [](XmlParseOptions& o) { o.escapeChar = '^'; },
         "<a x='q\\'^r'>a^^b^c\\<d</a>", "a^bc\\<d", "q\\'r"},
        {"no escape", [](XmlParseOptions& o) { o.escapeChar = '\0'; }, "<a x='\\\\'>\\\\</a>",
         "\\\\", "\\\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options_ = XmlParseOptions();
        c.configure(options_);
        ASSERT_NE(Load(c.text), nullptr);
        EXPECT_EQ(root_.value, c.value);
        ASSERT_NE(root_.findAttribute("x"), nullptr);
        EXPECT_EQ(root_.findAttribute("x")->value, c.attribute);
    }
}

TEST_F(XmlLoadTest, LookupsAreCaseSensitiveAndFindTheFirst) {
    ASSERT_NE(Load("<a X=1 x=2 x=3><B>1</B><b>2</b><b>3</b></a>"), nullptr);
    ASSERT_NE(root_.findChild("b"), nullptr);
    EXPECT_EQ(root_.findChild("b")->value, "2");
    EXPECT_EQ(root_.childText("b"), "2");
    EXPECT_EQ(root_.childText("B"), "1");
    EXPECT_EQ(root_.findChild("c"), nullptr);
    EXPECT_EQ(root_.childText("c"), "");
    EXPECT_EQ(root_.findAttribute("X")->value, "1");
    EXPECT_EQ(root_.findAttribute("x")->value, "2");
    EXPECT_EQ(root_.findAttribute("y"), nullptr);
    const XmlNode& constRoot = root_;
    EXPECT_EQ(constRoot.findChild("b"), root_.children[1].get());
    EXPECT_EQ(constRoot.findAttribute("x"), root_.attributes[1].get());
}

TEST_F(XmlLoadTest, TextEncodesValuesAndJoinsChildren) {
    ASSERT_NE(Load("<a>x &lt; y</a>"), nullptr);
    EXPECT_EQ(root_.value, "x < y");
    EXPECT_EQ(root_.text(), "x &lt; y");
    EXPECT_EQ(decodeXmlEntities(root_.text()), root_.value);

    ASSERT_NE(Load("<r><a>v&amp;<b>&lt;</b><!--c--><![CDATA[<d>]]><e/></a></r>"), nullptr);
    const XmlNode* a = root_.findChild("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), "&lt;<d>v&amp;");
    EXPECT_EQ(root_.childText("a"), "&lt;<d>v&amp;");
    // The options reach this element's own value only; children keep the defaults.
    XmlTextOptions plain;
    plain.encodeEntities = false;
    EXPECT_EQ(a->text(plain), "&lt;<d>v&");
    XmlTextOptions noTable;
    noTable.entities = nullptr;
    EXPECT_EQ(root_.childText("a", noTable), "&lt;<d>v&");
    EXPECT_EQ(a->children[1]->text(), "");     // comment
    EXPECT_EQ(a->children[2]->text(), "<d>");  // CDATA, never encoded
    EXPECT_EQ(a->findChild("e")->text(), "");
}

TEST(XmlNodeTest, TextOfDocumentAndInstructionNodes) {
    XmlNode document(nullptr, kXmlDocumentNode);
    document.value = "ignored";
    auto element = std::make_unique<XmlNode>(&document, kXmlElement);
    element->value = "<";
    auto inner = std::make_unique<XmlNode>(element.get(), kXmlElement);
    inner->value = ">";
    element->children.push_back(std::move(inner));
    document.children.push_back(std::move(element));
    document.children.push_back(std::make_unique<XmlNode>(&document, kXmlProcessingInstruction));
    document.children.back()->value = "pi";

    XmlTextOptions plain;
    plain.encodeEntities = false;
    EXPECT_EQ(document.text(), "&gt;&lt;");
    // A document hands its options to its children, an element does not.
    EXPECT_EQ(document.text(plain), "&gt;<");
    EXPECT_EQ(document.children[1]->text(), "");
}

TEST_F(XmlLoadTest, ForceParseSkipsStrayClosingTags) {
    options_.forceParse = true;
    ASSERT_NE(Load("<a><b>1</c></b><d/></a>"), nullptr);
    EXPECT_EQ(Describe(root_), "a{b'1',d}");
    EXPECT_FALSE(options_.errorOccurred);
    ASSERT_NE(Load("<a></b>"), nullptr);
    EXPECT_EQ(Describe(root_), "a");
}

TEST_F(XmlLoadTest, ErrorsAreReportedWithCodeTextAndPosition) {
    const struct {
        const char* text;
        int code;
        const char* message;
        std::ptrdiff_t position;
        const char* partialTree;
    } cases[] = {
        {"<a/x>", 1, "Element must be closed.", 3, "a"},
        {"<a><b/><c/x></a>", 1, "Element must be closed.", 10, "a{b,c}"},
        {"<a></a", 2, "it must be closed with </a>", 5, "a"},
        {"<a></ \t", 2, "it must be closed with </a>", 7, "a"},
        {"<a></b>rest", 3, "'<a> ... </b>' is not wel-formed.", 7, "a"},
        {"<A></a>", 3, "'<A> ... </a>' is not wel-formed.", 7, "A"},
        {"<a><b></a></b>", 3, "'<b> ... </a>' is not wel-formed.", 10, "a{b}"},
        {"<a x", 4, "<a> attribute has error ", 3, "a"},
        {"<a x='1' y", 4, "<a> attribute has error ", 9, "a[x=1]"},
        // TAB and LF do not end an attribute name.
        {"<a x\ty\n", 4, "<a> attribute has error ", 3, "a"},
        {"<a", 4, "<a> attribute has error ", 2, "a"},
        // A quoted value without its closing quote runs to the end.
        {"<a x='open", 4, "<a> attribute has error ", 10, "a[x=open]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        options_ = XmlParseOptions();
        EXPECT_EQ(Load(c.text), nullptr);
        EXPECT_TRUE(options_.errorOccurred);
        EXPECT_EQ(options_.errorCode, c.code);
        EXPECT_EQ(options_.errorText, c.message);
        EXPECT_EQ(Offset(options_.errorPosition), c.position);
        EXPECT_EQ(Describe(root_), c.partialTree);
    }
}

TEST_F(XmlLoadTest, OnlyTheFirstErrorIsRecorded) {
    const std::string first = "<a/x>";
    const std::string second = "<a></b>";
    EXPECT_EQ(root_.load(first.c_str(), options_), nullptr);
    EXPECT_EQ(root_.load(second.c_str(), options_), nullptr);
    EXPECT_EQ(options_.errorCode, 1);
    EXPECT_EQ(options_.errorText, "Element must be closed.");
    EXPECT_EQ(options_.errorPosition, first.c_str() + 3);
    // A successful load does not clear the report either.
    EXPECT_NE(root_.load("<ok/>", options_), nullptr);
    EXPECT_TRUE(options_.errorOccurred);
}

TEST(XmlDocumentTest, ProcessWideOptionsKeepTheirFirstErrorForever) {
    XmlDocument& document = TheXmlDocument();
    EXPECT_EQ(document.loadText("<a></b>"), 0);
    const XmlParseOptions& options = TheXmlParseOptions();
    ASSERT_TRUE(options.errorOccurred);
    const int code = options.errorCode;
    const std::string message = options.errorText;
    const char* position = options.errorPosition;
    EXPECT_EQ(document.loadText("<a x"), 0);
    EXPECT_EQ(document.loadText("<a/x>"), 0);
    EXPECT_EQ(options.errorCode, code);
    EXPECT_EQ(options.errorText, message);
    EXPECT_EQ(options.errorPosition, position);
    EXPECT_EQ(document.loadText("<fine/>"), 1);
    EXPECT_EQ(document.root.name, "fine");
}

// A processing instruction, comment or CDATA section that never ends fails the load: no
// node is made for it, no error code is set, and nothing is read past the end.
TEST_F(XmlLoadTest, UnterminatedConstructsFailTheLoad) {
    const struct {
        const char* text;
        const char* partialTree;
    } cases[] = {
        {"<?xml version=\"1.0\"", ""},
        {"<?xml version=\"1.0\"?", ""},
        {"<!-- x", ""},
        {"<!-- x --", ""},
        {"<a><!-- open", "a"},
        {"<a><b/><!-- open -", "a{b}"},
        {"<a><![CDATA[ open ]]", "a"},
        {"<a><?pi", "a"},
        {"<a><b>x<!--", "a{b'x'}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        options_ = XmlParseOptions();
        EXPECT_EQ(Load(c.text), nullptr);
        EXPECT_FALSE(options_.errorOccurred);
        EXPECT_EQ(Describe(root_), c.partialTree);
    }
}

TEST_F(XmlLoadTest, EscapeCharacterNeverStartsATerminator) {
    ASSERT_NE(Load("<a><!--x--></a>"), nullptr);
    EXPECT_EQ(Describe(root_), "a{#COMMENT'x'}");
    // With '-' as the escape character the first '-' of "-->" is skipped, and the
    // comment runs on to the next full "-->".
    options_.escapeChar = '-';
    EXPECT_EQ(Load("<a><!--x--></a>"), nullptr);
    ASSERT_NE(Load("<a><!--x---></a>"), nullptr);
    EXPECT_EQ(Describe(root_), "a{#COMMENT'x-'}");
}

TEST_F(XmlLoadTest, TextWithoutElementFails) {
    EXPECT_EQ(Load(""), nullptr);
    EXPECT_EQ(Load("no tags here"), nullptr);
    EXPECT_FALSE(options_.errorOccurred);
}

class XmlDeepNestingTest : public ::testing::TestWithParam<size_t> {};

std::string Nested(size_t depth, const char* inner, const char* close) {
    std::string text;
    text.reserve(depth * 8 + 16);
    for (size_t i = 0; i < depth; ++i) {
        text += "<n>";
    }
    text += inner;
    for (size_t i = 0; close != nullptr && i < depth; ++i) {
        text += close;
    }
    return text;
}

size_t Depth(const XmlNode& root, const XmlNode** deepest) {
    size_t depth = 1;
    const XmlNode* node = &root;
    while (!node->children.empty()) {
        node = node->children.front().get();
        ++depth;
    }
    *deepest = node;
    return depth;
}

TEST_P(XmlDeepNestingTest, LoadsWalksAndFreesWithoutRecursion) {
    const size_t depth = GetParam();
    const XmlNode* deepest = nullptr;
    {
        const std::string text = Nested(depth, "x<!--c-->", "</n>");
        XmlParseOptions options;
        XmlNode root;
        EXPECT_EQ(root.load(text.c_str(), options), text.c_str() + text.size());
        EXPECT_EQ(Depth(root, &deepest), depth + 1);  // the comment is the deepest node
        EXPECT_EQ(deepest->name, "#COMMENT");
        EXPECT_EQ(deepest->parent->value, "x");
        EXPECT_EQ(root.text(), "x");
        root.clear();
        EXPECT_TRUE(root.children.empty());
    }
    {
        const std::string text = Nested(depth, "open", nullptr);
        XmlParseOptions options;
        XmlNode root;  // freed with the whole tree at the end of the scope
        EXPECT_NE(root.load(text.c_str(), options), nullptr);
        EXPECT_EQ(Depth(root, &deepest), depth);
    }
    {
        const std::string text = Nested(depth, "</m>", nullptr);
        XmlParseOptions options;
        XmlNode root;
        EXPECT_EQ(root.load(text.c_str(), options), nullptr);
        EXPECT_EQ(options.errorCode, kXmlErrorNotWellFormed);
        EXPECT_EQ(Depth(root, &deepest), depth);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, XmlDeepNestingTest, ::testing::Values(10000u, 100000u));

// Double-byte code pages: a lead byte takes the next byte along, whatever it is. Tests use
// 0x81..0x9F as lead bytes, as in Shift-JIS.
TEST_F(XmlLoadTest, DoubleByteCharactersAreNeverSplit) {
    const struct {
        const char* text;
        const char* tree;
    } cases[] = {
        // A trail byte equal to a delimiter or to the escape character is part of the text.
        {"<a>\x95\\</a>", "a'\x95\\'"},
        {"<a>\x81<b</a>", "a'\x81<b'"},
        {"<a x='\x81\\'/>", "a[x=\x81\\]"},
        {"<a x=\"\x81\"\"/>", "a[x=\x81\"]"},
        {"<a \x81=x='1'/>", "a[\x81=x=1]"},
        {"<a\x81 ></a\x81 >", "a\x81 "},
        {"<a><![CDATA[\x81]]]></a>", "a{#CDATA'\x81]'}"},
        {"<a><!--\x81---></a>", "a{#COMMENT'\x81-'}"},
        {"<a>\\\x81<b</a>", "a'\x81<b'"},
        // A lead byte at the very end stays a byte of its own.
        {"<a>\x81", "a'\x81'"},
    };
    ScopedLeadBytesForTesting leadBytes(0x81, 0x9F);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_NE(Load(c.text), nullptr);
        EXPECT_EQ(Describe(root_), c.tree);
    }
    EXPECT_EQ(Load("<a><!--\x81"), nullptr);
    EXPECT_EQ(Load("<\x81"), nullptr);
    EXPECT_EQ(Load("<a x='\x81"), nullptr);
    EXPECT_EQ(options_.errorCode, kXmlErrorAttribute);
}

TEST_F(XmlLoadTest, SingleByteCodePageSplitsWhatDoubleByteKeeps) {
    // The same text as above without lead bytes: the backslash protects the '<'.
    ASSERT_NE(Load("<a>\x95\\</a>"), nullptr);
    EXPECT_EQ(Describe(root_), "a'\x95</a>'");
}

class XmlFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }

    const char* Write(const std::string& bytes) {
        static int counter = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("px_xml_test_" + std::to_string(++counter) + "_" +
                  std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".xml"))
                    .string();
        std::ofstream out(path_, std::ios::binary);
        out << bytes;
        return path_.c_str();
    }

    std::string path_;
    XmlParseOptions options_;
    XmlDocument document_;
};

TEST_F(XmlFileTest, MissingFileLoadsTheBuiltInDeclaration) {
    const std::string missing =
        (std::filesystem::temp_directory_path() / "px_xml_test_missing" / "pxplugin.xml").string();
    for (const char* path : {missing.c_str(), static_cast<const char*>(nullptr)}) {
        ASSERT_EQ(document_.loadText("<old x='1'>v<b/></old>", options_), 1);
        EXPECT_EQ(document_.loadFile(path, options_), 1);
        EXPECT_EQ(document_.loadedText(), "<?xml version=\"1.0\" encoding=\"utf-8\" ?>");
        EXPECT_EQ(Describe(document_.root), "");
        EXPECT_EQ(document_.root.findChild("b"), nullptr);
        EXPECT_EQ(document_.root.childText("width"), "");
        EXPECT_EQ(document_.fileName, path != nullptr ? missing : "");
    }
    EXPECT_FALSE(options_.errorOccurred);
}

TEST_F(XmlFileTest, LoadsSettingsFileWithCrLfLines) {
    const std::string longValue(3000, 'v');  // spans several 1024-byte chunks
    const std::string bytes =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<PXPlugin>\r\n"
        "  <width>800</width>\r\n"
        "  <height>600</height>\r\n"
        "  <TransDirectory>C:\\\\Store\\\\Cache</TransDirectory>\r\n"
        "  <UploadUrl>http://up.example/u?a=1&amp;b=2</UploadUrl>\r\n"
        "  <long>" +
        longValue +
        "</long>\r\n"
        "</PXPlugin>\r\n";
    const char* path = Write(bytes);
    ASSERT_EQ(document_.loadFile(path, options_), 1);
    EXPECT_EQ(document_.fileName, path);
    const XmlNode& root = document_.root;
    EXPECT_EQ(root.name, "PXPlugin");
    EXPECT_EQ(root.childText("width"), "800");
    EXPECT_EQ(root.childText("height"), "600");
    EXPECT_EQ(root.childText("TransDirectory"), "C:\\Store\\Cache");
    EXPECT_EQ(root.childText("UploadUrl"), "http://up.example/u?a=1&amp;b=2");
    EXPECT_EQ(decodeXmlEntities(root.childText("UploadUrl")), "http://up.example/u?a=1&b=2");
    EXPECT_EQ(root.childText("long"), longValue);
#ifdef _WIN32
    // Text mode turns CR LF into LF.
    EXPECT_EQ(root.value, "\n");
    EXPECT_EQ(document_.loadedText().size(), bytes.size() - 8);
#else
    EXPECT_EQ(root.value, "\r\n");
    EXPECT_EQ(document_.loadedText(), bytes);
#endif
}

TEST_F(XmlFileTest, UpdateDescriptorAttributesAndText) {
    const char* path = Write(
        "<?xml version=\"1.0\"?>\n<PXUpdate>\n"
        "<AerinPluginUpdateLink required=\"yes\">http://dl.example/s.exe?v=1&amp;w=2"
        "</AerinPluginUpdateLink>\n</PXUpdate>\n");
    ASSERT_EQ(document_.loadFile(path, options_), 1);
    const XmlNode* link = document_.root.findChild("AerinPluginUpdateLink");
    ASSERT_NE(link, nullptr);
    ASSERT_NE(link->findAttribute("required"), nullptr);
    EXPECT_EQ(link->findAttribute("required")->value, "yes");
    EXPECT_EQ(link->text(), "http://dl.example/s.exe?v=1&amp;w=2");
}

TEST_F(XmlFileTest, BrokenOrEmptyFilesFail) {
    for (const char* bytes : {"", "<cfg><width>1</width><!-- cut", "<cfg></cgf>"}) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(document_.loadFile(Write(bytes), options_), 0);
    }
}

TEST_F(XmlFileTest, ZeroTerminatedTextsAreReadInPlaceOthersCopied) {
    const std::string text = "<a></b>";
    EXPECT_EQ(document_.loadText(text, options_), 0);
    EXPECT_EQ(options_.errorPosition, text.c_str() + 7);
    EXPECT_EQ(document_.loadedText().data(), text.c_str());

    XmlParseOptions other;
    const std::string_view view = std::string_view("<b></c>tail").substr(0, 7);
    EXPECT_EQ(document_.loadText(view, other), 0);
    EXPECT_EQ(document_.loadedText(), "<b></c>");
    EXPECT_EQ(other.errorPosition, document_.loadedText().data() + 7);
    EXPECT_EQ(other.errorText, "'<b> ... </c>' is not wel-formed.");

    // Loading stops at the first zero byte.
    const std::string withZero("<a/>\0<b/>", 9);
    EXPECT_EQ(document_.loadText(withZero, options_), 1);
    EXPECT_EQ(Describe(document_.root), "a");
    EXPECT_EQ(document_.loadedText(), "<a/>");

    EXPECT_EQ(document_.loadText(static_cast<const char*>(nullptr), options_), 0);
    EXPECT_EQ(Describe(document_.root), "");
    EXPECT_EQ(document_.loadedText(), "");
}

TEST_F(XmlFileTest, EachLoadReplacesTheTree) {
    ASSERT_EQ(document_.loadText("<a>1<b/></a>", options_), 1);
    ASSERT_EQ(document_.loadFile(Write("<c/>"), options_), 1);
    EXPECT_EQ(Describe(document_.root), "c");
    ASSERT_EQ(document_.loadText("<!-- only a comment -->", options_), 1);
    EXPECT_EQ(Describe(document_.root), "");
}

TEST(XmlOptionsTest, DefaultsOfFreshOptions) {
    const XmlParseOptions parse;
    EXPECT_FALSE(parse.trimValues);
    EXPECT_TRUE(parse.decodeEntities);
    EXPECT_EQ(parse.entities, &TheXmlEntityTable());
    EXPECT_EQ(parse.escapeChar, '\\');
    EXPECT_FALSE(parse.forceParse);
    EXPECT_FALSE(parse.errorOccurred);
    EXPECT_EQ(parse.errorPosition, nullptr);
    EXPECT_EQ(parse.errorCode, 0);
    EXPECT_EQ(parse.errorText, "");
    const XmlTextOptions& text = TheXmlTextOptions();
    EXPECT_TRUE(text.newline);
    EXPECT_TRUE(text.encodeEntities);
    EXPECT_EQ(text.entities, &TheXmlEntityTable());
    EXPECT_EQ(text.tabBase, 0);
}

}  // namespace
