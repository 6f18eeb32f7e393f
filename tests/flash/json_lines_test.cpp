// The driver link's line format: flat objects in, escaped strings out, and the UTF-8 /
// UTF-16 conversions under both, including surrogate pairs and their broken forms.
#include <gtest/gtest.h>

#include "json_lines.h"

namespace pxflash {
namespace {

TEST(JsonLinesTest, ParsesFlatObjects) {
    const struct {
        const char* line;
        const char* key;
        bool isString;
        std::u16string value;
    } kCases[] = {
        {R"({"call":"<invoke name=\"Init\"/>"})", "call", true, u"<invoke name=\"Init\"/>"},
        {R"( { "call" : "a\\b\/c\n\t" } )", "call", true, u"a\\b/c\n\t"},
        {R"({"call":"\u00e9\ud83d\ude00"})", "call", true, u"\u00e9\U0001F600"},
        {"{\"call\":\"\xC3\xA9\xF0\x9F\x98\x80\"}", "call", true, u"\u00e9\U0001F600"},
        {R"({"call":"\ud83d"})", "call", true, std::u16string(1, char16_t(0xD83D))},
        {R"({"layer":-12.5e3,"call":""})", "layer", false, u"-12.5e3"},
        {R"({"a":true,"call":null})", "call", false, u"null"},
        {R"({})", nullptr, false, u""},
    };
    for (const auto& c : kCases) {
        JsonObject object;
        std::string error;
        ASSERT_TRUE(ParseJsonObject(c.line, object, error)) << c.line << ": " << error;
        if (c.key == nullptr) {
            EXPECT_TRUE(object.empty());
            continue;
        }
        ASSERT_EQ(object.count(c.key), 1u) << c.line;
        EXPECT_EQ(object[c.key].isString, c.isString) << c.line;
        EXPECT_TRUE(object[c.key].text == c.value) << c.line;
    }
}

TEST(JsonLinesTest, RejectsWhatIsNotAFlatObject) {
    const char* const kLines[] = {
        "",
        "call",
        "[1]",
        R"({"call":"x")",
        R"({"call":"x"}x)",
        R"({"call":{"a":1}})",
        R"({"call":["x"]})",
        R"({"call":"\x"})",
        R"({"call":"\u12"})",
        R"({"call":"\u12g4"})",
        R"({call:"x"})",
        R"({"call" "x"})",
        R"({"call":"x",})",
        R"({"call":-})",
        R"({"call":1.})",
        "{\"call\":\"a\tb\"}",
        "{\"call\":\"\xC3\"}",
        "{\"call\":\"\xC0\xAF\"}",          // overlong
        "{\"call\":\"\xED\xA0\xBD\"}",      // an encoded surrogate
        "{\"call\":\"\xF4\x90\x80\x80\"}",  // past U+10FFFF
    };
    for (const char* line : kLines) {
        JsonObject object;
        std::string error;
        EXPECT_FALSE(ParseJsonObject(line, object, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
}

TEST(JsonLinesTest, QuotesForTheWire) {
    const struct {
        std::u16string text;
        const char* quoted;
    } kCases[] = {
        {u"plain", R"("plain")"},
        {u"\"q\" \\ \n\r\t\x01", R"("\"q\" \\ \n\r\t\u0001")"},
        {u"\u00e9\u20ac\U0001F600", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {std::u16string(1, char16_t(0xDC00)) + u"x", R"("\udc00x")"},
        {u"a" + std::u16string(1, char16_t(0xD83D)), R"("a\ud83d")"},
    };
    for (const auto& c : kCases) {
        std::string quoted = JsonQuote(c.text);
        EXPECT_EQ(quoted, c.quoted);
        // What goes out comes back the same.
        JsonObject object;
        std::string error;
        ASSERT_TRUE(ParseJsonObject("{\"k\":" + quoted + "}", object, error)) << error;
        EXPECT_TRUE(object["k"].text == c.text) << c.quoted;
    }
}

TEST(JsonLinesTest, ConvertsBetweenUtf8AndUtf16) {
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", wide));
    EXPECT_TRUE(wide == u"a\u00e9\u20ac\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    // A lone surrogate cannot be UTF-8: it becomes the replacement character.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_FALSE(Utf8ToUtf16("\xF0\x9F\x98", wide));
    EXPECT_FALSE(Utf8ToUtf16("\x80", wide));
}

}  // namespace
}  // namespace pxflash
