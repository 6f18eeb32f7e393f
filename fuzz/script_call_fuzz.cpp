// Fuzz target: arbitrary bytes as a FlashCall request, through parsing, argument joining,
// reply building (log closed) and the dispatcher's path normalising and splitting. Traps
// when a reply of ours does not read back as what it carries, or when the argument tools
// lose or invent separators.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

size_t CountOf(const std::string& text, char c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view request(reinterpret_cast<const char*>(data), size);
    ScriptCall call;
    if (!ParseScriptCall(request, call)) {
        return 0;
    }
    // Every reference is longer than what it stands for.
    for (const ScriptArgument& argument : call.arguments) {
        Check(DecodeScriptArgument(argument.text).size() <= argument.text.size());
    }
    std::string joined = JoinArguments(call.arguments);

    ScriptResult result;
    result.SetText(joined);
    std::string reply = BuildReturnValueCall(call.name, result);
    // Values go out unescaped, so only texts without "<" can survive the round trip.
    if (call.name.find('<') == std::string::npos && joined.find('<') == std::string::npos) {
        ScriptCall echo;
        Check(ParseScriptCall(reply, echo));
        Check(echo.name == "SetReturnValue");
        Check(echo.arguments.size() == 2);
        Check(echo.arguments[0].text == call.name);
        Check(echo.arguments[1].text == joined);
    }

    std::vector<std::string> pieces = CScriptCommands::SplitArguments(joined, '*');
    Check(pieces.size() == CountOf(joined, '*') + 1);
    std::string rejoined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        rejoined += i == 0 ? "" : "*";
        rejoined += pieces[i];
    }
    Check(rejoined == joined);

    std::string normalized = joined;
    TheScriptCommands().NormalizeArgumentPaths(normalized);
    Check(normalized.find('/') == std::string::npos);
    Check(CountOf(normalized, '*') == CountOf(joined, '*'));
    Check(normalized.size() <= joined.size());
    return 0;
}
