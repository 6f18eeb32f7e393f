// Character-wise path walking over the ANSI code page, shared by every file operation.
#include "store/files/path_walk.h"

#include <cstring>

#include "text/multibyte.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::size_t NextCharIndex(std::string_view text, std::size_t index) {
    if (index + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[index]))) {
        return index + 2;
    }
    return index + 1;
}

std::size_t FindBackslash(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); i = NextCharIndex(text, i)) {
        if (text[i] == '\\') {
            return i;
        }
    }
    return std::string_view::npos;
}

std::size_t LastCharIndex(std::string_view text) {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); i = NextCharIndex(text, i)) {
        last = i;
    }
    return last;
}

std::string_view TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) {
        ++begin;
    }
    // The end is found by walking, so a trail byte that happens to look like a blank stays.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const std::size_t next = NextCharIndex(text, i);
        if (next - i > 1 || !IsBlank(text[i])) {
            end = next < text.size() ? next : text.size();
        }
        i = next;
    }
    return text.substr(begin, end - begin);
}

bool MakeWorkingCopy(const char* path, char (&out)[kPathBufferSize]) {
    out[0] = '\0';
    if (path == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(path);
    if (length >= kPathBufferSize) {
        return false;
    }
    const std::string_view trimmed = TrimBlanks(std::string_view(path, length));
    std::memcpy(out, trimmed.data(), trimmed.size());
    out[trimmed.size()] = '\0';
    return true;
}

void StripOneTrailingBackslash(char* text) {
    const std::string_view view(text);
    if (view.size() > 1) {
        const std::size_t last = LastCharIndex(view);
        if (last == view.size() - 1 && view[last] == '\\') {
            text[last] = '\0';
        }
    }
}

bool SamePath(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t next = NextCharIndex(a, i);
        if (next - i > 1) {
            if (a.substr(i, next - i) != b.substr(i, next - i)) {
                return false;
            }
        } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
        i = next;
    }
    return true;
}

bool JoinEntryPath(std::string_view folder, std::string_view name, char* out, std::size_t outSize) {
    if (out == nullptr || outSize == 0) {
        return false;
    }
    out[0] = '\0';
    if (folder.size() + 1 + name.size() + 1 > outSize) {
        return false;
    }
    std::memcpy(out, folder.data(), folder.size());
    out[folder.size()] = '\\';
    std::memcpy(out + folder.size() + 1, name.data(), name.size());
    out[folder.size() + 1 + name.size()] = '\0';
    return true;
}

void GetParentFolder(const char* path, char* out, std::size_t outSize) {
    if (out == nullptr || outSize == 0) {
        return;
    }
    std::memset(out, 0, outSize);
    if (path == nullptr) {
        return;
    }
    const std::string_view text(path);
    // A backslash that is the last character belongs to the last component, so the walk
    // stops there and the cut stays at the backslash before it.
    std::size_t cut = 0;
    for (std::size_t pos = FindBackslash(text, 0); pos != std::string_view::npos;
         pos = FindBackslash(text, pos + 1)) {
        if (text.size() - pos < 2) {
            break;
        }
        cut = pos;
    }
    const std::size_t copied = cut < outSize - 1 ? cut : outSize - 1;
    std::memcpy(out, path, copied);
}

std::size_t GetFileNamePart(const char* path, char* out, std::size_t outSize) {
    if (out == nullptr || outSize == 0) {
        return 0;
    }
    const std::string_view text(path != nullptr ? path : "");
    std::size_t start = 0;
    for (std::size_t pos = FindBackslash(text, 0); pos != std::string_view::npos;
         pos = FindBackslash(text, pos + 1)) {
        start = pos + 1;
    }
    std::string_view name = text.substr(start);
    while (name.size() >= outSize) {
        name.remove_prefix(NextCharIndex(name, 0));
    }
    std::memcpy(out, name.data(), name.size());
    out[name.size()] = '\0';
    return name.size();
}

std::vector<std::string> BuildFolderPrefixes(std::string_view path) {
    std::vector<std::string> prefixes;
    std::string current;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t next = NextCharIndex(path, i);
        if (next - i == 1 && path[i] == '\\') {
            prefixes.push_back(current);
        }
        current.append(path.substr(i, next - i));
        if (next >= path.size()) {
            prefixes.push_back(current);
        }
        i = next;
    }
    return prefixes;
}

bool IsWholeDrivePath(std::string_view path) {
    const std::string_view text = TrimBlanks(path);
    std::size_t i = 0;
    std::size_t levelsAllowed = 0;  // named levels that still leave a root
    if (text.size() >= 2 && text[1] == ':' && !IsLeadByte(static_cast<unsigned char>(text[0]))) {
        i = 2;
    } else if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        i = 2;
        levelsAllowed = 2;  // server and share
    }
    std::size_t levels = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) {
            ++i;
        }
        const std::size_t begin = i;
        while (i < text.size() && !(IsSeparator(text[i]))) {
            i = NextCharIndex(text, i);
        }
        const std::string_view level = text.substr(begin, i - begin);
        if (!level.empty() && level != ".") {
            ++levels;
        }
    }
    return levels <= levelsAllowed;
}
