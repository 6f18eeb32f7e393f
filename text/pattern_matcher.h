// CPatternMatcher: the store's own backtracking matcher for the texts it takes apart
// (invoke requests, StoreConfig strings, drag-out lists, path arguments).
//
// Its dialect differs from common ones on purpose: braces capture and parentheses only
// group, alternation binds tighter than concatenation (ab|cd is a, b-or-c, d), "!" is a
// one-term negative look-ahead, and "\t" means a tab only inside a class. Matching runs
// on an explicit, growable stack, so neither the text length nor the pattern can
// overflow the C++ stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum PatternCompileError {
    kPatternOk = 0,
    kPatternOutOfMemory = 1,
    kPatternBraceExpected = 2,
    kPatternParenExpected = 3,
    kPatternBracketExpected = 4,
    kPatternBadAbbreviation = 5,
    kPatternEmptyClass = 6,
    kPatternBadBackReference = 7,
    kPatternBadRange = 8,
    kPatternEmptyRepetition = 9,
    kPatternMissing = 10,
};

class CPatternMatcher {
public:
    CPatternMatcher();
    ~CPatternMatcher();
    CPatternMatcher(const CPatternMatcher&) = delete;
    CPatternMatcher& operator=(const CPatternMatcher&) = delete;

    // Returns a PatternCompileError; 0 on success. A null pattern is error 10.
    int Compile(const char* pattern, bool caseSensitive);
    int LastError() const;
    int GroupCount() const;

    // Searches text (up to its first zero byte, or its whole length for a string_view)
    // for the leftmost match starting at or after `from`. Group offsets and MatchEnd()
    // are measured from the start of `text`.
    bool Match(const char* text);
    bool Match(std::string_view text, size_t from = 0);

    size_t MatchStart() const;
    size_t MatchEnd() const;  // where a caller continues scanning

    // Text of group n in the last successful match; empty when the group took no part.
    // `offset` (optional) receives its offset from the start of the scanned text, or -1.
    std::string Group(int n, std::ptrdiff_t* offset = nullptr) const;

    // Patterns whose every choice is decided by the next byte run on a walk without a stack;
    // turning that off (for tests) runs them on the backtracking interpreter instead. Either
    // way the results are the same.
    void AllowOnePass(bool allowed);

    // limit 0 means 65535 pieces.
    static std::vector<std::string> Split(std::string_view text, const char* pattern,
                                          bool caseSensitive, int limit = 0);
    static std::string Replace(std::string_view text, const char* pattern,
                               std::string_view replacement, bool all, bool caseSensitive);

private:
    struct Impl;
    Impl* m_impl;
};
