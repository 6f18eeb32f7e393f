// Tests for CPatternMatcher: the dialect's syntax and search order, compile errors, groups,
// Split and Replace, case-insensitive mode, the patterns the store relies on, and texts large
// enough to prove that matching does not use the C++ stack.
#include "text/pattern_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::ptrdiff_t kNoOffset = -1;
constexpr size_t kNoMatch = static_cast<size_t>(-1);

struct SearchCase {
    const char* pattern;
    std::string text;
    size_t start;  // kNoMatch when the pattern must not match
    size_t end;
};

std::string Describe(const char* pattern, const std::string& text) {
    return std::string("pattern '") + pattern + "' on '" + text + "'";
}

void ExpectSearch(const SearchCase& c, bool caseSensitive) {
    SCOPED_TRACE(Describe(c.pattern, c.text));
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Compile(c.pattern, caseSensitive), kPatternOk);
    const bool matched = matcher.Match(std::string_view(c.text));
    ASSERT_EQ(matched, c.start != kNoMatch);
    if (matched) {
        EXPECT_EQ(matcher.MatchStart(), c.start);
        EXPECT_EQ(matcher.MatchEnd(), c.end);
    }
}

TEST(PatternMatcherSyntax, SearchFindsLeftmostStartAndFirstPath) {
    const SearchCase cases[] = {
        // Alternation binds tighter than concatenation: a, then b or c, then d.
        {"ab|cd", "abd", 0, 3},
        {"ab|cd", "acd", 0, 3},
        {"ab|cd", "ab", kNoMatch, 0},
        {"ab|cd", "cd", kNoMatch, 0},
        {"(ab)|(cd)", "xcd", 1, 3},
        {"a|b|c", "xxc", 2, 3},
        {"(a|ab)c", "abc", 0, 3},
        // Leftmost wins over longer; the first complete path wins over the longest.
        {"x*", "yx", 0, 0},
        {"\\n", "a\r\nb", 1, 2},
        {"a*?b", "aab", 0, 3},
        {"a+?", "aaa", 0, 1},
        {"a+", "baaa", 1, 4},
        {"a??", "a", 0, 0},
        {"a?", "a", 0, 1},
        {".*b", "abab", 0, 4},
        {".*?b", "abab", 0, 2},
        {"(ab)+", "xababa", 1, 5},
        {"(ab)+?", "xababa", 1, 3},
        {"(ab)*?c", "ababc", 0, 5},
        {"(a|b)*c", "abbac", 0, 5},
        {"(a|b)*.c", "abbac", 0, 5},
        {"()", "x", 0, 0},
        {"", "abc", 0, 0},
        // "." and classes never match the end of the text.
        {"a.c", "abc", 0, 3},
        {"a.", "a", kNoMatch, 0},
        {"[^a]", "a", kNoMatch, 0},
        {"[a-c]+", "xxbcaz", 2, 5},
        {"[^a-c]", "abcd", 3, 4},
        {"[-a]+", "x-a-", 1, 4},
        {"[a-z-]+", "A-b-C", 1, 4},
        {"[\\]]", "a]", 1, 2},
        // Runs of "all but one byte" end at that byte; both directions must still backtrack.
        {"[^,]*,b", "a,c,b", 2, 5},
        {"[^,]*?,b", "a,c,b", 2, 5},
        {"[^,]*?$", "ab,cd", 3, 5},
        {"[^,]+x", "abx", 0, 3},
        {"[\\-]", "a-", 1, 2},
        // Inside a class "\t" is a tab; outside it is the letter t.
        {"[ \\t]", "\t", 0, 1},
        {"[ \\t]", "t", kNoMatch, 0},
        {"\\t", "at", 1, 2},
        {"\\t", "\t", kNoMatch, 0},
        // Bytes from 128 up are plain members of the byte set.
        {"[^<]", "<\x80", 1, 2},
        {"[\x80-\xff]+",
         "a\xff\x80"
         "b",
         1, 3},
        {"\xe4", "a\xe4", 1, 2},
        {".", "\xff", 0, 1},
        // Escapes and characters that are special only in some places.
        {"\\.", "a.b", 1, 2},
        {"\\x", "axb", 1, 2},
        {"\\*", "a*", 1, 2},
        {"*a", "b*a", 1, 3},
        {"a**", "aa*", 0, 3},
        {"a|*", "x*", 1, 2},
        {"a^", "a^", 0, 2},
        {"$a", "x$a", 1, 3},
        {"\\$", "a$", 1, 2},
        {"a\\", "a\\", 0, 2},
        // Anchors: "^" only first, "$" only last; the end of a non-empty text is never a start.
        {"^a", "ab", 0, 1},
        {"^b", "ab", kNoMatch, 0},
        {"a$", "ba", 1, 2},
        {"a$", "ab", kNoMatch, 0},
        {"$", "ab", kNoMatch, 0},
        {"$", "", 0, 0},
        {"b*$", "ab", 1, 2},
        {"x*", "", 0, 0},
        // "!" is a one-term negative look-ahead that consumes nothing.
        {"!ab", "ab", 1, 2},
        {"!(ab).", "abac", 1, 2},
        {"!x", "", 0, 0},
        {"!!a.", "ba", 1, 2},
        {"!!ab", "ab", kNoMatch, 0},
        {"a!b", "abac", 2, 3},
        // Back-references match the captured text exactly.
        {"{a+}b\\0", "aabaa", 0, 5},
        {"{a+}b\\0", "aaba", 1, 4},
        {"{.}\\0", "abccd", 2, 4},
        {"{a}|{b}\\0", "bb", kNoMatch, 0},
        {"{x?}y\\0", "y", 0, 1},
        // Abbreviations, each read as one term that takes the following quantifier.
        {"\\a+", "--aZ9-", 2, 5},
        {"\\b+", "x \t y", 1, 4},
        {"\\c+", "12abC3", 2, 5},
        {"\\d+", "ab123c", 2, 5},
        {"\\h+", "xyz0aF9g", 3, 7},
        {"x\\n", "x\n", 0, 2},
        {"x\\ny", "x\r\ny", 0, 4},
        {"\\q", "say \"hi\" now", 4, 8},
        {"\\q", "x 'ok' y", 2, 6},
        {"\\w", "12 abc!", 3, 6},
        {"\\z", "ab 123", 3, 6},
        {"\\d*x", "12x", 0, 3},
    };
    for (const SearchCase& c : cases) {
        ExpectSearch(c, true);
    }
}

