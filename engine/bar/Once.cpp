#include "bar/Once.h"

#include <windows.h>

#include "Application.h"
#include "Handles.h"

namespace {
gui::KernelHandle g_mutex;
bool g_first = false;

// Text of a window read into a 512-character buffer, as the instance test does.
std::wstring Text512(HWND hwnd, bool className) {
    wchar_t buf[513] = {};
    if (className) GetClassNameW(hwnd, buf, 513);
    else GetWindowTextW(hwnd, buf, 513);
    return buf;
}
}  // namespace

bool IsFirstInstance() { return g_first; }

void GetInstanceMutexName(std::wstring& name) {
    name = L"PREVINST:" + Text512(gui::App().Handle(), false);
}

void InitializeOnce() {
    std::wstring name;
    GetInstanceMutexName(name);
    SetLastError(0);
    g_mutex.reset(CreateMutexW(nullptr, TRUE, name.c_str()));
    g_first = g_mutex && GetLastError() == 0;
}

void FinalizeOnce() {
    g_mutex.reset();
}

void ActivatePrevInstance() {
    HWND own = gui::App().Handle();
    std::wstring cls = Text512(own, true), title = Text512(own, false);
    HWND target = nullptr;
    for (HWND w = FindWindowW(cls.c_str(), title.c_str()); w;
         w = FindWindowExW(nullptr, w, cls.c_str(), title.c_str())) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId()) {
            target = w;
            break;
        }
    }
    if (!target) return;
    if (IsIconic(target)) {
        ShowWindow(target, SW_RESTORE);
        return;
    }
    SetForegroundWindow(target);
    HWND popup = GetLastActivePopup(target);
    if (popup && popup != target && IsWindowVisible(popup) && IsWindowEnabled(popup)) target = popup;
    BringWindowToTop(target);
}
