// Whole-file reads and writes, a reproducible byte pattern and the web side stand-in's
// served folder, shared by the download client's tests over plain HTTP and over TLS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "store/transfers/download_io.h"

namespace download_test {

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Bytes that no run of zeros or repeated block could stand in for.
inline std::string Pattern(size_t size) {
    std::string data(size, '\0');
    uint32_t state = 12345;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return data;
}

// The served folder (PX_WEBSIDE_ROOT) as this program sees it (under Wine, through drive Z:).
inline std::string WebsideRoot() {
    const char* root = std::getenv("PX_WEBSIDE_ROOT");
    std::string path = root == nullptr ? std::string() : root;
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    path = "Z:" + path;
#endif
    return path;
}

inline std::string Join(const std::string& folder, const std::string& name) {
    return folder + LocalPathSeparator() + name;
}

}  // namespace download_test
