// The driver link's line format: one flat JSON object per line, UTF-8 on the wire,
// UTF-16 inside the control (the texts a host passes as BSTRs). Only what the link
// needs: objects whose values are strings, numbers, true/false/null.
#pragma once

#include <map>
#include <string>

namespace pxflash {

struct JsonValue {
    bool isString = false;
    std::u16string text;  // the string, or the literal text of a number/true/false/null
};

using JsonObject = std::map<std::string, JsonValue>;  // keys in UTF-8

// UTF-8 to UTF-16; false for bytes that are not well-formed UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string& out);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// A JSON string literal (with the quotes) for text. Non-ASCII goes out as UTF-8 bytes;
// a lone surrogate, which UTF-8 cannot carry, as a \uXXXX escape.
std::string JsonQuote(const std::u16string& text);

// Reads one line (without its line break) as a flat object. On failure returns false
// and says why in error.
bool ParseJsonObject(const std::string& line, JsonObject& out, std::string& error);

}  // namespace pxflash