TEST(PatternMatcherSyntax, CaseInsensitiveModeFoldsAsciiLetters) {
    const SearchCase cases[] = {
        {"hello", "Say HELLO", 4, 9}, {"HeLLo", "say hello", 4, 9},
        {"[A-C]+", "xxAbCd", 2, 5},   {"[^a]", "Ab", 1, 2},
        {"{a}\\0", "xaA", 1, 3},      {"\xc4", "\xe4", kNoMatch, 0},  // only ASCII letters fold
    };
    for (const SearchCase& c : cases) {
        ExpectSearch(c, false);
    }
    const SearchCase sensitive[] = {
        {"hello", "Say HELLO", kNoMatch, 0},
        {"{a}\\0", "xaA", kNoMatch, 0},
    };
    for (const SearchCase& c : sensitive) {
        ExpectSearch(c, true);
    }
}

struct ErrorCase {
    const char* pattern;
    bool caseSensitive;
    int error;
};

TEST(PatternMatcherCompile, ReportsEachErrorCode) {
    const ErrorCase cases[] = {
        {"{a", true, kPatternBraceExpected},
        {"a}", true, kPatternBraceExpected},
        {"{a)", true, kPatternBraceExpected},
        {"{a|}", true, kPatternBraceExpected},
        {"(a", true, kPatternParenExpected},
        {"a)", true, kPatternParenExpected},
        {"(a}", true, kPatternParenExpected},
        {"(a|)", true, kPatternParenExpected},
        {"[a", true, kPatternBracketExpected},
        {"[a-", true, kPatternBracketExpected},
        {"[a-]", true, kPatternBracketExpected},
        {"[\\", true, kPatternBracketExpected},
        {"a]", true, kPatternBracketExpected},
        {"[]", true, kPatternEmptyClass},
        {"[^]", true, kPatternEmptyClass},
        {"\\0", true, kPatternBadBackReference},
        {"{a}\\1", true, kPatternBadBackReference},
        {"\\99999999999", true, kPatternBadBackReference},
        {"[b-a]", true, kPatternBadRange},
        {"[a-]]", true, kPatternBracketExpected},
        {"[a-\\]", true, kPatternBadRange},  // no escape after "-": the range ends at "\\"
        {"[Z-a]", false, kPatternBadRange},  // the pattern is lowered first: [z-a]
        {"(x?)*", true, kPatternEmptyRepetition},
        {"(x?)+", true, kPatternEmptyRepetition},
        {"(x*)*?", true, kPatternEmptyRepetition},
        {"(a*b*)+?", true, kPatternEmptyRepetition},
        {"()*", true, kPatternEmptyRepetition},
        {"!a*", true, kPatternEmptyRepetition},
        {"{a?}\\0*", true, kPatternEmptyRepetition},
        {"a|", true, kPatternMissing},
        {"!", true, kPatternMissing},
        // Accepted: "?" may apply to what can be empty; the rest are valid edge forms.
        {"(x?)?", true, kPatternOk},
        {"(x?)??", true, kPatternOk},
        {"{a}\\0*", true, kPatternOk},
        {"{a\\0}", true, kPatternOk},
        {"[Z-a]", true, kPatternOk},
        {"[!-\\]", true, kPatternOk},
        {"()", true, kPatternOk},
        {"{}", true, kPatternOk},
        {"^", true, kPatternOk},
        {"", true, kPatternOk},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.pattern);
        CPatternMatcher matcher;
        EXPECT_EQ(matcher.Compile(c.pattern, c.caseSensitive), c.error);
        EXPECT_EQ(matcher.LastError(), c.error);
    }
}

