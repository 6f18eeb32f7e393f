// Test helper: the activity log opened in a fresh temporary folder and read back byte for
// byte, so tests can check exactly which lines a call wrote.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "store/shell/activity_log.h"

// What one LogLine terminator looks like on disk: the Windows CRT's text mode turns the
// "\n" of "\r\n" into "\r\n" again.
#ifdef _WIN32
inline const std::string kDiskLineEnd = "\r\r\n";
#else
inline const std::string kDiskLineEnd = "\r\n";
#endif

class TempLogFolder {
public:
    TempLogFolder() {
        static std::atomic<int> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_folder = std::filesystem::temp_directory_path() /
                   ("px_shell_test_" + std::to_string(stamp) + "_" + std::to_string(++counter));
        std::filesystem::create_directories(m_folder);
    }
    ~TempLogFolder() {
        CloseActivityLog();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    TempLogFolder(const TempLogFolder&) = delete;
    TempLogFolder& operator=(const TempLogFolder&) = delete;

    std::string Folder() const { return m_folder.string(); }
    std::string LogPath() const { return (m_folder / "log.txt").string(); }
    bool Open() const { return OpenActivityLog(LogPath().c_str()); }

    std::string Read() const {
        std::ifstream file(LogPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::string CloseAndRead() const {
        CloseActivityLog();
        return Read();
    }

    // The lines between the banners, without terminators (banner and empty lines dropped).
    std::vector<std::string> CloseAndReadBody() const {
        std::vector<std::string> lines;
        std::string content = CloseAndRead();
        size_t start = 0;
        for (;;) {
            size_t end = content.find(kDiskLineEnd, start);
            if (end == std::string::npos) {
                break;
            }
            std::string line = content.substr(start, end - start);
            if (!line.empty() && line.compare(0, 10, "==========") != 0) {
                lines.push_back(line);
            }
            start = end + kDiskLineEnd.size();
        }
        return lines;
    }

private:
    std::filesystem::path m_folder;
};
