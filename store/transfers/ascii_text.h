// Letter case in the ASCII texts of HTTP (schemes, header names, host names), shared by the
// download client and the proxy rules. Plain C++.
#pragma once

#include <cctype>
#include <cstring>
#include <string>

inline std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

inline bool EqualNoCase(const std::string& a, const std::string& b) {
    return LowerAscii(a) == LowerAscii(b);
}

// `prefix` is given in lower case.
inline bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length && LowerAscii(text.substr(0, length)) == prefix;
}
