// Tests of the invoke protocol: what ParseScriptCall takes from a request, how the
// arguments are joined, and the exact reply and push texts with their log lines.
#include "store/shell/script_call.h"

#include <climits>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/temp_log.h"

namespace {

using Kind = ScriptArgumentKind;

struct ExpectedArgument {
    std::string text;
    Kind kind;
};

struct ParseCase {
    const char* label;
    std::string request;
    bool parsed;
    std::string name;
    std::vector<ExpectedArgument> arguments;
    std::string joined;
};

const std::string kHead = "<invoke name=\"StartDownloadFile\" returntype=\"xml\"><arguments>";
const std::string kTail = "</arguments></invoke>";

std::vector<ParseCase> ParseCases() {
    return {
        {"string and number",
         kHead + "<string>a b</string><number>12</number>" + kTail,
         true,
         "StartDownloadFile",
         {{"a b", Kind::kString}, {"12", Kind::kNumber}},
         "a b*12"},
        {"empty argument list",
         "<invoke name=\"Init\" returntype=\"xml\"><arguments></arguments></invoke>",
         true,
         "Init",
         {},
         ""},
        {"tab before name",
         "<invoke\tname=\"SelectPath\"><arguments></arguments></invoke>",
         true,
         "SelectPath",
         {},
         ""},
        {"blanks and tabs before name",
         "<invoke \t name=\"getTransStatus\"><arguments>x",
         true,
         "getTransStatus",
         {},
         ""},
        {"no blank before name", "<invokename=\"Init\"><arguments>x", true, "", {}, ""},
        {"empty name",
         "<invoke name=\"\"><arguments><string>v</string>",
         true,
         "",
         {{"v", Kind::kString}},
         "v"},
        {"no invoke head",
         "<arguments><string>v</string></arguments>",
         true,
         "",
         {{"v", Kind::kString}},
         "v"},
        {"no arguments element",
         "<invoke name=\"Init\" returntype=\"xml\"></invoke>",
         false,
         "",
         {},
         ""},
        {"nothing after arguments", "<invoke name=\"Init\"><arguments>", false, "", {}, ""},
        {"arguments element in other case",
         "<invoke name=\"Init\"><ARGUMENTS></ARGUMENTS>",
         false,
         "",
         {},
         ""},
        {"empty request", "", false, "", {}, ""},
        {"less-than stops a value, that element is skipped",
         kHead + "<string>a<b</string><string>c</string>" + kTail,
         true,
         "StartDownloadFile",
         {{"c", Kind::kString}},
         "c"},
        {"every entity of an argument is decoded in the joined text",
         kHead + "<string>x&lt;y&amp;z&amp;w</string>" + kTail,
         true,
         "StartDownloadFile",
         {{"x&lt;y&amp;z&amp;w", Kind::kString}},
         "x<y&z&w"},
        {"each argument is decoded",
         kHead + "<string>a&amp;</string><string>&amp;b</string>" + kTail,
         true,
         "StartDownloadFile",
         {{"a&amp;", Kind::kString}, {"&amp;b", Kind::kString}},
         "a&*&b"},
        {"values are not trimmed",
         kHead + "<string> C:\\a b\\ </string>" + kTail,
         true,
         "StartDownloadFile",
         {{" C:\\a b\\ ", Kind::kString}},
         " C:\\a b\\ "},
        {"empty values keep their separators",
         kHead + "<string></string><string></string>" + kTail,
         true,
         "StartDownloadFile",
         {{"", Kind::kString}, {"", Kind::kString}},
         "*"},
        {"other elements are passed over, nested ones taken",
         kHead +
             "<true/><null/> <string>s</string><array><property id=\"0\"><number>-1.5</number>"
             "</property></array>" +
             kTail,
         true,
         "StartDownloadFile",
         {{"s", Kind::kString}, {"-1.5", Kind::kNumber}},
         "s*-1.5"},
        {"closing tag need not match",
         kHead + "<string>v</number><number>7</string>" + kTail,
         true,
         "StartDownloadFile",
         {{"v", Kind::kString}, {"7", Kind::kNumber}},
         "v*7"},
        {"element names are case-sensitive",
         kHead + "<String>v</String>" + kTail,
         true,
         "StartDownloadFile",
         {},
         ""},
        {"only the text up to a second <arguments> is read",
         kHead + "<string>1</string><arguments><string>2</string>" + kTail,
         true,
         "StartDownloadFile",
         {{"1", Kind::kString}},
         "1"},
        {"high bytes pass through",
         kHead + "<string>\xE4\xF6\xFC</string>" + kTail,
         true,
         "StartDownloadFile",
         {{"\xE4\xF6\xFC", Kind::kString}},
         "\xE4\xF6\xFC"},
    };
}

TEST(ParseScriptCallTest, TakesRequestsApart) {
    for (const ParseCase& c : ParseCases()) {
        SCOPED_TRACE(c.label);
        ScriptCall call;
        call.name = "stale";
        ASSERT_EQ(ParseScriptCall(c.request, call), c.parsed);
        if (!c.parsed) {
            continue;
        }
        EXPECT_EQ(call.name, c.name);
        ASSERT_EQ(call.arguments.size(), c.arguments.size());
        for (size_t i = 0; i < c.arguments.size(); ++i) {
            EXPECT_EQ(call.arguments[i].text, c.arguments[i].text) << i;
            EXPECT_EQ(call.arguments[i].kind, c.arguments[i].kind) << i;
        }
        EXPECT_EQ(JoinArguments(call.arguments), c.joined);
    }
}

// What a movie's bridge makes of file names and URLs, and texts that only look like
// references.
TEST(DecodeScriptArgumentTest, ReplacesEachReferenceOnce) {
    const struct {
        const char* text;
        const char* decoded;
    } cases[] = {
        {"C:\\R&amp;D\\a&amp;b&amp;c.max", "C:\\R&D\\a&b&c.max"},
        {"Bob&apos;s chair.max", "Bob's chair.max"},
        {"&quot;&lt;&gt;&apos;&amp;", "\"<>'&"},
        {"a&amp;amp;b.max", "a&amp;b.max"},  // a literal "&amp;" in a name stays one
        {"&amp;lt;", "&lt;"},
        {"http://h/f?a=1&amp;b=2&amp;c=3", "http://h/f?a=1&b=2&c=3"},
        {"&#39;&#x27;&#X27;&#x4a;&#x4A;&#065;", "''&#X27;JJA"},
        {"&#xE4;&#228;", "\xE4\xE4"},
        {"a&b&&amp;", "a&b&&"},
        {"&nbsp;&AMP;&amp &am;p&;", "&nbsp;&AMP;&amp &am;p&;"},
        {"&#;&#x;&#0;&#x110000;&#xD800;&#12a;&#99999999999999;",
         "&#;&#x;&#0;&#x110000;&#xD800;&#12a;&#99999999999999;"},
        {"&#00000000000000039;", "&#00000000000000039;"},  // longer than any reference
        {"&#0000000039;", "'"},
        {"&", "&"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DecodeScriptArgument(c.text), c.decoded);
    }
}

TEST(JoinArgumentsTest, DecodesEachArgumentBeforeJoining) {
    const std::vector<ScriptArgument> arguments = {
        {"7", ScriptArgumentKind::kNumber},
        {"http://h/files/a.max?x=1&amp;y=2", ScriptArgumentKind::kString},
        {"Z:\\Bob&apos;s &amp; Al&apos;s", ScriptArgumentKind::kString},
        {"a&amp;amp;b.max", ScriptArgumentKind::kString},
    };
    EXPECT_EQ(JoinArguments(arguments),
              "7*http://h/files/a.max?x=1&y=2*Z:\\Bob's & Al's*a&amp;b.max");
    EXPECT_EQ(JoinArguments({}), "");
}

TEST(ParseScriptCallTest, LongValuesArriveWhole) {
    std::string value(5000, 'v');
    ScriptCall call;
    ASSERT_TRUE(ParseScriptCall(kHead + "<string>" + value + "</string>" + kTail, call));
    ASSERT_EQ(call.arguments.size(), 1u);
    EXPECT_EQ(call.arguments[0].text, value);
}

std::string Reply(const std::string& name, const std::string& value) {
    return "<invoke name=\"SetReturnValue\" returntype=\"xml\"><arguments><string>" + name +
           "</string><string>" + value + "</string></arguments></invoke>";
}

ScriptResult TextResult(const std::string& text) {
    ScriptResult result;
    result.SetText(text);
    return result;
}

ScriptResult SignedResult(int32_t value) {
    ScriptResult result;
    result.SetSigned(value);
    return result;
}

ScriptResult UnsignedResult(uint64_t value) {
    ScriptResult result;
    result.SetUnsigned(value);
    return result;
}

TEST(BuildReturnValueCallTest, FormatsEachResultKindAndLogsIt) {
    struct Case {
        std::string name;
        ScriptResult result;
        std::string value;
        std::string logLine;
    };
    const Case cases[] = {
        {"Init", TextResult("<a href=\"x\">&amp;</a>"), "<a href=\"x\">&amp;</a>",
         "Function=Init, return value=<a href=\"x\">&amp;</a>"},
        {"NoSuchCommand", ScriptResult(), "", "Function=NoSuchCommand, return value="},
        {"", ScriptResult(), "", "Function=, return value="},
        {"fileExistEx", SignedResult(-1), "-1", "Function=fileExistEx, return value=-1"},
        {"StopTransFile", SignedResult(std::numeric_limits<int32_t>::min()), "-2147483648",
         "Function=StopTransFile, return value=-2147483648"},
        {"GetFileSizeEx", UnsignedResult(std::numeric_limits<uint64_t>::max()),
         "18446744073709551615", "Function=GetFileSizeEx, return value=18446744073709551615"},
        {"GetFileSizeEx", UnsignedResult(0), "0", "Function=GetFileSizeEx, return value=0"},
        {"SelectFiles", TextResult("C:\\100%s.max*1*%d|"), "C:\\100%s.max*1*%d|",
         "Function=SelectFiles, return value=C:\\100%s.max*1*%d|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logLine);
        TempLogFolder folder;
        ASSERT_TRUE(folder.Open());
        EXPECT_EQ(BuildReturnValueCall(c.name, c.result), Reply(c.name, c.value));
        EXPECT_EQ(folder.CloseAndReadBody(), std::vector<std::string>{c.logLine});
    }
}

TEST(BuildReturnValueCallTest, OnlyTheLogLineIsCut) {
    std::string value(3000, 'r');
    TempLogFolder folder;
    ASSERT_TRUE(folder.Open());
    EXPECT_EQ(BuildReturnValueCall("SelectFiles", TextResult(value)), Reply("SelectFiles", value));
    std::vector<std::string> lines = folder.CloseAndReadBody();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], ("Function=SelectFiles, return value=" + value).substr(0, 1020));
}

