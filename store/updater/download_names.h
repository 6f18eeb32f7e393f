// Where an update download is saved. The server may name a program download in its
// Content-Disposition header; that name is only ever used as a plain file name inside the
// download folder. A name that is not one (a path, a drive, "..", a character Windows
// forbids in names, a device name, a name Windows would quietly change) is refused, and
// the download keeps its default name. No Windows header needed.
#pragma once

#include <cstddef>
#include <string>

// Longest file name Windows takes in one path component.
constexpr std::size_t kMaxServerFileNameBytes = 255;

// Below the transfer directory.
extern const char kUpdatesFolder[];         // "\\Updates"
extern const char kUpdateTempFolder[];      // "\\Updates\\temp"
extern const char kUpdateDescriptorFile[];  // "\\Updates\\PXUpdate.xml"
extern const char kDefaultProgramFile[];    // "\\Updates\\temp\\update.exe"
extern const char kDefaultOtherFile[];      // "\\Updates\\temp\\pxout.file"

// The text after `filename="` up to the next double quote; empty when the header holds no
// `filename="` or the quote is never closed.
std::string ContentDispositionFileName(const std::string& header);

// True for a name that names a file directly inside a folder and nothing else: not empty,
// at most kMaxServerFileNameBytes bytes, no control characters, none of \ / : * ? " < > |,
// not ending in "." or " " (Windows would drop those, "..." would name the folder itself),
// and not a device name such as CON, NUL, COM1 or LPT1, with or without an extension.
// Bytes from 0x80 up pass, except that a name is judged byte by byte: a double-byte
// character whose second byte is "\" is refused too.
bool IsPlainFileName(const std::string& name);

struct DownloadFileChoice {
    std::string path;
    bool refusedServerName = false;  // the server named the file, and the name was refused
};

// The file a finished request writes to. Without `nameFromServer` it is `destination`.
// With it, a usable name from `contentDisposition` (null when the response has no such
// header) goes into the `destination` folder; otherwise the file is the default one under
// `transferDirectory`: update.exe for a program download, pxout.file for any other.
DownloadFileChoice ChooseDownloadFile(bool nameFromServer, const std::string& destination,
                                      bool programDownload, const std::string& transferDirectory,
                                      const std::string* contentDisposition);
