// Menu window painting costs: opening a 40-row window, one-row repaints (the 40 ms icon turn),
// full repaints, and opening a folder of 10,000 files from the Files menu as the bar does. Prints
// a table; needs a display (run under Xvfb with Wine).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <algorithm>

#include "Application.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "FilesMenu.h"
#include "menu/ShellIcon.h"
#include "util/DKUtils.h"
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

// The floor: a bare layered popup of the given size made, painted once and shown, as a menu
// window is; destroyed outside the timing.
double BarePopup(int w, int h) {
    static const gui::WindowClass cls{L"OrvBenchBare", CS_DBLCLKS};
    double t0 = Now();
    auto window = std::make_unique<gui::Window>();
    window->Create(cls, L"", WS_POPUP, WS_EX_LAYERED, 100, 20, w, h);
    HWND popup = window->Handle();
    BITMAPINFO bi = TopDown32(w, h);
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

// The pointer rests on Child's row in Window's window until the hover timer fires: the hover's
// own handler opens the row's submenu. Its time in ms.
double Hover(TDKMenuItem* Window, TDKMenuItem* Child) {
    for (int r = 0; Window && Child && r < Window->RowCount(); ++r) {
        if (Window->GetItem(Window->RowData(r)->ItemIndex) != Child) continue;
        RECT b = Window->RowBounds(r);
        POINT p{b.left + 60, (b.top + b.bottom) / 2};
        ClientToScreen(Window->FListView, &p);
        SetCursorPos(p.x, p.y);
        double t0 = Now();
        Window->HoldMouseTimerTick();
        return Now() - t0;
    }
    return -1;
}

// Rows on the screen whose icon is still to come.
int IconsToCome(const TDKMenuItem* Window) {
    int n = 0;
    for (int r = 0; r < Window->RowCount(); ++r) {
        if (!Window->RowInPicture(r)) continue;
        const TDKMenuItem* c = Window->GetItem(Window->RowData(r)->ItemIndex);
        n += c->FIconInGlobList && IsShellIconPending(reinterpret_cast<INT_PTR>(c->FIcon));
    }
    return n;
}

TDKMenuItem* ChildNamed(const TDKMenuItem* Item, const std::wstring& part) {
    for (int i = 0; Item && i < Item->Count(); ++i)
        if (Item->GetItem(i)->Caption().find(part) != std::wstring::npos) return Item->GetItem(i);
    return nullptr;
}

// A folder of 10,000 files (programs and icon files, each with an icon of its own, and text files
// sharing one, as a download folder holds them) beside drive C:'s root, opened from the Files
// menu as the bar does: the pointer rests on drive C: and then on the folder, and the hover opens
// it (captions, placeholders, commands and icons as the running bar makes them). Times from the
// hover until the window shows and until every row on the screen has its icon; then what the
// icon turn of one of its rows hands over.
void BigFolder(int files) {
    const std::wstring name = L"orv_bench_big_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring dir = L"C:\\" + name;
    const std::wstring icon = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\folder.ico";
    CreateDirectoryW(dir.c_str(), nullptr);
    for (int i = 0; i < files / 3; ++i) {
        wchar_t n[8];
        std::swprintf(n, 8, L"%04d", i);
        bench::Touch(dir + L"\\file " + n + L".txt");
        bench::Touch(dir + L"\\program " + n + L".exe");
        CopyFileW(icon.c_str(), (dir + L"\\picture " + n + L".ico").c_str(), FALSE);
    }
    InitializeFilesMenu();
    std::vector<double> shown, complete;
    Times turn{{0}}, scroll{{0}}, select{{0}};
    TDKMenuItem::THandOvers before{}, after{};
    int ticks = 0, width = 0;
    for (int run = 0; run < 5; ++run) {
        TFilesMenu menu(TMenuOwner{L"Files", 1, RGB(200, 160, 60), nullptr});
        TDKMenuItem* root = menu.RootItem();
        root->ShowAt(142, 21);
        TDKMenuItem* drive = ChildNamed(root, L"(C:)");
        Hover(root, drive);
        TDKMenuItem* big = ChildNamed(drive, name);
        double t0 = Now();
        double opened = Hover(drive, big);
        if (opened < 0 || !big->FormHandle()) {
            std::printf("the folder did not open\n");
            break;
        }
        shown.push_back(opened);
        while (IconsToCome(big) > 0 && Now() - t0 < 60000) {
            bench::Idle();
            Sleep(1);
        }
        complete.push_back(Now() - t0);
        if (run < 4) continue;
        RECT w{};
        GetWindowRect(big->FormHandle(), &w);
        width = w.right - w.left;
        Select(big, 10);
        bench::Idle();
        before = TDKMenuItem::HandOvers();
        turn = Times{bench::SortedTimes(100, [&] { big->RotateIconTimerTick(); })};
        after = TDKMenuItem::HandOvers();
        ticks = 100;
        // The pointer moving between two rows: the selection follows, the other rows' submenus
        // close.
        int next = 11;
        select = Times{bench::SortedTimes(40, [&] {
            RECT b = big->RowBounds(next);
            POINT at{(b.left + b.right) / 2, (b.top + b.bottom) / 2}, screen = at;
            ClientToScreen(big->FListView, &screen);
            SetCursorPos(screen.x, screen.y);
            SendMessageW(big->FListView, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
            next = next == 11 ? 10 : 11;
        })};
        // A notch of the wheel: one column's scroll, the rows' bounds following and the picture
        // painted and handed over again; back and forth.
        int step = 1;
        scroll = Times{bench::SortedTimes(40, [&] {
            big->ScrollColumns(step);
            step = -step;
        })};
    }
    FinalizeFilesMenu();
    bench::Remove(dir);
    if (shown.empty()) return;
    std::printf("| %-52s | %5s | %8s | %9s | %8s | %-22s |\n", ("folder of " + std::to_string(files) + " files").c_str(),
                "runs", "min ms", "median ms", "max ms", "goal (median)");
    std::printf("|%s|-------|----------|-----------|----------|------------------------|\n", std::string(54, '-').c_str());
    Row("Files > C: > folder: hover until the window shows", Sorted(shown), "< 300");
    Row("  hover until every row on the screen has its icon", Sorted(complete), "");
    Row("  icon-turn tick of a row of it", turn, "");
    Row("  one column's scroll (a wheel notch)", scroll, "");
    Row("  the pointer moving to another row", select, "");
    if (ticks == 0) return;
    std::printf("window width on screen: %d pixels; per tick handed over: %.2f whole windows, %.2f rows "
                "(goal 0 and 1), the last %ld x %ld pixels\n",
                width, static_cast<double>(after.Windows - before.Windows) / ticks,
                static_cast<double>(after.Rows - before.Rows) / ticks, after.LastRow.right - after.LastRow.left,
                after.LastRow.bottom - after.LastRow.top);
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
