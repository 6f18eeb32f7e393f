// Generated inputs shaped like what the store takes apart at run time.
#pragma once

#include <string>
#include <vector>

std::string MakeInvokeRequest(int argumentCount);
std::string MakeStoreConfig(int pairCount);
std::string MakeDragOutList(int recordCount);
std::vector<std::string> MakeArgumentPaths(int pathCount);
// A settings-like document of about `bytes` bytes (elements, attributes, entities).
std::string MakeXmlDocument(size_t bytes);
