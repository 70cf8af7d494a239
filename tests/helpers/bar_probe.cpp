// Reports what the running bar shows, as a user's tools would see it, for the end-to-end test.
//   bar_probe info        the bar window, its buttons, the work area, notification windows
//   bar_probe alpha       the blend value of each notification window, one line each
//   bar_probe endsession  sends the session-end query to the bar and prints the answer
//   bar_probe count F Q   prints the integer that query Q gives on the database file F
//   bar_probe cover S     an ordinary window over the top of the screen for S seconds (the
//                         pointer hooks see input only over a window of the session)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sqlite3.h"

namespace {

HWND Bar() { return FindWindowW(L"TOrvane", nullptr); }

void Info() {
    HWND bar = Bar();
    if (!bar) {
        std::printf("bar none\n");
    } else {
        RECT r;
        GetWindowRect(bar, &r);
        bool topmost = (GetWindowLongW(bar, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        std::printf("bar %ld %ld %ld %ld topmost %d visible %d\n", r.left, r.top, r.right - r.left,
                    r.bottom - r.top, topmost ? 1 : 0, IsWindowVisible(bar) ? 1 : 0);
        std::vector<HWND> buttons;
        EnumChildWindows(
            bar,
            [](HWND w, LPARAM lp) -> BOOL {
                wchar_t cls[64];
                GetClassNameW(w, cls, 64);
                if (lstrcmpW(cls, L"TDKButton") == 0) reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&buttons));
        for (HWND b : buttons) {
            RECT br;
            GetWindowRect(b, &br);
            std::printf("button %ld %ld %ld %ld\n", br.left - r.left, br.top - r.top, br.right - br.left,
                        br.bottom - br.top);
        }
    }
    if (FindWindowW(L"DKMonitor", L"Orvane Monitor")) std::printf("monitor\n");
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::printf("work %ld %ld %ld %ld\n", work.left, work.top, work.right, work.bottom);
    for (HWND w = FindWindowW(L"TDKMenuForm", nullptr); w; w = FindWindowExW(nullptr, w, L"TDKMenuForm", nullptr)) {
        if (!IsWindowVisible(w)) continue;
        RECT mr;
        GetWindowRect(w, &mr);
        std::printf("menu %ld %ld %ld %ld\n", mr.left, mr.top, mr.right - mr.left, mr.bottom - mr.top);
    }
    for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
         w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr)) {
        RECT nr;
        GetWindowRect(w, &nr);
        std::printf("notification %ld %ld %ld %ld visible %d\n", nr.left, nr.top, nr.right - nr.left,
                    nr.bottom - nr.top, IsWindowVisible(w) ? 1 : 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (std::strcmp(argv[1], "info") == 0) {
        Info();
        return 0;
    }
    if (std::strcmp(argv[1], "alpha") == 0) {
        for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
             w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr)) {
            BYTE alpha = 0;
            GetLayeredWindowAttributes(w, nullptr, &alpha, nullptr);
            std::printf("alpha %d\n", alpha);
        }
        return 0;
    }
    if (std::strcmp(argv[1], "endsession") == 0) {
        HWND bar = Bar();
        if (!bar) return 1;
        DWORD_PTR answer = 99;
        SendMessageTimeoutW(bar, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &answer);
        std::printf("answer %d\n", static_cast<int>(answer));
        return 0;
    }
    if (std::strcmp(argv[1], "count") == 0 && argc > 3) {
        sqlite3* db = nullptr;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_open(argv[2], &db) != SQLITE_OK ||
            sqlite3_prepare_v2(db, argv[3], -1, &st, nullptr) != SQLITE_OK || sqlite3_step(st) != SQLITE_ROW)
            return 1;
        std::printf("%lld\n", sqlite3_column_int64(st, 0));
        sqlite3_finalize(st);
        sqlite3_close(db);
        return 0;
    }
    if (std::strcmp(argv[1], "cover") == 0 && argc > 2) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"BarProbeCover";
        RegisterClassW(&wc);
        HWND w = CreateWindowExW(0, wc.lpszClassName, L"cover", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), 300, nullptr, nullptr, wc.hInstance, nullptr);
        DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
        MSG msg;
        while (IsWindow(w) && GetTickCount() < until) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(10);
        }
        return 0;
    }
    return 2;
}
