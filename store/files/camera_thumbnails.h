// The camera shelf's picture list: which pictures of the Shade folder the shelf movie shows,
// each with a note whether a wire-frame twin of the same name lies in the Wireframe folder,
// and the text the movie reads the list from.
#pragma once

#include <string>
#include <vector>

// True when the name's last three characters are, ignoring case, one of bmp, jpg, gif,
// tif, png. Only those three characters count: "x.jpeg" is no picture, "xjpg" is one.
bool IsShelfPictureName(const std::string& name);

// Searches `folder`\Shade for pictures (folders, hidden, system and temporary files are
// left out) and, when at least one is found, replaces `thumbnails` with one entry per
// picture in search order: name + ":" without a readable twin in `folder`\Wireframe, else
// name + ":\" + name. `folder` may end with a backslash. Returns 1 when the list was
// replaced; 0 when the search could not start, failed, or found no picture, and then
// `thumbnails` keeps what it held.
int LoadThumbnails(const std::string& folder, std::vector<std::string>& thumbnails);

// For each entry in order: a backslash, the entry and "|". Empty for an empty list.
std::string ThumbnailList(const std::vector<std::string>& thumbnails);
