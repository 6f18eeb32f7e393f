// Helpers for tests that drive the store's update flow under Wine: the message loop with a
// bound, dlgwatch.exe answering and reporting message boxes and dialogs, the web side
// stand-in (its port, served folder and request log) and small file helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/flash/dlgwatch_process.h"

namespace updater_test {

// Runs this thread's message loop until `done` is true or `timeoutMs` have passed; true
// when `done` came true.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Runs the message loop for `ms` milliseconds.
void PumpFor(DWORD ms);

// dlgwatch.exe (beside this program) answering every dialog of other processes with
// `answer` ("ok", "yes", "no", "cancel"); its lines ("dialog CAPTION | TEXT") are
// collected on a thread of their own.
class DialogWatcher {
public:
    explicit DialogWatcher(const std::string& answer);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    bool Started() const { return m_watch.Started(); }
    // Shows a message box of its own from another thread and waits (running the message
    // loop) until the watcher has reported it. Every dialog shown before is then reported
    // too, so the lines returned, which are taken out of the watcher, are complete. A
    // "TIMEOUT" line stands for a sentinel that was never reported.
    std::vector<std::string> TakeLinesAfterSentinel();
    // Waits (running the message loop) for a line that starts with `prefix`.
    bool WaitForLine(const std::string& prefix, DWORD timeoutMs);

private:
    void ReadLines();

    DlgWatchProcess m_watch;
    std::thread m_reader;
    std::mutex m_lock;
    std::vector<std::string> m_lines;
    int m_sentinels = 0;
};

// The web side stand-in that tests/run_with_webside.sh started: PX_WEBSIDE_PORT and the
// served folder (PX_WEBSIDE_ROOT) as a Windows path.
int WebSidePort();
std::string WebSideRoot();
// GET or POST on the stand-in; the answer's body, "" on failure.
std::string WebSideRequest(const char* verb, const std::string& path);
// The paths (query included, as received) of every request logged since the last reset.
std::vector<std::string> WebSideRequestPaths();
void ResetWebSideLog();
// A port on 127.0.0.1 that nothing listens on (bound, then released).
int ClosedPort();

// Files.
bool FileExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);  // "" when missing
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// Deletes a file, retrying while a process still holds it; true when it is gone.
bool DeleteFileWhenFree(const std::string& path, DWORD timeoutMs);
// The folder this test program lives in, with a trailing backslash.
std::string ProgramFolder();

// A fresh folder under the temporary folder, removed with its contents at the end.
class TempFolder {
public:
    explicit TempFolder(const char* stem);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return m_path; }  // no trailing backslash

private:
    std::string m_path;
};

}  // namespace updater_test
