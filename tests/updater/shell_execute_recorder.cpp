// The ShellExecuteA recorder of the updater tests: it swaps the address in this program's
// import table, which every call from the statically linked updater goes through.
#include "tests/updater/shell_execute_recorder.h"

#include <windows.h>

#include <cstring>
#include <mutex>

namespace updater_test {
namespace {

using ShellExecuteAFunction = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

std::mutex g_lock;
std::vector<std::string> g_files;
ULONG_PTR g_original = 0;

HINSTANCE WINAPI RecordShellExecuteA(HWND window, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                                     LPCSTR directory, INT show) {
    ULONG_PTR original = 0;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_files.push_back(file != nullptr ? file : "(null)");
        original = g_original;
    }
    return reinterpret_cast<ShellExecuteAFunction>(original)(window, operation, file, parameters,
                                                             directory, show);
}

// The import table slot of `function` from `dll` in this program, or null.
IMAGE_THUNK_DATA* FindImportSlot(const char* dll, const char* function) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return nullptr;
    }
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) {
            continue;
        }
        const DWORD namesAt =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return slots;
            }
        }
    }
    return nullptr;
}

bool WriteSlot(IMAGE_THUNK_DATA* slot, ULONG_PTR address) {
    DWORD oldProtection = 0;
    if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE,
                        &oldProtection)) {
        return false;
    }
    slot->u1.Function = static_cast<decltype(slot->u1.Function)>(address);
    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, oldProtection, &oldProtection);
    return true;
}

}  // namespace

ShellExecuteRecorder::ShellExecuteRecorder() {
    IMAGE_THUNK_DATA* slot = FindImportSlot("shell32.dll", "ShellExecuteA");
    if (slot == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_files.clear();
        g_original = static_cast<ULONG_PTR>(slot->u1.Function);
    }
    m_installed = WriteSlot(slot, reinterpret_cast<ULONG_PTR>(&RecordShellExecuteA));
}

ShellExecuteRecorder::~ShellExecuteRecorder() {
    if (m_installed) {
        std::lock_guard<std::mutex> guard(g_lock);
        WriteSlot(FindImportSlot("shell32.dll", "ShellExecuteA"), g_original);
    }
}

std::vector<std::string> ShellExecuteRecorder::Files() const {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_files;
}

}  // namespace updater_test
