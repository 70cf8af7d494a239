// Menu window painting costs: opening a 40-row window, one-row repaints (the 40 ms icon turn),
// full repaints, and opening a folder of 10,000 files. Prints a table; needs a display (run
// under Xvfb with Wine).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <algorithm>

#include "Application.h"
#include "Configs.h"
#include "DKComponents.h"
#include "SysUtils.h"
#include "PlainMenu.h"
#include "BenchClock.h"
#include "BenchFiles.h"
#include "Handles.h"
#include "Window.h"

namespace {

using bench::Measure;
using bench::Now;
using bench::Result;

void Fill(TDKMenuItem* root, HICON icon) {
    for (int i = 0; i < 40; ++i) {
        TDKMenuItem* mi = root->AddMenuItem(i + 1, L"Menu entry number " + std::to_wstring(i) + L" with some text");
        mi->FIcon = icon;
        if (i % 7 == 0) mi->AddMenuItem(0, L"Empty");
        if (i % 9 == 0) mi->FChecked = true;
        if (i == 20) mi->FGroupTitle = true;
    }
}

void Select(TDKMenuItem* root, int row) {
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(root->FListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
}

// A folder of `files` empty files opened as a submenu of the window listing its parent: the
// time to show it, and how much of that is the shell reading the folder.
void BigFolder(int files) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring base = std::wstring(tmp) + L"orv_bench_big_" + std::to_wstring(GetCurrentProcessId());
    std::wstring dir = base + L"\\big";
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW(dir.c_str(), nullptr);
    for (int i = 0; i < files; ++i) bench::Touch(dir + L"\\file number " + std::to_wstring(i) + L".txt");
    TPlainMenu menu;
    TDKMenuItem* root = menu.RootItem();
    root->ExposeFolder(base, false, 224, 1);
    root->ShowAt(100, 20);
    TDKMenuItem* folder = root->Count() ? root->GetItem(0) : nullptr;
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5);  // resting aside
    // Reading the folder alone, then the whole opening (which reads it again).
    double t0 = Now();
    if (folder) folder->DoExposeItemIDList(folder);
    double read = Now() - t0;
    t0 = Now();
    if (folder) root->OpenChildAt(folder, root->RowBounds(0));
    double shown = Now() - t0;
    // Closed and opened again: the folder is read afresh into the window kept from the first.
    if (folder) folder->CloseWindow();
    t0 = Now();
    if (folder) root->OpenChildAt(folder, root->RowBounds(0));
    double again = Now() - t0;
    Result turning{0, 0};
    if (folder && folder->RowCount() > 0) {
        Select(folder, 0);
        turning = Measure(100, [&] { folder->RotateIconTimerTick(); });
    }
    // A notch of the wheel: one column's scroll, the rows' bounds following and the picture
    // painted and handed over again; back and forth.
    Result scroll{0, 0};
    if (folder && folder->RowCount() > 0) {
        int step = 1;
        scroll = Measure(40, [&] {
            folder->ScrollColumns(step);
            step = -step;
        });
    }
    RECT w{};
    if (folder) GetWindowRect(folder->FormHandle(), &w);
    std::printf("%-52s %10.1f\n", (std::to_string(files) + "-file folder opened as a submenu, ms").c_str(), shown);
    std::printf("%-52s %10.1f\n", "  of which reading the folder, ms", read);
    std::printf("%-52s %10.1f\n", "  opened again after closing, ms", again);
    std::printf("%-52s %10ld\n", "  window width on screen, pixels", static_cast<long>(w.right - w.left));
    std::printf("%-52s %10.3f\n", "  icon-turn tick of its first row, ms", turning.mean);
    std::printf("%-52s %10.3f\n", "  one column's scroll (a wheel notch), ms", scroll.mean);
    root->CloseWindow();
    bench::Remove(base);
}


// The floor: a bare layered popup of the given size made, painted once and shown, as a menu
// window is; destroyed outside the timing.
double BarePopup(int w, int h) {
    static const gui::WindowClass cls{L"OrvBenchBare", CS_DBLCLKS};
    double t0 = Now();
    auto window = std::make_unique<gui::Window>();
    window->Create(cls, L"", WS_POPUP, WS_EX_LAYERED, 100, 20, w, h);
    HWND popup = window->Handle();
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(bi.bmiHeader), w, -h, 1, 32, BI_RGB};
    void* bits = nullptr;
    gui::BitmapHandle pic(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    gui::MemoryDCHandle dc(CreateCompatibleDC(nullptr));
    gui::SelectScope in(dc.get(), pic.get());
    std::fill_n(static_cast<DWORD*>(bits), static_cast<size_t>(w) * h, 0xC0204060u);
    POINT at{100, 20}, src{0, 0};
    SIZE size{w, h};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(popup, nullptr, &at, &size, dc.get(), &src, 0, &blend, ULW_ALPHA);
    ShowWindow(popup, SW_SHOWNA);
    double t = Now() - t0;
    window.reset();
    return t;
}