TEST(BuildReturnValueCallTest, WorksWithTheLogClosed) {
    EXPECT_EQ(BuildReturnValueCall("Init", SignedResult(0)), Reply("Init", "0"));
    EXPECT_EQ(BuildTextReturnValueCall("GetTransStatus", "\"1,2,3,0;\""),
              Reply("GetTransStatus", "\"1,2,3,0;\""));
}

TEST(PushCallTest, TextsAreExact) {
    struct Case {
        std::string built;
        std::string expected;
    };
    const Case cases[] = {
        {kDoShowStoreCall,
         "<invoke name=\"DoShowStore\" returntype=\"xml\"><arguments></arguments></invoke>"},
        {kDoShowFileSystemsCall,
         "<invoke name=\"DoShowFileSystems\" returntype=\"xml\"><arguments></arguments></invoke>"},
        {kEnableTreeMenuDragDropCall,
         "<invoke name=\"EnableTreeMenuDragDrop\" returntype=\"xml\"><arguments><number>0</number>"
         "</arguments></invoke>"},
        {BuildDoSavetoPlenthraCall("C:\\a&b.max*10*01/02/2007*01/02/2007|"),
         "<invoke name=\"DoSavetoPlenthra\" returntype=\"xml\"><arguments><string>"
         "C:\\a&b.max*10*01/02/2007*01/02/2007|</string></arguments></invoke>"},
        {BuildDoDrapFiletoPlenthraCall("<x>|"),
         "<invoke name=\"DoDrapFiletoPlenthra\" returntype=\"xml\"><arguments><string><x>|"
         "</string></arguments></invoke>"},
        {BuildDownloadFilesCall("C:\\a.max*C:\\b.max*"),
         "<invoke name=\"DownloadFiles\" returntype=\"xml\"><arguments><string>"
         "C:\\a.max*C:\\b.max*</string></arguments></invoke>"},
        {BuildDownloadFilesCall(""),
         "<invoke name=\"DownloadFiles\" returntype=\"xml\"><arguments><string></string>"
         "</arguments></invoke>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.built, c.expected);
    }
}

// Our own replies and pushes must read back as what they carry.
TEST(PushCallTest, RepliesParseBackToTheirValues) {
    ScriptCall call;
    ASSERT_TRUE(
        ParseScriptCall(BuildReturnValueCall("getAllProgress", TextResult("\"1;2;\"")), call));
    EXPECT_EQ(call.name, "SetReturnValue");
    EXPECT_EQ(JoinArguments(call.arguments), "getAllProgress*\"1;2;\"");
    ASSERT_TRUE(ParseScriptCall(kEnableTreeMenuDragDropCall, call));
    ASSERT_EQ(call.arguments.size(), 1u);
    EXPECT_EQ(call.arguments[0].kind, ScriptArgumentKind::kNumber);
}

TEST(ScriptNameEqualsTest, FoldsAsciiLetterCaseOnly) {
    EXPECT_TRUE(ScriptNameEquals("GETTRANSSTATUS", "getTransStatus"));
    EXPECT_FALSE(ScriptNameEquals("Init ", "Init"));
    EXPECT_FALSE(ScriptNameEquals("Init", "Inis"));
    EXPECT_FALSE(ScriptNameEquals("\xC4", "\xE4"));  // no code-page folding
    EXPECT_FALSE(ScriptNameEquals("[", "{"));        // 'Z'+1 is no letter
}

}  // namespace

TEST(ParseScriptIntegerTest, ReadsLikeTheCRuntimeWithoutOverflow) {
    struct Row {
        const char* text;
        int value;
    };
    const Row rows[] = {
        {"12", 12},
        {"  \t7abc", 7},
        {"+5", 5},
        {"-4", -4},
        {"", 0},
        {"abc", 0},
        {" - 3", 0},
        {"0012", 12},
        {"3*4", 3},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ParseScriptInteger(row.text), row.value) << row.text;
    }
}