TEST(PatternMatcherCompile, FailedCompileLeavesNothingToMatch) {
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Compile("{a}", true), kPatternOk);
    ASSERT_TRUE(matcher.Match("a"));
    EXPECT_EQ(matcher.Compile(nullptr, true), kPatternMissing);
    EXPECT_EQ(matcher.GroupCount(), 0);
    EXPECT_FALSE(matcher.Match("a"));
    EXPECT_EQ(matcher.Compile("{a", true), kPatternBraceExpected);
    EXPECT_FALSE(matcher.Match("a"));
    EXPECT_EQ(matcher.Group(0), "");
}

TEST(PatternMatcherCompile, DeepNestingIsRefusedNotACrash) {
    const size_t depth = 100000;
    const std::string parens = std::string(depth, '(') + "a" + std::string(depth, ')');
    const std::string braces = std::string(depth, '{') + "a" + std::string(depth, '}');
    const std::string negations = std::string(depth, '!') + "a";
    for (const std::string& pattern : {parens, braces, negations}) {
        CPatternMatcher matcher;
        EXPECT_EQ(matcher.Compile(pattern.c_str(), true), kPatternOutOfMemory);
    }
    // Moderate nesting and long flat patterns are fine.
    CPatternMatcher matcher;
    const std::string nested = std::string(100, '(') + "a" + std::string(100, ')');
    EXPECT_EQ(matcher.Compile(nested.c_str(), true), kPatternOk);
    EXPECT_TRUE(matcher.Match("xa"));
    std::string chain;
    for (int i = 0; i < 20000; ++i) {
        chain += "a|";
    }
    chain += "b";
    ASSERT_EQ(matcher.Compile(chain.c_str(), true), kPatternOk);
    ASSERT_TRUE(matcher.Match("xxb"));
    EXPECT_EQ(matcher.MatchStart(), 2u);
}

struct GroupValue {
    const char* text;
    std::ptrdiff_t offset;
};

struct GroupCase {
    const char* pattern;
    const char* text;
    bool caseSensitive;
    std::vector<GroupValue> groups;
};

