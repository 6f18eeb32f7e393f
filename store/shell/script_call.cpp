// Invoke request parsing with the store's pattern matcher, and the reply and push texts.
// Replies are built with std::string: a value may be far longer than a log line.
#include "store/shell/script_call.h"

#include <cinttypes>
#include <climits>
#include <utility>

#include "store/shell/activity_log.h"
#include "text/multibyte.h"
#include "text/pattern_matcher.h"

namespace {

const char kArgumentsPattern[] = "<arguments>";
const char kNamePattern[] = "<invoke[ \\t]+name=\"{[^\"]+}";
// Group 0 the element name, group 1 the text up to the first "<". The closing tag is not
// required to match the opening one.
const char kArgumentPattern[] = "(<{(string)|(number)}>){[^<]*?}(</(string)|(number)>)";

const char kReturnValueHead[] =
    "<invoke name=\"SetReturnValue\" returntype=\"xml\"><arguments><string>";
const char kReturnValueMiddle[] = "</string><string>";
const char kReturnValueTail[] = "</string></arguments></invoke>";

std::string BuildReturnValueText(const std::string& functionName, const std::string& value) {
    std::string call;
    call.reserve(sizeof(kReturnValueHead) + functionName.size() + sizeof(kReturnValueMiddle) +
                 value.size() + sizeof(kReturnValueTail));
    call += kReturnValueHead;
    call += functionName;
    call += kReturnValueMiddle;
    call += value;
    call += kReturnValueTail;
    return call;
}

std::string BuildOneStringPush(const char* functionName, const std::string& value) {
    std::string call = "<invoke name=\"";
    call += functionName;
    call += "\" returntype=\"xml\"><arguments><string>";
    call += value;
    call += "</string></arguments></invoke>";
    return call;
}

}  // namespace

const char kDoShowStoreCall[] =
    "<invoke name=\"DoShowStore\" returntype=\"xml\"><arguments></arguments></invoke>";
const char kDoShowFileSystemsCall[] =
    "<invoke name=\"DoShowFileSystems\" returntype=\"xml\"><arguments></arguments></invoke>";
const char kEnableTreeMenuDragDropCall[] =
    "<invoke name=\"EnableTreeMenuDragDrop\" returntype=\"xml\"><arguments><number>0</number>"
    "</arguments></invoke>";

bool ScriptNameEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

void ScriptResult::SetText(std::string text) {
    m_kind = Kind::kText;
    m_text = std::move(text);
}

void ScriptResult::SetSigned(int32_t value) {
    m_kind = Kind::kSigned;
    m_signed = value;
}

void ScriptResult::SetUnsigned(uint64_t value) {
    m_kind = Kind::kUnsigned;
    m_unsigned = value;
}

void ScriptResult::Clear() {
    *this = ScriptResult();
}

namespace {

// Every FlashCall goes through ParseScriptCall, so its two search patterns are compiled
// once per thread rather than once per request.
struct RequestMatchers {
    RequestMatchers() {
        name.Compile(kNamePattern, true);
        argument.Compile(kArgumentPattern, true);
    }
    CPatternMatcher name;
    CPatternMatcher argument;
};

RequestMatchers& TheRequestMatchers() {
    thread_local RequestMatchers matchers;
    return matchers;
}

}  // namespace

bool ParseScriptCall(std::string_view request, ScriptCall& call) {
    call = ScriptCall();
    std::vector<std::string> pieces = CPatternMatcher::Split(request, kArgumentsPattern, true);
    if (pieces.size() < 2) {
        return false;
    }

    if (!pieces[0].empty()) {
        CPatternMatcher& nameMatcher = TheRequestMatchers().name;
        if (nameMatcher.Match(pieces[0])) {
            call.name = nameMatcher.Group(0);
        }
    }

    // Searching (not anchoring) skips whatever else stands in the list: other element
    // types, closing tags, white space.
    const std::string& list = pieces[1];
    CPatternMatcher& argumentMatcher = TheRequestMatchers().argument;
    size_t position = 0;
    while (position < list.size() && argumentMatcher.Match(list, position)) {
        ScriptArgument argument;
        argument.kind = ScriptNameEquals(argumentMatcher.Group(0), "string")
                            ? ScriptArgumentKind::kString
                            : ScriptArgumentKind::kNumber;
        argument.text = argumentMatcher.Group(1);
        call.arguments.push_back(std::move(argument));
        size_t end = argumentMatcher.MatchEnd();
        if (end <= position) {
            break;  // cannot happen with this pattern; guards against looping forever
        }
        position = end;
    }
    return true;
}

