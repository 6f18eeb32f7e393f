// The file-list text handed to the movie: one "path*size*created*modified|" record per
// file or folder, dates as local month/day/year. The file picker, dropped files and files
// offered for saving all build their lists here so the movie sees one format.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// Appended to a folder's path in a list: the folder travels as a whole (zipped for upload).
extern const char kFolderMarker[];

// `time` in local time as "%m/%d/%Y"; empty when the time cannot be converted.
std::string FormatFileListDate(std::time_t time);

// Appends the record "%s*%I64u*%s*%s|" of `path`, `size` and the two dates.
void AppendFileListRecord(std::string& list, std::string_view path, uint64_t size,
                          std::time_t creationTime, std::time_t writeTime);
