// Records that it was started: writes %ORV_PROBE_DIR%\<tag>.started, where the tag is its first
// argument or, without one, its own file name without extension. The file holds the current
// folder, a line break and the command line. Each start also adds one byte to <tag>.runs.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"ORV_PROBE_DIR", dir, MAX_PATH)) return 2;
    std::wstring tag;
    if (argc > 1) {
        tag = argv[1];
    } else {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        tag = self;
        tag = tag.substr(tag.find_last_of(L'\\') + 1);
        tag = tag.substr(0, tag.find_last_of(L'.'));
    }
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring text = std::wstring(cwd) + L"\n" + GetCommandLineW();
    std::wstring path = std::wstring(dir) + L"\\" + tag + L".started";
    // Two starts with one tag at once (a Run and a RunOnce entry alike) each count and each
    // write a file of their own.
    DWORD put = 0;
    HANDLE runs = CreateFileW((std::wstring(dir) + L"\\" + tag + L".runs").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (runs != INVALID_HANDLE_VALUE) {
        WriteFile(runs, "1", 1, &put, nullptr);
        CloseHandle(runs);
    }
    std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 3;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &put, nullptr);
    CloseHandle(f);
    // Appears complete or not at all.
    MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
}
