// Hand-written because the link only ever carries flat objects of strings and numbers,
// and the control must not drag a JSON library into every host process.
#include "json_lines.h"

#include <cstdint>

namespace pxflash {

namespace {

void AppendUtf16(char32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    void SkipSpace() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    bool Take(char c) {
        if (Peek() != c)
            return false;
        ++pos_;
        return true;
    }

    // A string literal after its opening quote, as UTF-16. \u escapes may pair into
    // one character or stay lone surrogates, as JSON allows.
    bool String(std::u16string& out, std::string& error) {
        std::string raw;  // UTF-8 run between escapes
        auto flush = [&]() {
            std::u16string part;
            if (!Utf8ToUtf16(raw, part))
                return false;
            out += part;
            raw.clear();
            return true;
        };
        while (!AtEnd()) {
            char c = text_[pos_++];
            if (c == '"') {
                if (flush())
                    return true;
                error = "invalid UTF-8";
                return false;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                error = "control character in string";
                return false;
            }
            if (c != '\\') {
                raw.push_back(c);
                continue;
            }
            if (!flush()) {
                error = "invalid UTF-8";
                return false;
            }
            if (AtEnd())
                break;
            char e = text_[pos_++];
            switch (e) {
                case '"':
                    out.push_back(u'"');
                    break;
                case '\\':
                    out.push_back(u'\\');
                    break;
                case '/':
                    out.push_back(u'/');
                    break;
                case 'b':
                    out.push_back(u'\b');
                    break;
                case 'f':
                    out.push_back(u'\f');
                    break;
                case 'n':
                    out.push_back(u'\n');
                    break;
                case 'r':
                    out.push_back(u'\r');
                    break;
                case 't':
                    out.push_back(u'\t');
                    break;
                case 'u': {
                    if (text_.size() - pos_ < 4) {
                        error = "short \\u escape";
                        return false;
                    }
                    unsigned value = 0;
                    for (int i = 0; i < 4; ++i) {
                        int d = HexDigit(text_[pos_++]);
                        if (d < 0) {
                            error = "bad \\u escape";
                            return false;
                        }
                        value = value * 16 + static_cast<unsigned>(d);
                    }
                    out.push_back(static_cast<char16_t>(value));
                    break;
                }
                default:
                    error = "bad escape";
                    return false;
            }
        }
        error = "unterminated string";
        return false;
    }

    // Numbers and the three literals are kept as their text; the link never computes.
    bool Scalar(std::u16string& out, std::string& error) {
        static const char* const kLiterals[] = {"true", "false", "null"};
        for (const char* literal : kLiterals) {
            std::string word(literal);
            if (text_.compare(pos_, word.size(), word) == 0) {
                pos_ += word.size();
                out.assign(word.begin(), word.end());
                return true;
            }
        }
        size_t start = pos_;
        Take('-');
        size_t digits = pos_;
        while (Peek() >= '0' && Peek() <= '9')
            ++pos_;
        if (pos_ == digits) {
            error = "unsupported value";
            return false;
        }
        if (Take('.')) {
            size_t frac = pos_;
            while (Peek() >= '0' && Peek() <= '9')
                ++pos_;
            if (pos_ == frac) {
                error = "bad number";
                return false;
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (!Take('+'))
                Take('-');
            size_t exp = pos_;
            while (Peek() >= '0' && Peek() <= '9')
                ++pos_;
            if (pos_ == exp) {
                error = "bad number";
                return false;
            }
        }
        out.assign(text_.begin() + static_cast<std::ptrdiff_t>(start),
                   text_.begin() + static_cast<std::ptrdiff_t>(pos_));
        return true;
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
};

}  // namespace

bool Utf8ToUtf16(const std::string& utf8, std::u16string& out) {
    out.clear();
    size_t i = 0;
    while (i < utf8.size()) {
        auto b = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        size_t extra;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1Fu;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0Fu;
            extra = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07u;
            extra = 3;
        } else {
            return false;
        }
        if (utf8.size() - i - 1 < extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        // Overlong forms, encoded surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        AppendUtf16(cp, out);
        i += extra + 1;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
            AppendUtf8(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                           (static_cast<char32_t>(text[i + 1]) - 0xDC00),
                       out);
            ++i;
        } else if (IsHigh(c) || IsLow(c)) {
            AppendUtf8(0xFFFD, out);
        } else {
            AppendUtf8(c, out);
        }
    }
    return out;
}

std::string JsonQuote(const std::u16string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    auto escape = [&](char16_t c) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(kHex[(c >> shift) & 0xF]);
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        switch (c) {
            case u'"':
                out += "\\\"";
                continue;
            case u'\\':
                out += "\\\\";
                continue;
            case u'\n':
                out += "\\n";
                continue;
            case u'\r':
                out += "\\r";
                continue;
            case u'\t':
                out += "\\t";
                continue;
            default:
                break;
        }
        if (c < 0x20) {
            escape(c);
        } else if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
            out += Utf16ToUtf8(text.substr(i, 2));
            ++i;
        } else if (IsHigh(c) || IsLow(c)) {
            escape(c);
        } else {
            AppendUtf8(c, out);
        }
    }
    out += "\"";
    return out;
}

bool ParseJsonObject(const std::string& line, JsonObject& out, std::string& error) {
    out.clear();
    error.clear();
    Reader reader(line);
    reader.SkipSpace();
    if (!reader.Take('{')) {
        error = "not a JSON object";
        return false;
    }
    reader.SkipSpace();
    bool first = true;
    while (!reader.Take('}')) {
        if (!first && !reader.Take(',')) {
            error = "expected , or }";
            return false;
        }
        first = false;
        reader.SkipSpace();
        std::u16string key;
        if (!reader.Take('"')) {
            error = "expected a key";
            return false;
        }
        if (!reader.String(key, error))
            return false;
        reader.SkipSpace();
        if (!reader.Take(':')) {
            error = "expected :";
            return false;
        }
        reader.SkipSpace();
        JsonValue value;
        if (reader.Take('"')) {
            value.isString = true;
            if (!reader.String(value.text, error))
                return false;
        } else if (!reader.Scalar(value.text, error)) {
            return false;
        }
        out[Utf16ToUtf8(key)] = value;
        reader.SkipSpace();
        if (reader.AtEnd()) {
            error = "unterminated object";
            return false;
        }
    }
    reader.SkipSpace();
    if (!reader.AtEnd()) {
        error = "text after the object";
        return false;
    }
    return true;
}

}  // namespace pxflash
