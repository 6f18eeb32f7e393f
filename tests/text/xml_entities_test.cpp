// Tests of the character-reference table and of the fixed five-reference decoder.
#include "text/xml_entities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

namespace {

TEST(XmlEntityTableTest, StandardTableHasTheFiveReferencesInOrder) {
    const XmlEntityTable table;
    const struct {
        char character;
        const char* reference;
    } expected[] = {
        {'&', "&amp;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"}};
    ASSERT_EQ(table.entries().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(table.entries()[i].character, expected[i].character);
        EXPECT_STREQ(table.entries()[i].reference, expected[i].reference);
        EXPECT_EQ(table.entries()[i].length, static_cast<int>(std::strlen(expected[i].reference)));
    }
}

TEST(XmlEntityTableTest, EncodeAndDecode) {
    const struct {
        const char* plain;
        const char* encoded;
    } cases[] = {
        {"", ""},
        {"plain text", "plain text"},
        {"a<b>c", "a&lt;b&gt;c"},
        {"&\"'<>", "&amp;&quot;&apos;&lt;&gt;"},
        {"&amp;", "&amp;amp;"},
        {"x < y", "x &lt; y"},
    };
    const XmlEntityTable& table = TheXmlEntityTable();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plain);
        EXPECT_EQ(table.encode(c.plain), c.encoded);
        EXPECT_EQ(table.decode(c.encoded), c.plain);
    }
}

TEST(XmlEntityTableTest, DecodeLeavesUnknownAndUnterminatedReferences) {
    const struct {
        const char* text;
        const char* decoded;
    } cases[] = {
        {"&lt?", "&lt?"},       {"&ampx", "&ampx"},
        {"&LT;", "&LT;"},  // case-sensitive
        {"&nbsp;&", "&nbsp;&"}, {"&&lt;", "&<"},
        {"&amp;lt;", "&lt;"},  // one pass: the '&' produced is not read again
        {"a&", "a&"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TheXmlEntityTable().decode(c.text), c.decoded);
    }
}

TEST(XmlEntityTableTest, ReferencesLongerThanTenCharactersAreRefused) {
    XmlEntityTable table;
    EXPECT_TRUE(table.add('~', "&tilde_ok;"));  // exactly 10
    EXPECT_FALSE(table.add('^', "&circumflex;"));
    EXPECT_FALSE(table.add('^', ""));
    EXPECT_EQ(table.entries().size(), 6u);
    EXPECT_EQ(table.encode("~^"), "&tilde_ok;^");
    EXPECT_EQ(table.decode("&tilde_ok;"), "~");
}

TEST(XmlEntityTableTest, EarlierEntryWinsWhenReferencesShareAPrefix) {
    XmlEntityTable table;
    table.add('1', "&l");  // after "&lt;": "&lt;" is still tried first
    EXPECT_EQ(table.decode("&lt;&lx"), "<1x");
}

TEST(XmlEntityTableTest, ReferencesMayStartWithOtherCharacters) {
    XmlEntityTable table;
    ASSERT_TRUE(table.add('~', "%7E"));
    EXPECT_EQ(table.decode("a%7E&lt;%7"), "a~<%7");
    EXPECT_EQ(table.encode("~<"), "%7E&lt;");
}

TEST(DecodeXmlEntitiesTest, ReplacesInFixedOrderEachOverTheWholeText) {
    const struct {
        const char* text;
        const char* decoded;
    } cases[] = {
        {"", ""},
        {"http://h/p?a=1&amp;b=2", "http://h/p?a=1&b=2"},
        {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
        // "&amp;" is replaced after "&lt;" and "&gt;" but before "&apos;" and "&quot;".
        {"&amp;lt;", "&lt;"},
        {"&amp;gt;", "&gt;"},
        {"&amp;apos;", "'"},
        {"&amp;quot;", "\""},
        {"&lt;lt;&lt", "<lt;&lt"},
        {"&amp;amp;", "&amp;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decodeXmlEntities(c.text), c.decoded);
    }
}

}  // namespace
