// Code-page helpers: lead-byte test and ANSI <-> wide conversion, Windows and native.
#include "text/multibyte.h"

#include <array>
#include <climits>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct LeadByteSet {
    std::array<bool, 256> lead{};
    bool any = false;
    unsigned generation = 0;

    LeadByteSet() { FromCodePage(); }

    void FromCodePage() {
        lead.fill(false);
        any = false;
#ifdef _WIN32
        for (size_t i = 0; i < lead.size(); ++i) {
            lead[i] = IsDBCSLeadByte(static_cast<BYTE>(i)) != FALSE;
            any = any || lead[i];
        }
#endif
        ++generation;
    }
};

LeadByteSet& LeadBytes() {
    static LeadByteSet set;
    return set;
}

}  // namespace

bool IsLeadByte(unsigned char c) {
    return LeadBytes().lead[c];
}

bool HasLeadBytes() {
    return LeadBytes().any;
}

unsigned LeadByteGeneration() {
    return LeadBytes().generation;
}

ScopedLeadBytesForTesting::ScopedLeadBytesForTesting(unsigned char first, unsigned char last) {
    LeadByteSet& set = LeadBytes();
    set.lead.fill(false);
    for (unsigned c = first; c <= last; ++c) {
        set.lead[c] = true;
    }
    set.any = first <= last;
    ++set.generation;
}

ScopedLeadBytesForTesting::~ScopedLeadBytesForTesting() {
    LeadBytes().FromCodePage();
}

#ifdef _WIN32

std::wstring AnsiToWide(std::string_view text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
        return std::wstring();
    }
    const int inLength = static_cast<int>(text.size());
    const int outLength = MultiByteToWideChar(CP_ACP, 0, text.data(), inLength, nullptr, 0);
    if (outLength <= 0) {
        return std::wstring();
    }
    std::wstring out(static_cast<size_t>(outLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), inLength, &out[0], outLength);
    return out;
}

std::string WideToAnsi(std::wstring_view text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
        return std::string();
    }
    const int inLength = static_cast<int>(text.size());
    const int outLength =
        WideCharToMultiByte(CP_ACP, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (outLength <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(outLength), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), inLength, &out[0], outLength, nullptr, nullptr);
    return out;
}

#else

std::wstring AnsiToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string WideToAnsi(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const auto code = static_cast<unsigned long>(c);
        out.push_back(code <= 0xFF ? static_cast<char>(static_cast<unsigned char>(code)) : '?');
    }
    return out;
}

#endif
