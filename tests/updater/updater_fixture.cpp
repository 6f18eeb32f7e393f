// Helpers of the updater tests.
#include "tests/updater/updater_fixture.h"

#include <wininet.h>
#include <winsock2.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace updater_test {

namespace {

constexpr DWORD kSentinelTimeoutMs = 30000;
const char kSentinelCaption[] = "UpdaterTestSentinel";

DWORD WINAPI ShowSentinel(void* param) {
    auto* text = static_cast<std::string*>(param);
    MessageBoxA(nullptr, text->c_str(), kSentinelCaption, MB_OK);
    return 0;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        const ULONGLONG left = deadline - now;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left < 20 ? left : 20),
                                  QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

DialogWatcher::DialogWatcher(const std::string& answer) : m_watch("--answer " + answer) {
    if (m_watch.Started()) {
        m_reader = std::thread([this] { ReadLines(); });
    }
}

DialogWatcher::~DialogWatcher() {
    // The process held the pipe's only write end: the reader sees its end once it stops.
    m_watch.Stop();
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

void DialogWatcher::ReadLines() {
    std::string pending;
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(m_watch.Output(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        pending.append(chunk, got);
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n')) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::lock_guard<std::mutex> guard(m_lock);
            m_lines.push_back(line);
        }
    }
}

std::vector<std::string> DialogWatcher::TakeLinesAfterSentinel() {
    std::string text = "sentinel " + std::to_string(++m_sentinels);
    const std::string expected = std::string("dialog ") + kSentinelCaption + " | " + text;
    HANDLE thread = CreateThread(nullptr, 0, ShowSentinel, &text, 0, nullptr);
    std::vector<std::string> before;
    bool seen = false;
    PumpUntil(
        [&] {
            std::lock_guard<std::mutex> guard(m_lock);
            for (std::size_t i = 0; i < m_lines.size(); ++i) {
                if (m_lines[i] == expected) {
                    before.assign(m_lines.begin(),
                                  m_lines.begin() + static_cast<std::ptrdiff_t>(i));
                    m_lines.erase(m_lines.begin(),
                                  m_lines.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                    seen = true;
                    return true;
                }
            }
            return false;
        },
        kSentinelTimeoutMs);
    if (thread != nullptr) {
        if (WaitForSingleObject(thread, kSentinelTimeoutMs) == WAIT_TIMEOUT) {
            // Never answered: close the box so that the thread (and `text`) can end.
            const HWND box = FindWindowA(nullptr, kSentinelCaption);
            if (box != nullptr) {
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
            WaitForSingleObject(thread, kSentinelTimeoutMs);
        }
        CloseHandle(thread);
    }
    if (!seen) {
        std::lock_guard<std::mutex> guard(m_lock);
        before.swap(m_lines);
        before.push_back("TIMEOUT");
    }
    return before;
}

bool DialogWatcher::WaitForLine(const std::string& prefix, DWORD timeoutMs) {
    return PumpUntil(
        [&] {
            std::lock_guard<std::mutex> guard(m_lock);
            for (const std::string& line : m_lines) {
                if (line.compare(0, prefix.size(), prefix) == 0) {
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

int WebSidePort() {
    const char* port = std::getenv("PX_WEBSIDE_PORT");
    return port != nullptr ? std::atoi(port) : 0;
}

std::string WebSideRoot() {
    const char* root = std::getenv("PX_WEBSIDE_ROOT");
    if (root == nullptr) {
        return std::string();
    }
    std::string path = std::string("Z:") + root;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::string WebSideRequest(const char* verb, const std::string& path) {
    std::string body;
    HINTERNET session =
        InternetOpenA("updater test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session == nullptr) {
        return body;
    }
    HINTERNET connection =
        InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(WebSidePort()), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = connection == nullptr
                            ? nullptr
                            : HttpOpenRequestA(connection, verb, path.c_str(), nullptr, nullptr,
                                               nullptr, INTERNET_FLAG_RELOAD, 0);
    if (request != nullptr && HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
        char chunk[4096];
        DWORD got = 0;
        while (InternetReadFile(request, chunk, sizeof chunk, &got) && got > 0) {
            body.append(chunk, got);
        }
    }
    if (request != nullptr) {
        InternetCloseHandle(request);
    }
    if (connection != nullptr) {
        InternetCloseHandle(connection);
    }
    InternetCloseHandle(session);
    return body;
}

std::vector<std::string> WebSideRequestPaths() {
    // Each line is a JSON object whose "path" comes first after "method"; the paths the
    // tests use hold no quote or backslash, so a plain search is enough.
    const std::string log = WebSideRequest("GET", "/_log");
    std::vector<std::string> paths;
    const std::string key = "\"path\": \"";
    for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at)) {
        at += key.size();
        const std::size_t end = log.find('"', at);
        if (end == std::string::npos) {
            break;
        }
        paths.push_back(log.substr(at, end - at));
        at = end;
    }
    return paths;
}

void ResetWebSideLog() {
    WebSideRequest("POST", "/_reset");
}

int ClosedPort() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 0;
    }
    int port = 0;
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe != INVALID_SOCKET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        closesocket(probe);
    }
    WSACleanup();
    return port;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        bytes.append(chunk, got);
    }
    std::fclose(file);
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool DeleteFileWhenFree(const std::string& path, DWORD timeoutMs) {
    return PumpUntil(
        [&] {
            if (DeleteFileA(path.c_str())) {
                return true;
            }
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        },
        timeoutMs);
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

TempFolder::TempFolder(const char* stem) {
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof base, base);
    std::string folder(base, length < sizeof base ? length : 0);
    if (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    folder += "\\" + std::string(stem) + "_" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(GetTickCount64());
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    m_path = folder;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace updater_test
