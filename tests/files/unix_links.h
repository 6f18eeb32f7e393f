// Test helper for Wine: folder links and drive letters made on the Linux side, which Wine
// reports as reparse points (FILE_ATTRIBUTE_REPARSE_POINT on a Linux symbolic link to a
// folder) and as drive roots (a link in the prefix's dosdevices folder). Wine's own
// CreateSymbolicLink does nothing, so the links are made by /bin/ln, started as a Unix
// program through CreateProcess, which Wine allows.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

namespace unix_links {

// The Linux path of a Windows path, through Wine's own export; empty outside Wine.
inline std::string UnixPath(const std::string& windowsPath) {
    using Convert = char*(CDECL*)(const WCHAR*);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (convert == nullptr) {
        return {};
    }
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* unixPath = convert(wide.c_str());
    if (unixPath == nullptr) {
        return {};
    }
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// Runs "program args" as a Unix program and waits up to a few seconds for `done` to hold
// (Wine gives no usable exit code for a Unix child).
template <typename Done>
bool RunUnix(const char* program, const std::string& commandLine, Done done) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 100 && !done(); ++i) {
        Sleep(50);
    }
    return done();
}

// Makes `link` (a Windows path) a Linux symbolic link to the folder `target`.
inline bool LinkFolder(const std::string& link, const std::string& target) {
    const std::string from = UnixPath(target);
    const std::string to = UnixPath(link);
    if (from.empty() || to.empty()) {
        return false;
    }
    return RunUnix("Z:\\bin\\ln", "ln -sfn \"" + from + "\" \"" + to + "\"",
                   [&] { return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

// Removes the link itself (never what it points at).
inline bool RemoveLink(const std::string& link) {
    const std::string path = UnixPath(link);
    if (path.empty()) {
        return false;
    }
    return RunUnix("Z:\\bin\\rm", "rm -f \"" + path + "\"",
                   [&] { return GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

// Drive `letter` (lower case) made to name `folder`, through the prefix's dosdevices
// folder; removed again by the destructor.
class MappedDrive {
public:
    MappedDrive(char letter, const std::string& folder) {
        const char* prefix = std::getenv("WINEPREFIX");
        if (prefix == nullptr) {
            return;
        }
        m_link = std::string(prefix) + "/dosdevices/" + letter + ":";
        const std::string from = UnixPath(folder);
        const std::string root = std::string(1, letter) + ":\\";
        RunUnix("Z:\\bin\\rm", "rm -f \"" + m_link + "\"", [] { return true; });
        m_mapped = !from.empty() &&
                   RunUnix("Z:\\bin\\ln", "ln -sfn \"" + from + "\" \"" + m_link + "\"", [&] {
                       return GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES;
                   });
    }
    ~MappedDrive() {
        if (!m_link.empty()) {
            RunUnix("Z:\\bin\\rm", "rm -f \"" + m_link + "\"", [] { return true; });
        }
    }
    MappedDrive(const MappedDrive&) = delete;
    MappedDrive& operator=(const MappedDrive&) = delete;

    bool Mapped() const { return m_mapped; }

private:
    std::string m_link;
    bool m_mapped = false;
};

}  // namespace unix_links
