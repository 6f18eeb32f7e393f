// Name-list rules of the file selection dialog; see file_dialog_names.h.
#include "store/files/file_dialog_names.h"

#include <cstring>

const char kQuotedNameSeparator[] = "\" \"";

namespace {

std::string_view StripAny(std::string_view text, std::string_view characters) {
    size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

const char kBlanksAndQuotes[] = " \"";
const char kWhiteSpace[] = " \t\r\n\f\v";

}  // namespace

std::vector<std::string> SplitQuotedNames(std::string_view text, std::string_view separator) {
    std::vector<std::string> names;
    if (separator.empty()) {
        names.emplace_back(StripAny(StripAny(text, kWhiteSpace), kBlanksAndQuotes));
        return names;
    }
    size_t start = 0;
    bool cut = false;
    for (size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        names.emplace_back(StripAny(text.substr(start, at - start), kBlanksAndQuotes));
        start = at + separator.size();
        cut = true;
    }
    // The common dialog leaves a blank after the closing quote; a last piece without its
    // quote was cut short and is not a name.
    std::string_view last = StripAny(text.substr(start), kWhiteSpace);
    if (!cut || (!last.empty() && last.back() == '"')) {
        names.emplace_back(StripAny(last, kBlanksAndQuotes));
    }
    return names;
}

bool FillNameBuffer(char* buffer, size_t capacity, const std::string& folder,
                    const std::vector<std::string>& names, char separator) {
    if (buffer == nullptr || capacity == 0) {
        return false;
    }
    // `used` counts the folder, the names and their separators; one more byte must stay
    // free for the zero that ends the list.
    size_t used = folder.size() + 1;
    if (folder.size() >= capacity || used >= capacity) {
        std::memset(buffer, 0, capacity);
        return false;
    }
    std::memcpy(buffer, folder.data(), folder.size());
    buffer[folder.size()] = separator;
    for (const std::string& name : names) {
        if (name.empty()) {
            continue;
        }
        if (name.size() + 1 >= capacity - used) {
            std::memset(buffer, 0, capacity);
            return false;
        }
        std::memcpy(buffer + used, name.data(), name.size());
        buffer[used + name.size()] = separator;
        used += name.size() + 1;
    }
    std::memset(buffer + used, 0, capacity - used);
    return true;
}

size_t NameListWalk::EntryLength(const char* p) const {
    const char* end = m_buffer + m_capacity;
    const char* q = p;
    while (q < end && *q != '\0') {
        ++q;
    }
    return static_cast<size_t>(q - p);
}

const char* NameListWalk::AfterEntry(const char* p) const {
    const char* next = p + EntryLength(p) + 1;
    if (next >= m_buffer + m_capacity || *next == '\0') {
        return nullptr;
    }
    return next;
}

const char* NameListWalk::Start() const {
    if (m_buffer == nullptr || m_capacity == 0 || m_buffer[0] == '\0') {
        return nullptr;
    }
    return m_buffer;
}

std::string NameListWalk::Next(const char*& position) const {
    if (position == nullptr) {
        return {};
    }
    std::string folder(m_buffer, EntryLength(m_buffer));
    const char* entry = position;
    if (entry == m_buffer) {
        entry = AfterEntry(m_buffer);
        if (entry == nullptr) {
            position = nullptr;
            return folder;
        }
    }
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    path.append(entry, EntryLength(entry));
    position = AfterEntry(entry);
    return path;
}
