// Drives maxhost.exe for the plug-in's tests: starts it with the plug-in, writes commands
// to its standard input and collects its output lines as they come.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Lines from another thread or process, waited for with a time limit.
class LineLog {
public:
    void Add(const std::string& line);
    size_t Size();
    std::vector<std::string> Since(size_t from);
    // Index of the first line equal to `line` at or after `from`, or -1 after `timeoutMs`.
    long WaitFor(const std::string& line, size_t from, DWORD timeoutMs);

private:
    std::mutex m_lock;
    std::condition_variable m_added;
    std::vector<std::string> m_lines;
};

// Waits long: a cold Wine needs seconds for what takes milliseconds elsewhere.
constexpr DWORD kLineTimeoutMs = 30000;

class MaxHostSession {
public:
    MaxHostSession() = default;
    ~MaxHostSession();
    MaxHostSession(const MaxHostSession&) = delete;
    MaxHostSession& operator=(const MaxHostSession&) = delete;

    bool Start(const std::string& maxhost, const std::string& plugin);
    void Send(const std::string& command);
    // Sends the command and waits for `reply` among the lines printed after it.
    bool Run(const std::string& command, const std::string& reply,
             DWORD timeoutMs = kLineTimeoutMs);
    // Sends quit (when still running) and returns the exit code, or -1 when it hangs.
    long Finish();

    LineLog& Output() { return m_output; }
    DWORD ProcessId() const { return m_process.dwProcessId; }

private:
    void ReadOutput();

    PROCESS_INFORMATION m_process = {};
    HANDLE m_input = nullptr;
    HANDLE m_outputRead = nullptr;
    std::thread m_reader;
    LineLog m_output;
};

// The folder of the running test program, with a trailing backslash.
std::string TestProgramFolder();
