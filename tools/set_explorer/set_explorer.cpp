// set_explorer.exe: restores the default shell. Writes "explorer.exe" as the Winlogon Shell value
// (current user, and the machine where the account may), ends the running bar as a session end
// would (it refuses to close otherwise) and starts explorer.exe.
//
// Started without arguments by the bar. Two switches exist for the tests:
//   --start <command line>  start this instead of explorer.exe
//   --bar-pid <id>          end only the bar windows of this process (other bars may be running)
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "Handles.h"

namespace {

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kShell[] = L"explorer.exe";
// Window classes of the bar: its form and its application window.
const wchar_t kBarForm[] = L"TOrvane";
const wchar_t* const kBarClasses[] = {kBarForm, L"TOrvaneApplication"};
// How long the bar may take to save and end before it is terminated.
constexpr DWORD kEndTimeoutMs = 10000;

bool WriteShellValue(HKEY root) {
    gui::RegKeyHandle key;
    if (RegCreateKeyExW(root, kWinlogonKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    auto bytes = static_cast<DWORD>((wcslen(kShell) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), L"Shell", 0, REG_SZ, reinterpret_cast<const BYTE*>(kShell), bytes) == ERROR_SUCCESS;
}

struct BarSearch {
    DWORD onlyPid;  // 0: any process
    std::map<DWORD, std::vector<HWND>> forms;  // bar processes and their form windows
};

BOOL CALLBACK CollectBarWindow(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<BarSearch*>(lp);
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    for (const wchar_t* c : kBarClasses) {
        if (wcscmp(cls, c) != 0) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (!pid || pid == GetCurrentProcessId() || (s->onlyPid && pid != s->onlyPid)) continue;
        auto& forms = s->forms[pid];
        if (wcscmp(c, kBarForm) == 0) forms.push_back(w);
    }
    return TRUE;
}

// Ends every process that owns a bar window the way a session end does, so that its own teardown
// saves the settings and the menus; one that has not ended within kEndTimeoutMs is terminated.
// Returns how many ended.
int EndBar(DWORD onlyPid) {
    BarSearch s{onlyPid, {}};
    EnumWindows(CollectBarWindow, reinterpret_cast<LPARAM>(&s));
    const ULONGLONG deadline = GetTickCount64() + kEndTimeoutMs;
    auto left = [&] {
        ULONGLONG now = GetTickCount64();
        return static_cast<DWORD>(now < deadline ? deadline - now : 0);
    };
    std::vector<gui::KernelHandle> bars;
    for (const auto& [pid, forms] : s.forms) {
        gui::KernelHandle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!p) continue;
        // The bar answers the query with a refusal once its teardown is done, then ends.
        for (HWND f : forms) {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(f, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, left(), &answer);
        }
        bars.push_back(std::move(p));
    }
    int ended = 0;
    for (const gui::KernelHandle& p : bars) {
        if (WaitForSingleObject(p.get(), left()) != WAIT_OBJECT_0) {
            if (!TerminateProcess(p.get(), 0)) continue;
            WaitForSingleObject(p.get(), 5000);
        }
        ++ended;
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
    gui::KernelHandle thread(pi.hThread), process(pi.hProcess);
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
