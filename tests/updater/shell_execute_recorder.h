// Records this program's calls of ShellExecuteA while an instance lives, so that a test can
// tell what the updater asked the shell to open (or that it asked for nothing).
#pragma once

#include <string>
#include <vector>

namespace updater_test {

// Points this program's import of ShellExecuteA at a recorder that notes the file of every
// call and then makes the call as before; the destructor puts the import back. One
// instance at a time.
class ShellExecuteRecorder {
public:
    ShellExecuteRecorder();
    ~ShellExecuteRecorder();
    ShellExecuteRecorder(const ShellExecuteRecorder&) = delete;
    ShellExecuteRecorder& operator=(const ShellExecuteRecorder&) = delete;

    // False when the import was not found (the calls then go unrecorded).
    bool Installed() const { return m_installed; }
    // The file argument of each call so far, in order ("(null)" for a null one).
    std::vector<std::string> Files() const;

private:
    bool m_installed = false;
};

}  // namespace updater_test