TEST(PatternMatcherGroups, ReportTheSuccessfulPath) {
    const GroupCase cases[] = {
        {"{a{b}c}", "xabc", true, {{"abc", 1}, {"b", 2}}},
        {"{a}|{b}", "b", true, {{"", kNoOffset}, {"b", 0}}},
        {"{a*}b", "b", true, {{"", 0}}},
        // A group inside a repetition reports its last repetition.
        {"({.})+", "abc", true, {{"c", 2}}},
        {"({a}|b)+", "ab", true, {{"a", 0}}},
        // Spans set on an abandoned path are undone.
        {"({a}x)|({a}y)", "ay", true, {{"", kNoOffset}, {"a", 0}}},
        {"{(a|ab)}{c?}d", "abd", true, {{"ab", 0}, {"", 2}}},
        {"{.*}{b}", "abab", true, {{"aba", 0}, {"b", 3}}},
        {"!{a}{.}", "ba", true, {{"", kNoOffset}, {"b", 0}}},
        // Case-insensitive matches report the caller's own bytes.
        {"say {hello}", "SAY HeLLo", false, {{"HeLLo", 4}}},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(Describe(c.pattern, c.text));
        CPatternMatcher matcher;
        ASSERT_EQ(matcher.Compile(c.pattern, c.caseSensitive), kPatternOk);
        ASSERT_EQ(matcher.GroupCount(), static_cast<int>(c.groups.size()));
        ASSERT_TRUE(matcher.Match(c.text));
        for (size_t i = 0; i < c.groups.size(); ++i) {
            std::ptrdiff_t offset = 0;
            EXPECT_EQ(matcher.Group(static_cast<int>(i), &offset), c.groups[i].text) << i;
            EXPECT_EQ(offset, c.groups[i].offset) << i;
        }
    }
}

TEST(PatternMatcherGroups, OutOfRangeAndFailedMatchYieldNothing) {
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Compile("{a}", true), kPatternOk);
    std::ptrdiff_t offset = 0;
    ASSERT_TRUE(matcher.Match("a"));
    EXPECT_EQ(matcher.Group(1, &offset), "");
    EXPECT_EQ(offset, kNoOffset);
    EXPECT_EQ(matcher.Group(-1, &offset), "");
    EXPECT_FALSE(matcher.Match("b"));
    EXPECT_EQ(matcher.Group(0, &offset), "");
    EXPECT_EQ(offset, kNoOffset);
    EXPECT_FALSE(matcher.Match(static_cast<const char*>(nullptr)));
}

TEST(PatternMatcherGroups, OutliveTheScannedText) {
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Compile("={\\w}", true), kPatternOk);
    {
        std::string text = "key=value";
        ASSERT_TRUE(matcher.Match(text.c_str()));
        text.assign(text.size(), 'x');
    }
    EXPECT_EQ(matcher.Group(0), "value");
}

TEST(PatternMatcherScan, ContinuesFromAnOffsetMeasuredFromTheTextStart) {
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Compile("{\\d+}", true), kPatternOk);
    const std::string text = "a1b22c";
    ASSERT_TRUE(matcher.Match(text, 0));
    ASSERT_TRUE(matcher.Match(text, matcher.MatchEnd()));
    std::ptrdiff_t offset = 0;
    EXPECT_EQ(matcher.Group(0, &offset), "22");
    EXPECT_EQ(offset, 3);
    EXPECT_EQ(matcher.MatchStart(), 3u);
    EXPECT_EQ(matcher.MatchEnd(), 5u);
    EXPECT_FALSE(matcher.Match(text, matcher.MatchEnd()));
    EXPECT_FALSE(matcher.Match(text, text.size() + 1));

    // "^" anchors where the scan starts; an empty rest still gets its one attempt.
    ASSERT_EQ(matcher.Compile("^b", true), kPatternOk);
    EXPECT_TRUE(matcher.Match("ab", 1));
    ASSERT_EQ(matcher.Compile("$", true), kPatternOk);
    EXPECT_TRUE(matcher.Match("ab", 2));
    EXPECT_EQ(matcher.MatchStart(), 2u);
}

// ---- the patterns the store compiles ------------------------------------------------------

const char kArguments[] = "<arguments>";
const char kFunctionName[] = "<invoke[ \\t]+name=\"{[^\"]+}";
const char kArgument[] = "(<{(string)|(number)}>){[^<]*?}(</(string)|(number)>)";
const char kBackslashRun[] = "[ \f\n\r\t\v]*[\\\\]+[ \f\n\r\t\v]*";
const char kKeyValue[] = "{[^=]+?}={[^\\|]*?}\\|";
const char kDragRecord[] = "{\\d+}\\*{[^\\*]+?}\\*{\\d+}\\|";

