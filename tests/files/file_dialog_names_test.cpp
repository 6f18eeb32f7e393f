// The file selection dialog's name lists: splitting the common dialog's quoted names,
// filling a caller's fixed buffer (with room for the closing zero) and walking it back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/files/file_dialog_names.h"

namespace {

using Names = std::vector<std::string>;

struct SplitCase {
    const char* text;
    Names expected;
};

TEST(SplitQuotedNames, CutsAtQuoteBlankQuote) {
    const SplitCase cases[] = {
        {"a.txt", {"a.txt"}},
        {"", {""}},
        {"\"a.txt\" \"b.txt\" ", {"a.txt", "b.txt"}},
        {"  \"a.txt\" \"b.txt\"\t\r\n", {"a.txt", "b.txt"}},
        {"\"my file.txt\" \"x y\" ", {"my file.txt", "x y"}},
        // An empty piece in the middle is kept; callers skip it.
        {"\"a\" \"\" \"b\" ", {"a", "", "b"}},
        // A last name that lost its closing quote was cut short and is dropped.
        {"\"a.txt\" \"b.tx", {"a.txt"}},
        {"\"a.txt\" \"", {"a.txt"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitQuotedNames(c.text, kQuotedNameSeparator), c.expected) << c.text;
    }
}

struct FillCase {
    size_t capacity;
    const char* folder;
    Names names;
    char separator;
    bool fits;
    std::string expected;  // the whole buffer when it fits
};

TEST(FillNameBuffer, WritesFolderNamesAndClosingZeroOrNothing) {
    using namespace std::string_literals;
    const FillCase cases[] = {
        // 6 + 2 + 3 bytes of entries and one closing zero.
        {12, "C:\\d\\", {"a", "bc"}, '\0', true, "C:\\d\\\0a\0bc\0\0"s},
        // Exactly the entries, no byte left for the closing zero.
        {11, "C:\\d\\", {"a", "bc"}, '\0', false, ""},
        {12, "C:\\d\\", {"a", "", "bc"}, '\0', true, "C:\\d\\\0a\0bc\0\0"s},
        {12, "C:\\d\\", {"a", "bc"}, ' ', true, "C:\\d\\ a bc \0"s},
        {8, "C:\\d\\", {}, '\0', true, "C:\\d\\\0\0\0"s},
        {6, "C:\\d\\", {}, '\0', false, ""},
        {5, "C:\\d\\", {}, '\0', false, ""},
        {3, "C:\\d\\", {"a"}, '\0', false, ""},
    };
    for (const FillCase& c : cases) {
        std::vector<char> buffer(c.capacity, 'x');
        bool fits = FillNameBuffer(buffer.data(), c.capacity, c.folder, c.names, c.separator);
        EXPECT_EQ(fits, c.fits) << c.capacity;
        std::string written(buffer.begin(), buffer.end());
        EXPECT_EQ(written, c.fits ? c.expected : std::string(c.capacity, '\0')) << c.capacity;
    }
}

TEST(FillNameBuffer, SelectionLimitOfTheTenKilobyteBuffers) {
    const size_t capacity = 10240;
    const std::string folder(99, 'f');  // with its separator 100 bytes
    // 100 names of 100 bytes with their separators: 10100 bytes of entries.
    Names names(100, std::string(99, 'n'));
    std::vector<char> buffer(capacity);
    EXPECT_TRUE(FillNameBuffer(buffer.data(), capacity, folder, names, '\0'));
    // 140 more bytes fill the buffer to its last byte, leaving none for the closing zero.
    names.push_back(std::string(139, 'n'));
    EXPECT_FALSE(FillNameBuffer(buffer.data(), capacity, folder, names, '\0'));
    names.back().pop_back();
    EXPECT_TRUE(FillNameBuffer(buffer.data(), capacity, folder, names, '\0'));
}

Names WalkAll(const std::string& buffer) {
    NameListWalk walk(buffer.data(), buffer.size());
    Names paths;
    for (const char* position = walk.Start(); position != nullptr;) {
        paths.push_back(walk.Next(position));
    }
    return paths;
}

TEST(NameListWalk, JoinsEachNameToTheFolder) {
    using namespace std::string_literals;
    const struct {
        std::string buffer;
        Names expected;
    } cases[] = {
        {"C:\\d\\\0a.txt\0b c.txt\0\0"s, {"C:\\d\\a.txt", "C:\\d\\b c.txt"}},
        {"C:\\d\0a\0\0"s, {"C:\\d\\a"}},
        {"C:/d/\0a\0\0"s, {"C:/d/a"}},
        // A single entry is a whole path.
        {"C:\\d\\e.txt\0\0"s, {"C:\\d\\e.txt"}},
        {"C:\\d\\\0\0"s, {"C:\\d\\"}},
        {"\0\0"s, {}},
        {""s, {}},
        // No zero at the end of the buffer: the walk stops at its end.
        {"C:\\d\0abc"s, {"C:\\d\\abc"}},
        {"C:\\d\\\0a\0bc"s, {"C:\\d\\a", "C:\\d\\bc"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WalkAll(c.buffer), c.expected) << c.buffer;
    }
}

TEST(NameListWalk, ReadsBackWhatFillNameBufferWrote) {
    const Names names = {"one.txt", "two words.txt", "three"};
    std::vector<char> buffer(64);
    ASSERT_TRUE(FillNameBuffer(buffer.data(), buffer.size(), "C:\\up\\", names, '\0'));
    EXPECT_EQ(WalkAll(std::string(buffer.begin(), buffer.end())),
              (Names{"C:\\up\\one.txt", "C:\\up\\two words.txt", "C:\\up\\three"}));
}

}  // namespace
