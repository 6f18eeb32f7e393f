// The update program of the updater tests: when started it leaves a marker file, then
// ends. The marker goes to the path in PX_UPDATE_MARKER when that is set, else next to the
// program as <program file>.ran. It holds the program's path and the folder it was
// started in, one "key=value" line each, so that a test can see which file ran and from
// where.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) {
        return 1;
    }
    char folder[MAX_PATH];
    const DWORD folderLength = GetCurrentDirectoryA(sizeof folder, folder);
    if (folderLength == 0 || folderLength >= sizeof folder) {
        folder[0] = '\0';
    }
    std::string marker = std::string(program) + ".ran";
    char configured[MAX_PATH];
    const DWORD configuredLength =
        GetEnvironmentVariableA("PX_UPDATE_MARKER", configured, sizeof configured);
    if (configuredLength > 0 && configuredLength < sizeof configured) {
        marker = configured;
    }
    // Written under a temporary name and renamed, so that a reader never sees half a file.
    const std::string partial = marker + ".part";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return 1;
    }
    std::fprintf(file, "program=%s\ncwd=%s\n", program, folder);
    std::fclose(file);
    return MoveFileExA(partial.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
