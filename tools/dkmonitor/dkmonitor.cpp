// dkmonitor.exe: a hidden window the bar tells about log-off, restart and shutdown. Each
// session-end query is written as a line to dkmonitor.log beside the executable and accepted.
// It ends with the program that started it (the bar), however that one ends.
#include <windows.h>
#include <tlhelp32.h>

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

// The process that started this one, or null when it has already gone (its id may then name
// a newer process, which is told apart by having started after us).
HANDLE OpenStarter() {
    DWORD self = GetCurrentProcessId(), parent = 0;
    gui::KernelHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snap.get() == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32W pe{sizeof(pe)};
    for (BOOL more = Process32FirstW(snap.get(), &pe); more; more = Process32NextW(snap.get(), &pe))
        if (pe.th32ProcessID == self) parent = pe.th32ParentProcessID;
    if (!parent) return nullptr;
    HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
    if (!p) return nullptr;
    FILETIME parentStart, selfStart, unused1, unused2, unused3;
    if (!GetProcessTimes(p, &parentStart, &unused1, &unused2, &unused3) ||
        !GetProcessTimes(GetCurrentProcess(), &selfStart, &unused1, &unused2, &unused3) ||
        CompareFileTime(&parentStart, &selfStart) > 0) {
        CloseHandle(p);
        return nullptr;
    }
    return p;
}

// Another monitor may belong to a bar that has just ended and be about to go with it.
bool OtherMonitorStays() {
    for (int i = 0; i < 40; ++i) {
        if (!FindWindowW(kClassName, kTitle)) return false;
        Sleep(50);
    }
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    // The bar starts us each time it is created; one monitor is enough.
    if (OtherMonitorStays()) return 0;
    gui::KernelHandle starter(OpenStarter());
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = MonitorProc;
    wc.hInstance = inst;
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 1;
    // A hidden top-level window (not message-only) so FindWindow reaches it.
    HWND w = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, kTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst,
                             nullptr);
    if (!w) return 1;
    HANDLE waits[1] = {starter.get()};
    DWORD count = starter ? 1 : 0;
    for (;;) {
        // Messages first: a session-end query posted just before the bar ended is still recorded.
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) return 0;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (MsgWaitForMultipleObjects(count, waits, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 && count) {
            DestroyWindow(w);
            count = 0;
        }
    }
}
