// Where the store program is installed and what its command line says when the plug-in
// starts it. Plain text rules, shared by the launcher and its native tests.
#pragma once

#include <string>

constexpr char kStoreProgram[] = "PXStore.exe";
// The launcher looks for the store's window this many times, this far apart (20 s in all).
constexpr int kStoreWaitAttempts = 40;
constexpr unsigned int kStoreWaitStepMs = 500;

// The store's folder on the drive of the Windows directory: everything up to and
// including the directory's last backslash, then "Program Files (x86)\Vellamar Plenthra"
// for a 32-bit 3ds Max on 64-bit Windows, else "Program Files\Vellamar Plenthra".
// An empty Windows directory (it could not be read) gives an empty folder.
std::string StoreInstallFolder(const std::string& windowsDirectory, bool wow64);

// The identity text, or with "HideWindows" glued in front of it for a hidden start.
std::string StoreParameters(const std::string& identity, bool hidden);
