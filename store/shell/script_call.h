// The invoke texts exchanged with the Flash movie: taking a request apart, joining its
// arguments for the dispatcher, and the SetReturnValue replies and pushes sent back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class ScriptArgumentKind { kString, kNumber };

struct ScriptArgument {
    std::string text;  // exactly as it stood between the tags: not trimmed, not decoded
    ScriptArgumentKind kind = ScriptArgumentKind::kString;
};

struct ScriptCall {
    std::string name;  // empty when the request names no function
    std::vector<ScriptArgument> arguments;
};

// What a command handler leaves for the reply.
class ScriptResult {
public:
    enum class Kind { kEmpty, kText, kSigned, kUnsigned };

    void SetText(std::string text);
    void SetSigned(int32_t value);
    void SetUnsigned(uint64_t value);
    void Clear();

    Kind GetKind() const { return m_kind; }
    const std::string& Text() const { return m_text; }
    int32_t Signed() const { return m_signed; }
    uint64_t Unsigned() const { return m_unsigned; }

private:
    Kind m_kind = Kind::kEmpty;
    std::string m_text;
    int32_t m_signed = 0;
    uint64_t m_unsigned = 0;
};

// Function and element names compare without regard to ASCII letter case.
bool ScriptNameEquals(std::string_view a, std::string_view b);

// Reads a number field the way the C runtime's atoi does (leading white space, a sign,
// then digits up to the first other character; 0 when there are none), saturating at the
// int range instead of overflowing. Transfer ids, host ids and counts are read with it.
int ParseScriptInteger(std::string_view text);

// Takes an invoke request apart. False means the text is no request (no "<arguments>" or
// nothing after it) and the caller must do nothing at all. A request whose name cannot be
// found still succeeds, with an empty name.
bool ParseScriptCall(std::string_view request, ScriptCall& call);

// One argument's text with its character references replaced, in one pass: the five named
// ones ("&amp;" "&lt;" "&gt;" "&quot;" "&apos;") and numeric ones ("&#39;", "&#x27;"), the
// latter converted to the ANSI code page ('?' where it has no such character). Anything
// else starting with "&" is kept as it stands.
std::string DecodeScriptArgument(std::string_view text);

// The argument texts, each decoded by DecodeScriptArgument, separated by "*".
std::string JoinArguments(const std::vector<ScriptArgument>& arguments);

// The SetReturnValue request answering `functionName` (as the movie sent it) with
// `result`. Writes the reply's log line; the caller sends the request afterwards.
std::string BuildReturnValueCall(const std::string& functionName, const ScriptResult& result);

// The SetReturnValue request for a text value, without a log line (GetTransStatus
// answers are polled too often to log).
std::string BuildTextReturnValueCall(const std::string& functionName, const std::string& value);

// Pushes into the movie. Values are inserted as they are, without escaping.
extern const char kDoShowStoreCall[];
extern const char kDoShowFileSystemsCall[];
extern const char kEnableTreeMenuDragDropCall[];
std::string BuildDoSavetoPlenthraCall(const std::string& fileList);
std::string BuildDoDrapFiletoPlenthraCall(const std::string& fileList);
std::string BuildDownloadFilesCall(const std::string& downloadList);
