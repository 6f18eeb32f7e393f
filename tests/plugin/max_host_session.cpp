// maxhost.exe driver of the plug-in's tests.
#include "tests/plugin/max_host_session.h"

#include <chrono>

void LineLog::Add(const std::string& line) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_lines.push_back(line);
    }
    m_added.notify_all();
}

size_t LineLog::Size() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_lines.size();
}

std::vector<std::string> LineLog::Since(size_t from) {
    std::lock_guard<std::mutex> hold(m_lock);
    return from < m_lines.size()
               ? std::vector<std::string>(m_lines.begin() + static_cast<long>(from), m_lines.end())
               : std::vector<std::string>();
}

long LineLog::WaitFor(const std::string& line, size_t from, DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(m_lock);
    long found = -1;
    m_added.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        for (size_t i = from; i < m_lines.size(); ++i) {
            if (m_lines[i] == line) {
                found = static_cast<long>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

MaxHostSession::~MaxHostSession() {
    Finish();
}

bool MaxHostSession::Start(const std::string& maxhost, const std::string& plugin) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &m_input, &inherit, 0)) {
        return false;
    }
    if (!CreatePipe(&m_outputRead, &outputWrite, &inherit, 0)) {
        CloseHandle(inputRead);
        return false;
    }
    SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_outputRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    std::string commandLine = "\"" + maxhost + "\" \"" + plugin + "\"";
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &m_process);
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (!started) {
        m_process = {};
        return false;
    }
    m_reader = std::thread(&MaxHostSession::ReadOutput, this);
    return true;
}

void MaxHostSession::ReadOutput() {
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(m_outputRead, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        pending.append(buffer, read);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            m_output.Add(line);
            pending.erase(0, end + 1);
        }
    }
}

void MaxHostSession::Send(const std::string& command) {
    const std::string line = command + "\n";
    DWORD written = 0;
    WriteFile(m_input, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool MaxHostSession::Run(const std::string& command, const std::string& reply, DWORD timeoutMs) {
    const size_t mark = m_output.Size();
    Send(command);
    return m_output.WaitFor(reply, mark, timeoutMs) >= 0;
}

long MaxHostSession::Finish() {
    if (m_process.hProcess == nullptr) {
        return -1;
    }
    Send("quit");
    CloseHandle(m_input);
    m_input = nullptr;
    long exitCode = -1;
    if (WaitForSingleObject(m_process.hProcess, kLineTimeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(m_process.hProcess, &code);
        exitCode = static_cast<long>(code);
    } else {
        TerminateProcess(m_process.hProcess, 99);
        WaitForSingleObject(m_process.hProcess, kLineTimeoutMs);
    }
    m_reader.join();
    CloseHandle(m_outputRead);
    CloseHandle(m_process.hProcess);
    CloseHandle(m_process.hThread);
    m_outputRead = nullptr;
    m_process = {};
    return exitCode;
}

std::string TestProgramFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}
