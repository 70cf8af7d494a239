// dkmonitor.exe: a hidden window the bar tells about log-off, restart and shutdown. Each
// session-end query is written as a line to dkmonitor.log beside the executable and accepted.
#include <windows.h>

#include <cstdio>
#include <string>

#include "Handles.h"

namespace {

const wchar_t kClassName[] = L"DKMonitor";
const wchar_t kTitle[] = L"Orvane Monitor";

std::wstring LogPath() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    size_t slash = p.find_last_of(L"\\/");
    return p.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"dkmonitor.log";
}

void WriteLogLine(WPARAM wp, LPARAM lp) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char line[160];
    int len = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u> WM_QUERYENDSESSION wParam=%llu lParam=%lld\r\n",
                       t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                       static_cast<unsigned long long>(wp), static_cast<long long>(lp));
    gui::KernelHandle f(CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return;
    DWORD written = 0;
    WriteFile(f.get(), line, static_cast<DWORD>(len), &written, nullptr);
}

LRESULT CALLBACK MonitorProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_QUERYENDSESSION:
        WriteLogLine(wp, lp);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    // The bar starts us each time it is created; one monitor is enough.
    if (FindWindowW(kClassName, kTitle)) return 0;
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = MonitorProc;
    wc.hInstance = inst;
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 1;
    // A hidden top-level window (not message-only) so FindWindow reaches it.
    HWND w = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, kTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst,
                             nullptr);
    if (!w) return 1;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
