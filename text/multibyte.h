// Code-page helpers: the store works on narrow strings in the process's ANSI code page and
// meets wide strings only at the Flash control. Natively (tests, fuzzing, benchmarks) the
// code page is taken as Latin-1: every byte is a character of its own.
#pragma once

#include <string>
#include <string_view>

// True when `c` starts a two-byte character in the ANSI code page. The answer is cached:
// the code page of a process does not change while it runs.
bool IsLeadByte(unsigned char c);

// True when the ANSI code page has any lead byte at all, so scanners can skip the check.
bool HasLeadBytes();

// Changes whenever the lead-byte set changes (only ScopedLeadBytesForTesting does that), so
// scanners that cache character classes know when to rebuild them.
unsigned LeadByteGeneration();

// Lets tests run the double-byte paths on any machine: while it lives, the bytes
// first..last are lead bytes instead of the code page's. Not for use outside tests.
class ScopedLeadBytesForTesting {
public:
    ScopedLeadBytesForTesting(unsigned char first, unsigned char last);
    ~ScopedLeadBytesForTesting();
    ScopedLeadBytesForTesting(const ScopedLeadBytesForTesting&) = delete;
    ScopedLeadBytesForTesting& operator=(const ScopedLeadBytesForTesting&) = delete;
};

// Conversions at the Flash control boundary. Characters the target cannot hold become '?'.
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
