// Opens one plain application window per title given on the command line, like a small text
// editor would, and ends when the last of them is closed. Tests find the windows by title and
// retitle, activate, minimise or close them from outside.
#include <windows.h>

#include <shellapi.h>

namespace {

int g_open = 0;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY && --g_open == 0) PostQuitMessage(0);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int main() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"OrvaneTitledWindow";
    RegisterClassW(&wc);
    for (int i = 1; i < argc; ++i) {
        HWND w = CreateWindowExW(0, wc.lpszClassName, argv[i], WS_OVERLAPPEDWINDOW, 100 + 30 * i, 100 + 30 * i, 320,
                                 200, nullptr, nullptr, instance, nullptr);
        if (!w) continue;
        ++g_open;
        ShowWindow(w, SW_SHOWNOACTIVATE);
    }
    LocalFree(argv);
    if (g_open == 0) return 1;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
