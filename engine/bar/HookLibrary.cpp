#include "bar/HookLibrary.h"

#include "SysUtils.h"

namespace {

struct THookLibrary {
    std::wstring FileName;
    std::wstring Error;
    TSetHookProc SetKeyBoard = nullptr, SetMouse = nullptr, SetShell = nullptr;
    TRemoveHookProc RemoveKeyBoard = nullptr, RemoveMouse = nullptr, RemoveShell = nullptr;
};

template <class F>
bool Entry(HMODULE lib, const char* name, F& f, std::wstring& error) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
    if (!f) error = L"it has no entry point " + gui::FromAnsi(name);
    return f != nullptr;
}

// Loaded once and never freed: the hooks it installs live as long as the process.
const THookLibrary& Library() {
    static const THookLibrary lib = [] {
        THookLibrary l;
        l.FileName = gui::ExeDir() + L"hk.dll";
        HMODULE m = LoadLibraryExW(l.FileName.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!m) {
            l.Error = gui::Trim(gui::SysErrorMessage(GetLastError()));
            return l;
        }
        THookLibrary found = l;
        bool all = Entry(m, "SetKeyBoardHook", found.SetKeyBoard, found.Error) &&
                   Entry(m, "SetMouseHook", found.SetMouse, found.Error) &&
                   Entry(m, "SetShellHook", found.SetShell, found.Error) &&
                   Entry(m, "RemoveKeyBoardHook", found.RemoveKeyBoard, found.Error) &&
                   Entry(m, "RemoveMouseHook", found.RemoveMouse, found.Error) &&
                   Entry(m, "RemoveShellHook", found.RemoveShell, found.Error);
        if (all) return found;
        // Half a library is none: no hook of it is ever set.
        l.Error = found.Error;
        FreeLibrary(m);
        return l;
    }();
    return lib;
}

}  // namespace

bool HookLibraryLoaded() { return Library().Error.empty(); }
std::wstring HookLibraryFileName() { return Library().FileName; }
std::wstring HookLibraryError() { return Library().Error; }

extern "C" {
BOOL WINAPI SetKeyBoardHook(HWND wnd) { return Library().SetKeyBoard ? Library().SetKeyBoard(wnd) : FALSE; }
BOOL WINAPI SetMouseHook(HWND wnd) { return Library().SetMouse ? Library().SetMouse(wnd) : FALSE; }
BOOL WINAPI SetShellHook(HWND wnd) { return Library().SetShell ? Library().SetShell(wnd) : FALSE; }
BOOL WINAPI RemoveKeyBoardHook() { return Library().RemoveKeyBoard ? Library().RemoveKeyBoard() : FALSE; }
BOOL WINAPI RemoveMouseHook() { return Library().RemoveMouse ? Library().RemoveMouse() : FALSE; }
BOOL WINAPI RemoveShellHook() { return Library().RemoveShell ? Library().RemoveShell() : FALSE; }
}
