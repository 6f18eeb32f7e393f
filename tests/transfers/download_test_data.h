// Whole-file reads and writes, a reproducible byte pattern, the web side stand-in's served
// folder and ports, and plain requests to the stand-in itself, shared by the download
// client's tests over plain HTTP and over TLS.
#pragma once

#include <atomic>
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

// A port the stand-in announced in the environment (PX_WEBSIDE_PORT, PX_WEBSIDE_TLS_...),
// 0 when it is not set.
inline int EnvPort(const char* variable) {
    const char* port = std::getenv(variable);
    return port == nullptr ? 0 : std::atoi(port);
}

// One plain request to the stand-in itself on its plain port; returns the body, "" when
// there was no answer.
inline std::string AskWebside(const std::string& method, const std::string& target) {
    std::atomic<bool> never{false};
    DownloadSocket socket(never);
    std::string reply;
    if (!socket.create() ||
        socket.connect("127.0.0.1", EnvPort("PX_WEBSIDE_PORT"), 10000) != IoStatus::kOk)
        return reply;
    const std::string request = method + " " + target +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n"
                                "Connection: close\r\n\r\n";
    if (socket.sendAll(request.data(), request.size(), 10000) != IoStatus::kOk)
        return reply;
    char buffer[4096];
    size_t got = 0;
    while (socket.receive(buffer, sizeof buffer, 10000, got) == IoStatus::kOk)
        reply.append(buffer, got);
    const size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

inline std::string Join(const std::string& folder, const std::string& name) {
    return folder + LocalPathSeparator() + name;
}

}  // namespace download_test
