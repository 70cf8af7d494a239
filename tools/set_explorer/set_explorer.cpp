// set_explorer.exe: restores the default shell. Writes "explorer.exe" as the Winlogon Shell value
// (current user, and the machine where the account may), ends the running bar (it refuses to
// close, so its process is terminated) and starts explorer.exe.
//
// Started without arguments by the bar. Two switches exist for the tests:
//   --start <command line>  start this instead of explorer.exe
//   --bar-pid <id>          end only the bar windows of this process (other bars may be running)
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <set>
#include <string>

namespace {

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kShell[] = L"explorer.exe";
// Window classes of the bar: its form and its application window.
const wchar_t* const kBarClasses[] = {L"TOrvane", L"TOrvaneApplication"};

bool WriteShellValue(HKEY root) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, kWinlogonKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    auto bytes = static_cast<DWORD>((wcslen(kShell) + 1) * sizeof(wchar_t));
    bool ok = RegSetValueExW(key, L"Shell", 0, REG_SZ, reinterpret_cast<const BYTE*>(kShell), bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

struct BarSearch {
    DWORD onlyPid;  // 0: any process
    std::set<DWORD> pids;
};

BOOL CALLBACK CollectBarWindow(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<BarSearch*>(lp);
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    for (const wchar_t* c : kBarClasses) {
        if (wcscmp(cls, c) != 0) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid && pid != GetCurrentProcessId() && (!s->onlyPid || pid == s->onlyPid)) s->pids.insert(pid);
    }
    return TRUE;
}

// Ends every process that owns a bar window; returns how many were ended.
int EndBar(DWORD onlyPid) {
    BarSearch s{onlyPid, {}};
    EnumWindows(CollectBarWindow, reinterpret_cast<LPARAM>(&s));
    int ended = 0;
    for (DWORD pid : s.pids) {
        HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!p) continue;
        if (TerminateProcess(p, 0)) {
            WaitForSingleObject(p, 5000);
            ++ended;
        }
        CloseHandle(p);
    }
    return ended;
}

bool Start(std::wstring commandLine) {
    wchar_t winDir[MAX_PATH] = {};
    GetWindowsDirectoryW(winDir, MAX_PATH);
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, winDir, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    std::wstring start = kShell;
    DWORD onlyPid = 0;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i + 1 < argc; i += 2) {
        if (wcscmp(argv[i], L"--start") == 0) start = argv[i + 1];
        else if (wcscmp(argv[i], L"--bar-pid") == 0) onlyPid = static_cast<DWORD>(wcstoul(argv[i + 1], nullptr, 10));
    }
    if (argv) LocalFree(argv);

    bool userOk = WriteShellValue(HKEY_CURRENT_USER);
    WriteShellValue(HKEY_LOCAL_MACHINE);  // needs administrator rights; the user's value suffices otherwise
    EndBar(onlyPid);
    bool started = Start(start);
    return userOk && started ? 0 : 1;
}
