// Another program of the session with a Windows-key shortcut: an ordinary window that registers
// Win+Z and writes what reaches it to the file named on its command line, one line each:
// "hotkey" for each WM_HOTKEY, "char C" for each character typed into it.
//   hotkey_window <file> [left top width height]
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

FILE* g_out = nullptr;

void Note(const char* line) {
    std::fputs(line, g_out);
    std::fputc('\n', g_out);
    std::fflush(g_out);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_HOTKEY:
        Note("hotkey");
        return 0;
    case WM_CHAR: {
        wchar_t c[2] = {static_cast<wchar_t>(wp), 0};
        char utf8[8] = {};
        WideCharToMultiByte(CP_UTF8, 0, c, 1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        Note(("char " + std::string(utf8)).c_str());
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2 || !(g_out = _wfopen(argv[1], L"wb"))) return 1;
    int place[4] = {400, 600, 480, 240};
    for (int i = 0; i < 4 && i + 2 < argc; ++i) place[i] = _wtoi(argv[i + 2]);
    LocalFree(argv);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_IBEAM);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"OrvaneHotkeyWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, L"Hotkey Window", WS_OVERLAPPEDWINDOW, place[0], place[1], place[2],
                             place[3], nullptr, nullptr, instance, nullptr);
    if (!w) return 1;
    if (!RegisterHotKey(w, 1, MOD_WIN, 'Z')) Note("no hotkey");
    ShowWindow(w, SW_SHOWNORMAL);
    Note("ready");
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    std::fclose(g_out);
    return 0;
}
