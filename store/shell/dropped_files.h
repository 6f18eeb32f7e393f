// The file list pushed to the movie for files dropped on the main window or offered for
// saving: one record per readable file, and one per folder marked as a package to unzip,
// carrying the folder's total size and today's date twice.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// Records for `paths` in their order; entries whose status cannot be read are left out.
std::string BuildDroppedFileList(const std::vector<std::string>& paths, std::time_t now);

// The record of one file, or empty text when its status cannot be read.
std::string DescribeFileForSaving(const std::string& path);
