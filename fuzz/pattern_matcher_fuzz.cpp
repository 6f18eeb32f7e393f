// libFuzzer target for CPatternMatcher. The input is a pattern, a zero byte, then a text.
// A pattern whose first byte is a digit 0-5 instead picks one of the store's own patterns and
// the rest of the input is a long text for it; any other pattern is fuzzed on a short text,
// because a backtracking matcher may take exponential time on hostile patterns by design.
// Besides memory safety it checks that reported spans lie inside the text, that Split and
// Replace agree with each other, and that a scan finds the same matches and groups whether a
// pattern that qualifies runs on the one-pass walk or on the backtracking interpreter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/pattern_matcher.h"

namespace {

constexpr size_t kMaxPattern = 96;
constexpr size_t kMaxShortText = 12;
constexpr size_t kMaxLongText = 8192;

const char* const kStoredPatterns[] = {
    "<arguments>",
    "<invoke[ \\t]+name=\"{[^\"]+}",
    "(<{(string)|(number)}>){[^<]*?}(</(string)|(number)>)",
    "[ \f\n\r\t\v]*[\\\\]+[ \f\n\r\t\v]*",
    "{[^=]+?}={[^\\|]*?}\\|",
    "{\\d+}\\*{[^\\*]+?}\\*{\\d+}\\|",
};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Exercise(const std::string& pattern, std::string_view text, bool caseSensitive) {
    CPatternMatcher matcher;
    const int error = matcher.Compile(pattern.c_str(), caseSensitive);
    Check(error >= kPatternOk && error <= kPatternMissing);
    Check(matcher.LastError() == error);
    if (error != kPatternOk) {
        Check(!matcher.Match(text));
        return;
    }
    if (matcher.Match(text)) {
        const size_t start = matcher.MatchStart();
        const size_t end = matcher.MatchEnd();
        Check(start <= end && end <= text.size());
        for (int i = 0; i < matcher.GroupCount(); ++i) {
            std::ptrdiff_t offset = 0;
            const std::string group = matcher.Group(i, &offset);
            if (offset < 0) {
                Check(group.empty());
                continue;
            }
            const size_t at = static_cast<size_t>(offset);
            Check(at >= start && at + group.size() <= end);
            if (caseSensitive) {
                Check(text.substr(at, group.size()) == group);
            }
        }
        // The leftmost match found from its own start is the same match.
        Check(matcher.Match(text, start));
        Check(matcher.MatchStart() == start && matcher.MatchEnd() == end);
    }
    // The same scan on the backtracking interpreter alone reports the same matches.
    CPatternMatcher plain;
    Check(plain.Compile(pattern.c_str(), caseSensitive) == kPatternOk);
    plain.AllowOnePass(false);
    size_t from = 0;
    for (;;) {
        const bool found = matcher.Match(text, from);
        Check(plain.Match(text, from) == found);
        if (!found) {
            break;
        }
        Check(plain.MatchStart() == matcher.MatchStart() && plain.MatchEnd() == matcher.MatchEnd());
        for (int i = 0; i < matcher.GroupCount(); ++i) {
            std::ptrdiff_t offset = 0;
            std::ptrdiff_t plainOffset = 0;
            Check(matcher.Group(i, &offset) == plain.Group(i, &plainOffset));
            Check(offset == plainOffset);
        }
        if (matcher.MatchEnd() == matcher.MatchStart() || matcher.MatchEnd() >= text.size()) {
            break;
        }
        from = matcher.MatchEnd();
    }
    // Split and Replace stop on a match of empty text, so any pattern is safe here.
    const std::vector<std::string> pieces =
        CPatternMatcher::Split(text, pattern.c_str(), caseSensitive);
    std::string joined;
    for (const std::string& piece : pieces) {
        joined += piece;
    }
    const std::string removed =
        CPatternMatcher::Replace(text, pattern.c_str(), "", true, caseSensitive);
    Check(joined.size() <= text.size());
    if (pieces.size() < 65535) {
        Check(joined == removed);
    }
    const std::string once =
        CPatternMatcher::Replace(text, pattern.c_str(), "#", false, caseSensitive);
    Check(once.size() <= text.size() + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(data, 0, size);
    const size_t patternLength =
        zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    if (patternLength > kMaxPattern) {
        return 0;
    }
    std::string pattern(bytes, patternLength);
    std::string_view text;
    if (patternLength < size) {
        text = std::string_view(bytes + patternLength + 1, size - patternLength - 1);
    }
    if (pattern.size() == 1 && pattern[0] >= '0' && pattern[0] <= '5') {
        pattern = kStoredPatterns[pattern[0] - '0'];
        if (text.size() > kMaxLongText) {
            return 0;
        }
    } else if (text.size() > kMaxShortText) {
        return 0;
    }
    Exercise(pattern, text, true);
    Exercise(pattern, text, false);
    return 0;
}
