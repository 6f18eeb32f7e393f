// Content-Disposition names and the choice of the saved file.
#include "store/updater/download_names.h"

#include <cctype>
#include <cstring>

const char kUpdatesFolder[] = "\\Updates";
const char kUpdateTempFolder[] = "\\Updates\\temp";
const char kUpdateDescriptorFile[] = "\\Updates\\PXUpdate.xml";
const char kDefaultProgramFile[] = "\\Updates\\temp\\update.exe";
const char kDefaultOtherFile[] = "\\Updates\\temp\\pxout.file";

namespace {

const char kFileNameMarker[] = "filename=\"";

// Opening one of these names, with any extension, opens the device instead of a file.
bool IsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    for (char& c : base) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (base == device) {
            return true;
        }
    }
    // COM1..COM9 and LPT1..LPT9; COM0 and LPT0 are device names to some Windows versions.
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

}  // namespace

std::string ContentDispositionFileName(const std::string& header) {
    const std::size_t marker = header.find(kFileNameMarker);
    if (marker == std::string::npos) {
        return std::string();
    }
    const std::size_t start = marker + sizeof kFileNameMarker - 1;
    const std::size_t end = header.find('"', start);
    if (end == std::string::npos) {
        return std::string();
    }
    return header.substr(start, end - start);
}

bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > kMaxServerFileNameBytes) {
        return false;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    const char last = name.back();
    if (last == '.' || last == ' ') {
        return false;
    }
    return !IsDeviceName(name);
}

DownloadFileChoice ChooseDownloadFile(bool nameFromServer, const std::string& destination,
                                      bool programDownload, const std::string& transferDirectory,
                                      const std::string* contentDisposition) {
    DownloadFileChoice choice;
    if (!nameFromServer) {
        choice.path = destination;
        return choice;
    }
    if (contentDisposition != nullptr &&
        contentDisposition->find(kFileNameMarker) != std::string::npos) {
        const std::string name = ContentDispositionFileName(*contentDisposition);
        if (IsPlainFileName(name)) {
            choice.path = destination + "\\" + name;
            return choice;
        }
        choice.refusedServerName = true;
    }
    choice.path = transferDirectory + (programDownload ? kDefaultProgramFile : kDefaultOtherFile);
    return choice;
}
