// Menu window painting costs: opening a 40-row window, one-row repaints (the 40 ms icon turn),
// full repaints, and opening a folder of 10,000 files. Prints a table; needs a display (run
// under Xvfb with Wine).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "Application.h"
#include "Configs.h"
#include "DKComponents.h"
#include "SysUtils.h"
#include "PlainMenu.h"
#include "BenchClock.h"
#include "BenchFiles.h"
#include "Handles.h"

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
    Result turning{0, 0};
    if (folder && folder->RowCount() > 0) {
        Select(folder, 0);
        turning = Measure(100, [&] { folder->RotateIconTimerTick(); });
    }
    RECT w{};
    if (folder) GetWindowRect(folder->FormHandle(), &w);
    std::printf("%-52s %10.1f\n", (std::to_string(files) + "-file folder opened as a submenu, ms").c_str(), shown);
    std::printf("%-52s %10.1f\n", "  of which reading the folder, ms", read);
    std::printf("%-52s %10ld\n", "  window width on screen, pixels", static_cast<long>(w.right - w.left));
    std::printf("%-52s %10.3f\n", "  icon-turn tick of its first row, ms", turning.mean);
    root->CloseWindow();
    bench::Remove(base);
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
        // Rows are made before the window opens, so the first measure is ShowAt and its paint.
        Result open = Measure(10, [&] {
            TPlainMenu menu;
            Fill(menu.RootItem(), icon);
            double t0 = Now();
            menu.RootItem()->ShowAt(100, 20);
            (void)t0;
        });
        // The same, without the tree building and freeing, for a cleaner ShowAt figure.
        TPlainMenu menu;
        TDKMenuItem* root = menu.RootItem();
        Fill(root, icon);
        Result showAt = Measure(10, [&] {
            root->CloseWindow();
            root->ShowAt(100, 20);
        });
        Result full = Measure(50, [&] { root->UpdateWindow(-1, false); });
        Result one = Measure(200, [&] { root->UpdateWindow(5, false); });
        HWND form = root->FormHandle();
        Result handWhole = Measure(100, [&] {
            UpdateLayeredWindow(form, nullptr, &root->pt1, &root->sz, root->DC.get(), &root->pt2, 0, &root->bf, ULW_ALPHA);
        });
        RECT dirty = root->RowBounds(5);
        Result handRow = Measure(100, [&] {
            UPDATELAYEREDWINDOWINFO info{sizeof(info), nullptr, &root->pt1, &root->sz, root->DC.get(), &root->pt2, 0,
                                         &root->bf, ULW_ALPHA, &dirty};
            UpdateLayeredWindowIndirect(form, &info);
        });
        Select(root, 5);
        Result turning = Measure(200, [&] { root->RotateIconTimerTick(); });
        Result fullSelected = Measure(50, [&] { root->UpdateWindow(-1, false); });

        std::printf("%-52s %10s %10s\n", "operation (40-row window)", "mean ms", "best ms");
        std::printf("%-52s %10.3f %10.3f\n", "build tree + ShowAt + first paint + free", open.mean, open.best);
        std::printf("%-52s %10.3f %10.3f\n", "CloseWindow + ShowAt + first paint", showAt.mean, showAt.best);
        std::printf("%-52s %10.3f %10.3f\n", "full repaint (UpdateWindow -1)", full.mean, full.best);
        std::printf("%-52s %10.3f %10.3f\n", "full repaint with a selected row", fullSelected.mean, fullSelected.best);
        std::printf("%-52s %10.3f %10.3f\n", "single-row repaint (UpdateWindow 5)", one.mean, one.best);
        std::printf("%-52s %10.3f %10.3f\n", "icon-turn tick (selected row with icon)", turning.mean, turning.best);
        std::printf("%-52s %10.3f %10.3f\n", "hand-over only, whole picture", handWhole.mean, handWhole.best);
        std::printf("%-52s %10.3f %10.3f\n", "hand-over only, one row marked dirty", handRow.mean, handRow.best);
        std::printf("goals: full paint < 8 ms, single row < 1 ms\n");
    }
    BigFolder(10000);
    owned.reset();
    Gdiplus::GdiplusShutdown(token);
    CoUninitialize();
    return 0;
}
