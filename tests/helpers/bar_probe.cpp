// Reports what the running bar shows, as a user's tools would see it, for the end-to-end test.
//   bar_probe info        the bar window, its buttons, the work area, notification windows
//   bar_probe rows        every row of the visible menus: "row X Y caption" (X, Y the row's
//                         middle on the screen) and "edit L T R B text" for the rows' edit boxes
//   bar_probe find T      "X Y", the middle of the first visible window or control titled T
//   bar_probe alpha       the blend value of each notification window, one line each
//   bar_probe endsession  sends the session-end query to the bar and prints the answer
//   bar_probe count F Q   prints the integer that query Q gives on the database file F
//   bar_probe cover S     an ordinary window over the top of the screen for S seconds (the
//                         pointer hooks see input only over a window of the session)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Handles.h"
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

// The list views live in the bar's process: their rows are read through memory lent there.
void Rows() {
    for (HWND w = FindWindowW(L"TDKMenuForm", nullptr); w; w = FindWindowExW(nullptr, w, L"TDKMenuForm", nullptr)) {
        if (!IsWindowVisible(w)) continue;
        HWND list = FindWindowExW(w, nullptr, L"SysListView32", nullptr);
        if (!list) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(list, &pid);
        gui::KernelHandle owner(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (!owner) continue;
        HANDLE proc = owner.get();
        struct Remote {
            LVITEMW item;
            RECT rect;
            wchar_t text[260];
        };
        auto* remote = static_cast<Remote*>(VirtualAllocEx(proc, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE));
        int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; remote && i < n; ++i) {
            Remote local{};
            local.item.cchTextMax = 260;
            local.item.pszText = remote->text;
            local.rect.left = LVIR_BOUNDS;
            WriteProcessMemory(proc, remote, &local, sizeof local, nullptr);
            SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&remote->item));
            SendMessageW(list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&remote->rect));
            ReadProcessMemory(proc, remote, &local, sizeof local, nullptr);
            POINT mid{local.rect.left + 60, (local.rect.top + local.rect.bottom) / 2};
            ClientToScreen(list, &mid);
            std::printf("row %ld %ld %ls\n", mid.x, mid.y, local.text);
        }
        if (remote) VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
        for (HWND e = FindWindowExW(list, nullptr, L"Edit", nullptr); e; e = FindWindowExW(list, e, L"Edit", nullptr)) {
            if (!IsWindowVisible(e)) continue;
            RECT r;
            GetWindowRect(e, &r);
            wchar_t text[260] = {};
            // Another process's edit box: GetWindowText would give its creation text.
            DWORD_PTR got = 0;
            SendMessageTimeoutW(e, WM_GETTEXT, 260, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &got);
            std::printf("edit %ld %ld %ld %ld %ls\n", r.left, r.top, r.right, r.bottom, text);
        }
    }
}

struct Found {
    const wchar_t* text;
    HWND w;
};

BOOL CALLBACK FindTitled(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    wchar_t text[260] = {};
    GetWindowTextW(w, text, 260);
    if (IsWindowVisible(w) && lstrcmpW(text, f->text) == 0) f->w = w;
    else if (IsWindowVisible(w)) EnumChildWindows(w, FindTitled, lp);
    return f->w == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (std::strcmp(argv[1], "info") == 0) {
        Info();
        return 0;
    }
    if (std::strcmp(argv[1], "rows") == 0) {
        Rows();
        return 0;
    }
    if (std::strcmp(argv[1], "find") == 0 && argc > 2) {
        wchar_t text[260] = {};
        MultiByteToWideChar(CP_ACP, 0, argv[2], -1, text, 260);
        Found f{text, nullptr};
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&f));
        if (!f.w) return 1;
        RECT r;
        GetWindowRect(f.w, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
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