// Every match of pattern over text, scanning on from each match's end, as groups.
std::vector<std::vector<std::string>> ScanAll(const char* pattern, const std::string& text) {
    CPatternMatcher matcher;
    EXPECT_EQ(matcher.Compile(pattern, true), kPatternOk);
    std::vector<std::vector<std::string>> found;
    size_t pos = 0;
    while (matcher.Match(text, pos)) {
        std::vector<std::string> groups;
        for (int i = 0; i < matcher.GroupCount(); ++i) {
            groups.push_back(matcher.Group(i));
        }
        found.push_back(groups);
        pos = matcher.MatchEnd();
    }
    return found;
}

using Rows = std::vector<std::vector<std::string>>;

TEST(PatternMatcherStored, TakesAnInvokeRequestApart) {
    const std::string request =
        "<invoke name=\"SaveFile\" returntype=\"xml\"><arguments><string>C:\\a b\\c.max</string>"
        "<number>42</number><string></string><string>\xe9t\xe9</string></arguments></invoke>";
    const std::vector<std::string> parts = CPatternMatcher::Split(request, kArguments, true);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], "<invoke name=\"SaveFile\" returntype=\"xml\">");

    CPatternMatcher name;
    ASSERT_EQ(name.Compile(kFunctionName, true), kPatternOk);
    ASSERT_TRUE(name.Match(parts[0].c_str()));
    EXPECT_EQ(name.Group(0), "SaveFile");
    ASSERT_TRUE(name.Match("<invoke \t name=\"Init\">"));
    EXPECT_EQ(name.Group(0), "Init");
    EXPECT_FALSE(name.Match("<invokename=\"Init\">"));

    EXPECT_EQ(ScanAll(kArgument, parts[1]), (Rows{{"string", "C:\\a b\\c.max"},
                                                  {"number", "42"},
                                                  {"string", ""},
                                                  {"string", "\xe9t\xe9"}}));
}

