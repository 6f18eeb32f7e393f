// Listing a folder with the Win32 find calls, and what a listed entry is. Shared by the
// folder operations and the upload packer. Windows only.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

// FindFirstFileA/FindNextFileA over "folder\*.*", without "." and "..".
class FolderEntries {
public:
    explicit FolderEntries(std::string_view folder) {
        std::string pattern(folder);
        pattern += "\\*.*";
        m_find = FindFirstFileA(pattern.c_str(), &m_entry);
        m_pending = m_find != INVALID_HANDLE_VALUE;
    }
    ~FolderEntries() {
        if (m_find != INVALID_HANDLE_VALUE) {
            FindClose(m_find);
        }
    }
    FolderEntries(const FolderEntries&) = delete;
    FolderEntries& operator=(const FolderEntries&) = delete;

    bool Started() const { return m_find != INVALID_HANDLE_VALUE; }

    // The next entry, or null after the last one. Valid until the next call.
    const WIN32_FIND_DATAA* Next() {
        while (m_pending || (m_find != INVALID_HANDLE_VALUE && FindNextFileA(m_find, &m_entry))) {
            m_pending = false;
            if (std::strcmp(m_entry.cFileName, ".") != 0 &&
                std::strcmp(m_entry.cFileName, "..") != 0) {
                return &m_entry;
            }
        }
        return nullptr;
    }

private:
    HANDLE m_find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA m_entry{};
    bool m_pending = false;
};

inline bool IsFolderEntry(const WIN32_FIND_DATAA& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A junction or symbolic link: its contents belong elsewhere (perhaps to an ancestor, which
// would make a walk go round for ever), so no walk goes through it.
inline bool IsLinkEntry(const WIN32_FIND_DATAA& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
