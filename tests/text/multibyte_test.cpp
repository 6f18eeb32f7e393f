// Tests of the code-page helpers: lead bytes and the ANSI <-> wide conversions.
#include "text/multibyte.h"

#include <gtest/gtest.h>

namespace {

TEST(MultibyteTest, AsciiRoundTrips) {
    const std::string ascii = "Plenthra store 1.0.25 <a href=\"x\">&amp;</a>\t\r\n";
    const std::wstring wide = AnsiToWide(ascii);
    ASSERT_EQ(wide.size(), ascii.size());
    for (size_t i = 0; i < ascii.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned>(wide[i]), static_cast<unsigned char>(ascii[i]));
    }
    EXPECT_EQ(WideToAnsi(wide), ascii);
    EXPECT_EQ(AnsiToWide(""), L"");
    EXPECT_EQ(WideToAnsi(L""), "");
}

#ifdef _WIN32

// Wine's default ANSI code page is 1252, a single-byte page.
TEST(MultibyteTest, Windows1252Conversions) {
    const struct {
        unsigned char ansi;
        wchar_t wide;
    } cases[] = {{0xE9, L'\u00E9'}, {0x80, L'\u20AC'}, {0xA0, L'\u00A0'}, {0xFF, L'\u00FF'}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.ansi));
        const std::string ansi(1, static_cast<char>(c.ansi));
        EXPECT_EQ(AnsiToWide(ansi), std::wstring(1, c.wide));
        EXPECT_EQ(WideToAnsi(std::wstring(1, c.wide)), ansi);
    }
    EXPECT_EQ(WideToAnsi(L"a\u4E2Db"), "a?b");
    EXPECT_FALSE(HasLeadBytes());
}

#else

std::string AllBytesFrom(unsigned first) {
    std::string text;
    for (unsigned c = first; c <= 255; ++c) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

TEST(MultibyteTest, HighBytesMapToTheSameCodePoints) {
    const std::string high = AllBytesFrom(128);
    const std::wstring wide = AnsiToWide(high);
    ASSERT_EQ(wide.size(), 128u);
    for (size_t i = 0; i < wide.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned>(wide[i]), 128 + i);
    }
    EXPECT_EQ(WideToAnsi(wide), high);
}

TEST(MultibyteTest, CodePointsAbove255BecomeQuestionMarks) {
    EXPECT_EQ(WideToAnsi(L"a\u20ACb\u0100\u00FF"), "a?b?\xFF");
}

TEST(MultibyteTest, EveryByteIsSingle) {
    EXPECT_FALSE(HasLeadBytes());
    for (unsigned c = 0; c <= 255; ++c) {
        EXPECT_FALSE(IsLeadByte(static_cast<unsigned char>(c))) << c;
    }
}

#endif

TEST(MultibyteTest, TestLeadBytesLastOnlyWhileInScope) {
    const unsigned before = LeadByteGeneration();
    {
        ScopedLeadBytesForTesting lead(0x81, 0x9F);
        EXPECT_TRUE(HasLeadBytes());
        EXPECT_TRUE(IsLeadByte(0x81));
        EXPECT_TRUE(IsLeadByte(0x9F));
        EXPECT_FALSE(IsLeadByte(0x80));
        EXPECT_FALSE(IsLeadByte('<'));
        EXPECT_NE(LeadByteGeneration(), before);
    }
    EXPECT_FALSE(IsLeadByte(0x81));
    EXPECT_FALSE(HasLeadBytes());
}

}  // namespace