struct Times {
    std::vector<double> t;
    double Median() const { return t.empty() ? 0 : t[t.size() / 2]; }
};

Times Sorted(std::vector<double> t) {
    std::sort(t.begin(), t.end());
    return Times{std::move(t)};
}

void Row(const char* what, const Times& r, const std::string& goal) {
    std::printf("| %-52s | %5zu | %8.3f | %9.3f | %8.3f | %-22s |\n", what, r.t.size(), r.t.front(), r.Median(),
                r.t.back(), goal.c_str());
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    gui::App().Initialize();
    std::wstring iconFile = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\folder.ico";
    gui::IconHandle owned(
        static_cast<HICON>(LoadImageW(nullptr, iconFile.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE)));
    HICON icon = owned.get();
    {
        // A window opened for the first time (rows made beforehand, freed afterwards) and the bare
        // popup of its size, taken in turns so both see the same machine.
        SIZE size{230, 858};
        std::vector<double> firstOpen, floor, buildOpenFree;
        for (int i = 0; i < 20; ++i) {
            double t0 = Now();
            auto menu = std::make_unique<TPlainMenu>();
            Fill(menu->RootItem(), icon);
            double t1 = Now();
            menu->RootItem()->ShowAt(100, 20);
            double t2 = Now();
            RECT w{};
            GetWindowRect(menu->RootItem()->FormHandle(), &w);
            size = SIZE{w.right - w.left, w.bottom - w.top};
            menu.reset();
            buildOpenFree.push_back(Now() - t0);
            firstOpen.push_back(t2 - t1);
            floor.push_back(BarePopup(size.cx, size.cy));
        }
        TPlainMenu menu;
        TDKMenuItem* root = menu.RootItem();
        Fill(root, icon);
        root->ShowAt(100, 20);
        Times reopen = Times{bench::SortedTimes(30, [&] {
            root->CloseWindow();
            root->ShowAt(100, 20);
        })};
        Times full = Times{bench::SortedTimes(50, [&] { root->UpdateWindow(-1, false); })};
        Times one = Times{bench::SortedTimes(200, [&] { root->UpdateWindow(5, false); })};
        HWND form = root->FormHandle();
        Times handWhole = Times{bench::SortedTimes(100, [&] {
            UpdateLayeredWindow(form, nullptr, &root->pt1, &root->sz, root->DC.get(), &root->pt2, 0, &root->bf, ULW_ALPHA);
        })};
        RECT dirty = root->RowBounds(5);
        Times handRow = Times{bench::SortedTimes(100, [&] {
            UPDATELAYEREDWINDOWINFO info{sizeof(info), nullptr, &root->pt1, &root->sz, root->DC.get(), &root->pt2, 0,
                                         &root->bf, ULW_ALPHA, &dirty};
            UpdateLayeredWindowIndirect(form, &info);
        })};
        Select(root, 5);
        Times turning = Times{bench::SortedTimes(200, [&] { root->RotateIconTimerTick(); })};
        Times fullSelected = Times{bench::SortedTimes(50, [&] { root->UpdateWindow(-1, false); })};

        Times opened = Sorted(firstOpen), bare = Sorted(floor);
        // Each opening against the floor taken right after it: under Wine the machine swings
        // between a fast and a slow pace, and a pair mostly sees one of them.
        std::vector<double> ratios;
        for (size_t i = 0; i < firstOpen.size(); ++i) ratios.push_back(firstOpen[i] / floor[i]);
        Times paired = Sorted(ratios);
        char ratio[64];
        std::snprintf(ratio, sizeof ratio, "< %.1f (1.3 x floor)", 1.3 * bare.Median());
        std::printf("| %-52s | %5s | %8s | %9s | %8s | %-22s |\n", "operation (40-row window)", "runs", "min ms",
                    "median ms", "max ms", "goal (median)");
        std::printf("|%s|-------|----------|-----------|----------|------------------------|\n",
                    std::string(54, '-').c_str());
        Row("bare layered popup of that size: make, paint, show", bare, "(the floor)");
        Row("first opening: ShowAt + first paint", opened, ratio);
        Row("first opening / floor of its turn (a ratio, not ms)", paired, "<= 1.3");
        Row("build tree + ShowAt + first paint + free", Sorted(buildOpenFree), "");
        Row("CloseWindow + ShowAt + first paint", reopen, "< 16.7");
        Row("full repaint (UpdateWindow -1)", full, "< 8");
        Row("full repaint with a selected row", fullSelected, "< 8");
        Row("single-row repaint (UpdateWindow 5)", one, "< 1");
        Row("icon-turn tick (selected row with icon)", turning, "");
        Row("hand-over only, whole picture", handWhole, "");
        Row("hand-over only, one row marked dirty", handRow, "");
    }
    BigFolder(10000);
    owned.reset();
    Gdiplus::GdiplusShutdown(token);
    CoUninitialize();
    return 0;
}
