// dlgwatch.exe on a pipe: see dlgwatch_process.h.
#include "dlgwatch_process.h"

DlgWatchProcess::DlgWatchProcess(const std::string& arguments) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path);
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "dlgwatch.exe";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&m_read, &write, &inherit, 0)) {
        m_read = nullptr;
        return;
    }
    SetHandleInformation(m_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + exe + "\" " + arguments;
    m_started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &m_process) != FALSE;
    CloseHandle(write);
}

DlgWatchProcess::~DlgWatchProcess() {
    Stop();
    if (m_read != nullptr) {
        CloseHandle(m_read);
    }
}

void DlgWatchProcess::Stop() {
    if (!m_started || m_process.hProcess == nullptr) {
        return;
    }
    TerminateProcess(m_process.hProcess, 0);
    WaitForSingleObject(m_process.hProcess, 10000);
    CloseHandle(m_process.hProcess);
    CloseHandle(m_process.hThread);
    m_process = PROCESS_INFORMATION{};
}
