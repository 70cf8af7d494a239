// Stands in for a running bar: owns a "TOrvane" form window and a "TOrvaneApplication" window and,
// like the bar, refuses to close. With "--mark <file>" it only writes its command line to the
// file and ends (a stand-in for a program that set_explorer starts). With "--monitor" it first
// starts dkmonitor.exe as the bar does.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <initializer_list>

#include "util/DKUtils.h"

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc >= 3 && wcscmp(argv[1], L"--mark") == 0) {
        HANDLE f = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return 1;
        const wchar_t* cmd = GetCommandLineW();
        DWORD written = 0;
        WriteFile(f, cmd, static_cast<DWORD>(wcslen(cmd) * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(f);
        return 0;
    }
    if (argc >= 2 && wcscmp(argv[1], L"--monitor") == 0) StartProgram(L"\"dkmonitor.exe\"", SW_SHOWNORMAL);
    auto proc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_CLOSE || m == WM_QUERYENDSESSION) return 0;
        return DefWindowProcW(w, m, wp, lp);
    };
    for (const wchar_t* cls : {L"TOrvaneApplication", L"TOrvane"}) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = cls;
        RegisterClassW(&wc);
        CreateWindowExW(WS_EX_TOOLWINDOW, cls, L"Orvane", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                        GetModuleHandleW(nullptr), nullptr);
    }
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return 0;
}
