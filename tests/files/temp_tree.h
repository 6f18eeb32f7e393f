// Test helper: a fresh folder under the Windows temporary folder (a Linux folder under
// Wine), filled and read back through the ANSI file interfaces, removed afterwards.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/files/unix_links.h"

class TempTree {
public:
    TempTree() {
        static int counter = 0;
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(sizeof(temp), temp);
        m_root = std::string(temp) + "px_files_" + std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(++counter);
        CreateDirectoryA(m_root.c_str(), nullptr);
    }
    ~TempTree() {
        // Links first: Wine lists no link whose target is already gone.
        for (const std::string& link : m_links) {
            unix_links::RemoveLink(link);
        }
        RemoveAll(m_root);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return m_root; }
    std::string Path(const std::string& relative) const { return m_root + "\\" + relative; }

    // Writes the file, making its folders first.
    void Write(const std::string& relative, const std::string& content) const {
        const std::string path = Path(relative);
        MakeFolders(path.substr(0, path.rfind('\\')));
        const HANDLE file =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }
    void Folder(const std::string& relative) const { MakeFolders(Path(relative)); }

    // Makes `relative` a folder link (a reparse point to Wine) to the folder `target`.
    bool Link(const std::string& relative, const std::string& target) {
        m_links.push_back(Path(relative));
        return unix_links::LinkFolder(Path(relative), Path(target));
    }

    // The file's content, or "<missing>".
    std::string Read(const std::string& relative) const {
        const HANDLE file = CreateFileA(Path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return "<missing>";
        }
        std::string content;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            content.append(buffer, got);
        }
        CloseHandle(file);
        return content;
    }
    bool Exists(const std::string& relative) const {
        return GetFileAttributesA(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    DWORD Attributes(const std::string& relative) const {
        return GetFileAttributesA(Path(relative).c_str());
    }
    void SetReadOnly(const std::string& relative) const {
        SetFileAttributesA(Path(relative).c_str(), FILE_ATTRIBUTE_READONLY);
    }

    // Entry names of a folder in the order the file system lists them.
    std::vector<std::string> List(const std::string& relative) const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA entry;
        const HANDLE find = FindFirstFileA((Path(relative) + "\\*.*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
        return names;
    }

private:
    static void MakeFolders(const std::string& path) {
        for (size_t pos = path.find('\\', 3); pos != std::string::npos;
             pos = path.find('\\', pos + 1)) {
            CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
        }
        CreateDirectoryA(path.c_str(), nullptr);
    }

    // Independent of the code under test, and clears read-only flags tests leave behind.
    static void RemoveAll(const std::string& path) {
        WIN32_FIND_DATAA entry;
        const HANDLE find = FindFirstFileA((path + "\\*.*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = entry.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                const std::string child = path + "\\" + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    unix_links::RemoveLink(child);  // a link a test made; never its target
                    continue;
                }
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveAll(child);
                } else {
                    DeleteFileA(child.c_str());
                }
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_DIRECTORY);
        RemoveDirectoryA(path.c_str());
    }

    std::string m_root;
    std::vector<std::string> m_links;
};
