// Path text without the file system: walking by whole characters of the ANSI code page,
// the 520-byte working copies, same-path comparison, parent and name parts, and the
// folder prefixes CreateFolderTree creates. Builds and is tested natively; a lead byte's
// trail byte is never taken for a backslash, whatever the code page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Working copies of paths live in buffers of this size; a path of this many characters or
// more is refused by the operations that make such copies.
constexpr std::size_t kPathBufferSize = 520;

// Index of the character after the one starting at `index`. A lead byte at the very end
// (a broken character) counts as one character of its own.
std::size_t NextCharIndex(std::string_view text, std::size_t index);

// Index of the first backslash at or after `from` (a character boundary) that is a
// character of its own, or npos.
std::size_t FindBackslash(std::string_view text, std::size_t from);

// Index where the last character starts; npos for empty text.
std::size_t LastCharIndex(std::string_view text);

// Blanks and tabs removed from both ends, whole characters only.
std::string_view TrimBlanks(std::string_view text);

// Copies `path` into `out` and trims it. Refuses (false, `out` empty) a null path or one
// of kPathBufferSize characters or more.
bool MakeWorkingCopy(const char* path, char (&out)[kPathBufferSize]);

// Removes one trailing backslash when the text is longer than one character.
void StripOneTrailingBackslash(char* text);

// Equal without regard to ASCII letter case; a double-byte character must match exactly.
bool SamePath(std::string_view a, std::string_view b);

// "folder\name" into `out` when it fits with its terminator; false (nothing usable) if not.
bool JoinEntryPath(std::string_view folder, std::string_view name, char* out, std::size_t outSize);

// Zero-fills the buffer, then writes the text before the last backslash that is not the
// path's final character, cut to outSize - 1 bytes. No backslash gives empty text.
void GetParentFolder(const char* path, char* out, std::size_t outSize);

// Copies the text after the last backslash, dropping whole characters from its front until
// it fits with its terminator, and returns its length. Writes nothing when outSize is 0.
std::size_t GetFileNamePart(const char* path, char* out, std::size_t outSize);

// The growing prefixes of `path`, one per backslash (without it) and the whole path last,
// in the order CreateFolderTree tries them. The first one (the drive) is never created.
std::vector<std::string> BuildFolderPrefixes(std::string_view path);

// True when the path names the root of a whole drive or share, the places a tree delete or
// move must never start from: empty text, "\\", "C:", "C:\\", "\\\\server\\share\\" and
// the same with more separators (backslash or slash), blanks around or "." levels.
bool IsWholeDrivePath(std::string_view path);
