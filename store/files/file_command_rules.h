// Argument rules of the file-system commands that need no file system: the folder marker
// of CopyFileEx.
#pragma once

#include <string>
#include <string_view>

// When both texts carry the folder marker ".PLENTHRA_UNZIP", removes every occurrence from
// both and returns true (the pair names two folders); otherwise leaves them as they are and
// returns false.
bool TakeFolderMarkers(std::string& source, std::string& destination);