namespace {

struct NamedReference {
    std::string_view name;  // between "&" and ";"
    char character;
};
constexpr NamedReference kNamedReferences[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''},
};
constexpr unsigned long kLastCodePoint = 0x10FFFF;

// The code point of the numeric reference body `digits` ("39" or "x27"), or 0 when it is
// none: no digits, another character among them, beyond the last code point, a surrogate.
unsigned long NumericReference(std::string_view digits) {
    unsigned long base = 10;
    if (!digits.empty() && digits[0] == 'x') {
        base = 16;
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return 0;
    }
    unsigned long value = 0;
    for (char c : digits) {
        unsigned long digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned long>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned long>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned long>(c - 'A' + 10);
        } else {
            return 0;
        }
        value = value * base + digit;
        if (value > kLastCodePoint) {
            return 0;  // checked per digit, so the value never overflows
        }
    }
    if (value >= 0xD800 && value <= 0xDFFF) {
        return 0;
    }
    return value;
}

std::string CodePointToAnsi(unsigned long codePoint) {
    std::wstring wide;
    if (codePoint > 0xFFFF && sizeof(wchar_t) == 2) {
        codePoint -= 0x10000;
        wide.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        wide.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        wide.push_back(static_cast<wchar_t>(codePoint));
    }
    return WideToAnsi(wide);
}

// The longest reference body worth looking at: "x10FFFF" with room for leading zeros.
constexpr size_t kLongestReferenceBody = 16;

}  // namespace

std::string DecodeScriptArgument(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            decoded.append(text.substr(i));
            break;
        }
        decoded.append(text.substr(i, amp - i));
        const size_t semicolon = text.find(';', amp + 1);
        i = amp + 1;
        if (semicolon == std::string_view::npos || semicolon - amp - 1 > kLongestReferenceBody) {
            decoded.push_back('&');
            continue;
        }
        const std::string_view body = text.substr(amp + 1, semicolon - amp - 1);
        std::string replacement;
        if (!body.empty() && body[0] == '#') {
            const unsigned long codePoint = NumericReference(body.substr(1));
            if (codePoint != 0) {
                replacement = CodePointToAnsi(codePoint);
            }
        } else {
            for (const NamedReference& reference : kNamedReferences) {
                if (body == reference.name) {
                    replacement.assign(1, reference.character);
                    break;
                }
            }
        }
        if (replacement.empty()) {
            decoded.push_back('&');  // no reference: the "&" is plain text
            continue;
        }
        decoded += replacement;
        i = semicolon + 1;
    }
    return decoded;
}

std::string JoinArguments(const std::vector<ScriptArgument>& arguments) {
    std::string joined;
    for (const ScriptArgument& argument : arguments) {
        // The movie's bridge escapes each string argument as XML text; undone here once,
        // argument by argument, so a decoded "*" or "&" is never read a second time.
        joined += DecodeScriptArgument(argument.text);
        joined += '*';
    }
    if (!joined.empty()) {
        joined.pop_back();
    }
    return joined;
}

std::string BuildReturnValueCall(const std::string& functionName, const ScriptResult& result) {
    std::string call;
    switch (result.GetKind()) {
        case ScriptResult::Kind::kUnsigned:
            call = BuildReturnValueText(functionName, std::to_string(result.Unsigned()));
            LogLine("Function=%s, return value=%" PRIu64, functionName.c_str(), result.Unsigned());
            break;
        case ScriptResult::Kind::kSigned:
            call = BuildReturnValueText(functionName, std::to_string(result.Signed()));
            LogLine("Function=%s, return value=%d", functionName.c_str(), result.Signed());
            break;
        case ScriptResult::Kind::kText:
        case ScriptResult::Kind::kEmpty:
            call = BuildReturnValueText(functionName, result.Text());
            LogLine("Function=%s, return value=%s", functionName.c_str(), result.Text().c_str());
            break;
    }
    return call;
}

std::string BuildTextReturnValueCall(const std::string& functionName, const std::string& value) {
    return BuildReturnValueText(functionName, value);
}

std::string BuildDoSavetoPlenthraCall(const std::string& fileList) {
    return BuildOneStringPush("DoSavetoPlenthra", fileList);
}

std::string BuildDoDrapFiletoPlenthraCall(const std::string& fileList) {
    return BuildOneStringPush("DoDrapFiletoPlenthra", fileList);
}

std::string BuildDownloadFilesCall(const std::string& downloadList) {
    return BuildOneStringPush("DownloadFiles", downloadList);
}

int ParseScriptInteger(std::string_view text) {
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= INT_MAX) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}
