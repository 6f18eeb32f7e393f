// The transfer script commands (StartDownloadFile, DownloadAndOpenFile, StartUploadFile,
// StopTransFile, GetAllProgress): argument preparation in the dispatcher's terms and the
// integer or text replies the movie expects. The handlers reach the manager through the
// dispatcher's transfer manager link at each call.
#pragma once

#include <string>
#include <string_view>

class CScriptCommands;

// White space (blank, tab, line feed, carriage return, form feed, vertical tab) removed
// from both ends.
std::string TrimWhiteSpace(std::string_view text);

void RegisterTransferCommands(CScriptCommands& commands);
