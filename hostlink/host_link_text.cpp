// Titles, payloads and the identity and build texts of the host link. The scanners are
// hand-written because a received text is hostile input: sscanf's "%s" into a fixed
// buffer overflows on a long word, and the text must never end up as a format.
#include "hostlink/host_link_text.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A cursor over the text with the two conversions the link's texts use.
class TextScanner {
public:
    explicit TextScanner(const char* text) : m_pos(text) {}

    // Like "%s": blanks skipped, then everything up to the next blank; fails when empty.
    bool Word(std::string_view* word) {
        SkipBlanks();
        const char* start = m_pos;
        while (*m_pos != '\0' && !IsBlank(*m_pos)) {
            ++m_pos;
        }
        *word = std::string_view(start, static_cast<std::size_t>(m_pos - start));
        return !word->empty();
    }

    // Like "%d": blanks skipped, an optional sign, at least one digit; the value must fit.
    bool Number(int* value) {
        SkipBlanks();
        bool negative = false;
        if (*m_pos == '+' || *m_pos == '-') {
            negative = *m_pos == '-';
            ++m_pos;
        }
        if (*m_pos < '0' || *m_pos > '9') {
            return false;
        }
        long long magnitude = 0;
        const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
        while (*m_pos >= '0' && *m_pos <= '9') {
            magnitude = magnitude * 10 + (*m_pos - '0');
            if (magnitude > limit) {
                return false;
            }
            ++m_pos;
        }
        *value = static_cast<int>(negative ? -magnitude : magnitude);
        return true;
    }

    bool Keyword(const char* expected) {
        std::string_view word;
        return Word(&word) && word == expected;
    }

private:
    void SkipBlanks() {
        while (IsBlank(*m_pos)) {
            ++m_pos;
        }
    }

    const char* m_pos;
};

}  // namespace

std::string StoreWindowTitle() {
    char title[128];
    std::snprintf(title, sizeof(title), PX_STORE_TITLE_FORMAT, kStoreGuidText);
    return title;
}

std::string HostWindowTitle(int hostId) {
    char title[128];
    std::snprintf(title, sizeof(title), PX_HOST_TITLE_FORMAT, hostId);
    return title;
}

std::size_t FillPayload(const char* text, LinkPayload* out) {
    std::memset(out->bytes, 0, sizeof(out->bytes));
    if (text == nullptr) {
        return 0;
    }
    std::size_t length = 0;
    while (length < kLinkTextMax && text[length] != '\0') {
        ++length;
    }
    std::memcpy(out->bytes, text, length);
    return length;
}

std::string ReadPayload(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) {
        return std::string();
    }
    const std::size_t readable = size < kLinkTextMax ? size : kLinkTextMax;
    const char* bytes = static_cast<const char*>(data);
    const void* zero = std::memchr(bytes, '\0', readable);
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes)
                        : readable;
    return std::string(bytes, length);
}

std::string FormatHostIdentity(int hostId, int hostPid) {
    char text[64];
    std::snprintf(text, sizeof(text), PX_HOST_IDENTITY_FORMAT, hostId, hostPid);
    return text;
}

std::string FormatPluginBuild(const PluginBuild& build) {
    char text[128];
    std::snprintf(text, sizeof(text), PX_PLUGIN_BUILD_FORMAT, build.ver, build.major, build.minor);
    return text;
}

bool ScanHostIdentity(const char* text, int* hostId, int* hostPid) {
    if (text == nullptr) {
        return false;
    }
    TextScanner scanner(text);
    int id = 0;
    int pid = 0;
    if (!scanner.Keyword(kIdentityWordHostId) || !scanner.Number(&id) ||
        !scanner.Keyword(kIdentityWordPid) || !scanner.Number(&pid)) {
        return false;
    }
    *hostId = id;
    *hostPid = pid;
    return true;
}

bool ScanPluginBuild(const char* text, PluginBuild* build) {
    if (text == nullptr) {
        return false;
    }
    TextScanner scanner(text);
    PluginBuild scanned;
    if (!scanner.Keyword(kBuildWordVer) || !scanner.Number(&scanned.ver) ||
        !scanner.Keyword(kBuildWordMajor) || !scanner.Number(&scanned.major) ||
        !scanner.Keyword(kBuildWordMinor) || !scanner.Number(&scanned.minor)) {
        return false;
    }
    *build = scanned;
    return true;
}