TEST(PatternMatcherStored, ScansKeyValuePairsEndedByABar) {
    EXPECT_EQ(ScanAll(kKeyValue, "a=1|b=2|"), (Rows{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(ScanAll(kKeyValue, "a=1|b=2"), (Rows{{"a", "1"}}));
    EXPECT_EQ(ScanAll(kKeyValue, "Path=C:\\x y|Mode=|Lang=en|"),
              (Rows{{"Path", "C:\\x y"}, {"Mode", ""}, {"Lang", "en"}}));
}

TEST(PatternMatcherStored, ScansDragOutRecords) {
    EXPECT_EQ(ScanAll(kDragRecord, "0*C:\\a.max*1024|12*D:\\b c\\d.png*7|3*bad|"),
              (Rows{{"0", "C:\\a.max", "1024"}, {"12", "D:\\b c\\d.png", "7"}}));
}

struct ReplaceCase {
    const char* text;
    const char* pattern;
    const char* replacement;
    bool all;
    bool caseSensitive;
    const char* expected;
};

TEST(PatternMatcherReplace, FollowsTheScanRules) {
    const ReplaceCase cases[] = {
        {"C:\\\\Program Files \\\\ max\\", kBackslashRun, "\\", true, true,
         "C:\\Program Files\\max\\"},
        {"a\t\\\r\n b  c", kBackslashRun, "\\", true, true, "a\\b  c"},
        {"a.b.c", "\\.", "-", true, true, "a-b-c"},
        {"a.b.c", "\\.", "-", false, true, "a-b.c"},
        {"a.b.c", "\\.", "", true, true, "abc"},
        {"abc", "x", "-", true, true, "abc"},
        {"", "x", "-", true, true, ""},
        {"Foo fOO", "foo", "x", true, false, "x x"},
        {"Foo fOO", "foo", "x", true, true, "Foo fOO"},
        {"abc", "[", "-", true, true, "abc"},  // a pattern that does not compile
        // A pattern that matches empty text replaces once instead of looping.
        {"yx", "x*", "-", true, true, "-yx"},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(Describe(c.pattern, c.text));
        EXPECT_EQ(
            CPatternMatcher::Replace(c.text, c.pattern, c.replacement, c.all, c.caseSensitive),
            c.expected);
    }
}

struct SplitCase {
    const char* text;
    const char* pattern;
    bool caseSensitive;
    int limit;
    std::vector<std::string> expected;
};

TEST(PatternMatcherSplit, FollowsTheScanRules) {
    const SplitCase cases[] = {
        {"a,b,,c", ",", true, 0, {"a", "b", "", "c"}},
        {",a", ",", true, 0, {"", "a"}},
        {"a,", ",", true, 0, {"a"}},
        {"abc", ",", true, 0, {"abc"}},
        {"", ",", true, 0, {}},
        {"a,,b", ",+", true, 0, {"a", "b"}},
        // The loop stops after the limit's piece; the rest still follows as the last piece.
        {"a,b,c,d", ",", true, 2, {"a", "b", "c,d"}},
        {"a,b", ",", true, 1, {"a", "b"}},
        {"aXbxc", "x", false, 0, {"a", "b", "c"}},
        {"aXbxc", "x", true, 0, {"aXb", "c"}},
        {"abc", "[", true, 0, {"abc"}},
        {"yx", "x*", true, 0, {"", "yx"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(Describe(c.pattern, c.text));
        EXPECT_EQ(CPatternMatcher::Split(c.text, c.pattern, c.caseSensitive, c.limit), c.expected);
    }
    // Without a limit a text yields at most 65535 pieces from the loop, plus its rest.
    const std::string commas(70000, ',');
    const std::vector<std::string> pieces = CPatternMatcher::Split(commas + "z", ",", true);
    ASSERT_EQ(pieces.size(), 65536u);
    EXPECT_EQ(pieces.back(), std::string(70000 - 65535, ',') + "z");
}

// ---- shortcuts against the plain interpreter -------------------------------------------------

// What one search reports: whether it matched, where, and every group with its offset.
struct Outcome {
    bool matched = false;
    size_t start = 0;
    size_t end = 0;
    std::vector<std::pair<std::string, std::ptrdiff_t>> groups;

    bool operator==(const Outcome& other) const {
        return matched == other.matched && start == other.start && end == other.end &&
               groups == other.groups;
    }
};

Outcome Record(CPatternMatcher& matcher, bool matched) {
    Outcome outcome;
    outcome.matched = matched;
    if (matched) {
        outcome.start = matcher.MatchStart();
        outcome.end = matcher.MatchEnd();
        for (int i = 0; i < matcher.GroupCount(); ++i) {
            std::ptrdiff_t offset = 0;
            std::string text = matcher.Group(i, &offset);
            outcome.groups.emplace_back(std::move(text), offset);
        }
    }
    return outcome;
}

// The leftmost match from `from` the slow way: the pattern anchored at each start in turn, on
// the backtracking interpreter, so neither start filters nor the one-pass walk take part. A
// pattern anchored by its author has just the one start.
Outcome ReferenceSearch(CPatternMatcher& anchored, const std::string& text, size_t from,
                        bool onlyFrom) {
    const size_t last = from == text.size() || onlyFrom ? from : text.size() - 1;
    for (size_t start = from; start <= last; ++start) {
        if (anchored.Match(text, start)) {
            return Record(anchored, true);
        }
    }
    return Outcome();
}

TEST(PatternMatcherShortcuts, AgreeWithThePlainInterpreterOnEveryStart) {
    // One-pass patterns (choices decided by the next byte, repeats by their run), patterns
    // that need backtracking, and ones with look-aheads or back-references.
    const char* const patterns[] = {
        kArguments,    kFunctionName, kArgument,
        kBackslashRun, kKeyValue,     kDragRecord,
        "{a|b}c",      "x{\\d+}y",    "{[a-c]*}{[d-f]+}",
        "(ab)*c",      "{a}?b",       "{[^,]*},",
        "{\\w}={\\z}", "a$",          "{x}{y}{z}",
        "{{a}}b",      "{a}{b}",      "{(a)|(b)}+c",
        "{ab|cd}",     "\\q",         "a[ \\t]+b",
        "{[^\"]+?}\"", "({a}|{b})*e", "{a*}{a*}b",
        "{a*?}b",      "{.*}c",       "{[^c]*}c?",
        "a!bc",        "{a}\\0",      "^{b+}",
        "{ab}+",       "{a+}{b}*",    "{x*}$",
        "({a|b}c)+d",  "{\\n}",       "<{[^>]*}>",
    };
    const std::string texts[] = {
        "",
        "abc",
        "aabbccdef",
        "x12y x3y xy",
        "a=1|b=22|=|",
        "key=value",
        "  \\\\ a \\ b\t\\",
        "abcdabcde",
        "<string>x</string><number>1</number><string></string>",
        "\"q\" 'r' \"",
        "AbCaBcE",
        "1*C:\\a.max*12|2**3|",
        "xyz xy xyzz",
        "a\r\nb\nc\r",
        "bbbaaab",
        "<invoke \t name=\"N\"><arguments>",
        // Longer than the sixteen bytes a start-set scan tests at once, with starts in its tail.
        "C:\\\\Users\\\\artist \\ Models\\\\\\part1 \t\\x 12=3|4*5*6| \\",
    };
    for (const char* pattern : patterns) {
        const std::string anchoredPattern =
            pattern[0] == '^' ? std::string(pattern) : std::string("^") + pattern;
        for (const bool caseSensitive : {true, false}) {
            CPatternMatcher fast;
            CPatternMatcher plain;
            CPatternMatcher anchored;
            ASSERT_EQ(fast.Compile(pattern, caseSensitive), kPatternOk) << pattern;
            ASSERT_EQ(plain.Compile(pattern, caseSensitive), kPatternOk) << pattern;
            ASSERT_EQ(anchored.Compile(anchoredPattern.c_str(), caseSensitive), kPatternOk);
            plain.AllowOnePass(false);
            anchored.AllowOnePass(false);
            for (const std::string& text : texts) {
                for (size_t from = 0; from <= text.size(); ++from) {
                    SCOPED_TRACE(Describe(pattern, text) + " from " + std::to_string(from) +
                                 (caseSensitive ? "" : " ignoring case"));
                    const Outcome expected =
                        ReferenceSearch(anchored, text, from, pattern[0] == '^');
                    EXPECT_TRUE(Record(fast, fast.Match(text, from)) == expected);
                    EXPECT_TRUE(Record(plain, plain.Match(text, from)) == expected);
                }
            }
        }
    }
}

// ---- large texts ---------------------------------------------------------------------------

class PatternMatcherLargeText : public ::testing::Test {
protected:
    void SetUp() override {
        m_text.reserve(kSize + 1);
        for (size_t i = 0; i < kSize; ++i) {
            m_text.push_back((i * 7 + i / 3) % 5 < 2 ? 'a' : 'b');
        }
        m_text.push_back('c');
    }

    static constexpr size_t kSize = 1 << 20;
    std::string m_text;
};

TEST_F(PatternMatcherLargeText, RepetitionsOverAMebibyteKeepOffTheCallStack) {
    struct Case {
        const char* pattern;
        size_t start;
        size_t end;
        size_t groupLength;  // of group 0, when the pattern has one
    };
    const Case cases[] = {
        {"(a|b)*c", 0, kSize + 1, 0},
        {"(a|b)*.c", 0, kSize + 1, 0},  // every repetition leaves a choice point behind
        {"{({a|b})*?}c", 0, kSize + 1, kSize},
        {"({a|b})*c", 0, kSize + 1, 1},
        {"{.*}", 0, kSize + 1, kSize + 1},
        {"{[ab]+?}c", 0, kSize + 1, kSize},
        {"(a|b)+(a|b)c", 0, kSize + 1, 0},
    };
    CPatternMatcher matcher;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        ASSERT_EQ(matcher.Compile(c.pattern, true), kPatternOk);
        ASSERT_TRUE(matcher.Match(m_text));
        EXPECT_EQ(matcher.MatchStart(), c.start);
        EXPECT_EQ(matcher.MatchEnd(), c.end);
        if (matcher.GroupCount() > 0) {
            EXPECT_EQ(matcher.Group(0).size(), c.groupLength);
        }
    }
    ASSERT_EQ(matcher.Compile("(A|B)*C", false), kPatternOk);
    EXPECT_TRUE(matcher.Match(m_text));
    EXPECT_EQ(matcher.MatchEnd(), kSize + 1);
}

}  // namespace
