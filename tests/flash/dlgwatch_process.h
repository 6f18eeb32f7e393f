// dlgwatch.exe beside the test program, started with given arguments and its standard
// output and error on a pipe that the test reads.
#pragma once

#include <windows.h>

#include <string>

class DlgWatchProcess {
public:
    // Starts `"<folder>\dlgwatch.exe" <arguments>`.
    explicit DlgWatchProcess(const std::string& arguments);
    // Stops the process and closes the pipe.
    ~DlgWatchProcess();
    DlgWatchProcess(const DlgWatchProcess&) = delete;
    DlgWatchProcess& operator=(const DlgWatchProcess&) = delete;

    bool Started() const { return m_started; }
    // The read end of the output pipe.
    HANDLE Output() const { return m_read; }
    // Ends the process (it holds the pipe's only write end, so reads of the output end
    // too) and waits for it; the read end stays open until destruction.
    void Stop();

private:
    HANDLE m_read = nullptr;
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
};
