// Shift-JIS lead bytes for the tests of the double-byte paths. Run normally, a test injects
// them (ScopedLeadBytesForTesting); in the *_cp932 test entries Wine starts the program with
// LC_ALL=ja_JP.UTF-8, its ANSI code page is really 932, and the test uses the code page's own
// lead bytes instead. PX_EXPECT_CODE_PAGE names the code page such a run must have, so a
// run that silently fell back to a single-byte page fails rather than injecting.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "text/multibyte.h"

#ifdef _WIN32
#include <windows.h>
#endif

class ShiftJisLeadBytes {
public:
    ShiftJisLeadBytes() {
        const char* expected = std::getenv("PX_EXPECT_CODE_PAGE");
        if (expected != nullptr) {
#ifdef _WIN32
            EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
#endif
            EXPECT_TRUE(HasLeadBytes() && IsLeadByte(0x95));
            return;
        }
        m_injected.emplace(0x81, 0x9F);
    }

private:
    std::optional<ScopedLeadBytesForTesting> m_injected;
};
