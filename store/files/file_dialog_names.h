// The name lists of the file selection dialog: taking the common dialog's quoted name
// text apart, writing a folder and its names into a caller's fixed buffer, and walking
// such a buffer back into full paths. No Windows calls, so the rules are tested natively.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What separates the names of a quoted multi-selection: "a.txt" "b.txt".
extern const char kQuotedNameSeparator[];

// Cuts `text` at each `separator`. Every piece but the last loses its blanks and double
// quotes at both ends and is kept, empty or not. The last piece loses its white space at
// both ends and is kept (stripped like the others) only when there was no separator at all
// or it ends with a double quote, so a name cut off without its closing quote is dropped.
std::vector<std::string> SplitQuotedNames(std::string_view text, std::string_view separator);

// Writes `folder`, then each non-empty name, each followed by `separator` (the zero byte
// for an explorer-style dialog), then a closing zero. False, with the buffer zero-filled,
// when that does not fit in `capacity` bytes; the closing zero always has its byte.
bool FillNameBuffer(char* buffer, size_t capacity, const std::string& folder,
                    const std::vector<std::string>& names, char separator);

// Walks a zero-separated list written by FillNameBuffer. A single entry is a whole path;
// otherwise the first entry is the folder and each following name is joined to it with a
// backslash unless the folder already ends with a backslash or slash. A position is null
// at the end; nothing is read at or past `buffer + capacity`.
class NameListWalk {
public:
    NameListWalk(const char* buffer, size_t capacity) : m_buffer(buffer), m_capacity(capacity) {}

    // Null for an empty list.
    const char* Start() const;
    // The path at `position`; moves `position` to the next entry or to null.
    std::string Next(const char*& position) const;

private:
    // Length of the entry at `p`, stopping at the zero byte or the end of the buffer.
    size_t EntryLength(const char* p) const;
    const char* AfterEntry(const char* p) const;

    const char* m_buffer;
    size_t m_capacity;
};
