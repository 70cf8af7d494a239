// Menu filtering per keystroke over large trees, and opening "Most Popular" as menu items over
// 100,000 launch rows. Prints a table (min / median / max ms); the shown-window rows need a
// display (run under Xvfb with Wine).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "SysUtils.h"
#include "Handles.h"
#include "Window.h"
#include "sqlite3.h"
#include "Platform.h"
#include "BenchClock.h"
#include "BenchFiles.h"

namespace {

struct TBenchMenu : TDKPopupMenu {
    using TDKPopupMenu::TDKPopupMenu;
    void ExecuteFilterText(TDKMenuItem*) override {}
};


void Row(const std::string& what, int runs, const std::function<void()>& fn, const char* goal = "") {
    std::vector<double> t = bench::SortedTimes(runs, fn);
    std::printf("| %-68s | %5d | %9.3f | %9.3f | %9.3f | %-13s |\n", what.c_str(), runs, t.front(), t[t.size() / 2],
                t.back(), goal);
}

void Header(const char* title) {
    std::printf("\n%s\n| %-68s | %5s | %9s | %9s | %9s | %-13s |\n", title, "operation", "runs", "min ms",
                "median ms", "max ms", "goal (median)");
    std::printf("|%s|-------|-----------|-----------|-----------|---------------|\n", std::string(70, '-').c_str());
}

const wchar_t* const kWords[] = {L"Notepad", L"Paint", L"Calculator", L"Media Player", L"WordPad",
                                 L"Sticky Notes", L"Snipping Tool", L"Command Prompt", L"Remote Desktop",
                                 L"Character Map"};

// A Programs-like tree: 30 top-level folders, subfolders of 20, leaves with realistic captions,
// `total` filterable items in all; the filter box last.
TDKMenuItem* BuildTree(TBenchMenu& menu, int total) {
    TDKMenuItem* root = menu.Items();
    root->AddMenuItem(TDKPopupMenu::MainTitleID, L"Programs", nullptr, true);
    int made = 0, n = 0;
    std::vector<TDKMenuItem*> folders;
    for (int f = 0; f < 30 && made < total; ++f, ++made)
        folders.push_back(root->AddMenuItem(0, L"Vendor " + std::to_wstring(f), nullptr, false, false, true));
    size_t next = 0;
    while (made < total) {
        TDKMenuItem* parent = folders[next++ % folders.size()];
        if (parent->Count() < 3 && made + 1 < total) {
            folders.push_back(
                parent->AddMenuItem(0, L"Suite " + std::to_wstring(made), nullptr, false, false, true));
            ++made;
        }
        for (int i = 0; i < 20 && made < total; ++i, ++made, ++n)
            parent->AddMenuItem(0, std::wstring(kWords[n % 10]) + L" " + std::to_wstring(n), nullptr, false, false,
                                true);
    }
    menu.AddFilter(L"Type to filter");
    return root;
}

void FilterRows(int total) {
    TBenchMenu menu(TMenuOwner{L"Programs", 0, RGB(20, 60, 120), nullptr});
    TDKMenuItem* root = BuildTree(menu, total);
    TDKMenuItem* box = menu.FindItem(TDKPopupMenu::FilterEditID);
    const std::wstring typed = L"notep";
    int k = 0;
    std::string size = std::to_string(total);
    Row(size + " items, one keystroke (\"n\" .. \"notep\", menu not shown)", 50,
        [&] { root->Filter(typed.substr(0, static_cast<size_t>(k++ % 5) + 1), box); }, total <= 10000 ? "< 2" : "");
    Row(size + " items, no match (\"zzz\")", 20, [&] { root->Filter(L"zzz", box); });
    Row(size + " items, empty text", 20, [&] { root->Filter(L"", box); });
    if (total <= 10000) {
        menu.Popup(100, 20);
        // Typed into the box itself, as a key does: the box's change runs the filter.
        HWND edit = nullptr;
        for (int r = 0; r < root->RowCount() && !edit; ++r)
            if (TMenuRowData* d = root->RowData(r); d && d->Edit) edit = d->Edit->Handle();
        k = 0;
        Row(size + " items, keystroke with the menu shown (rows, path)", 20, [&] {
            std::wstring text = typed.substr(0, static_cast<size_t>(k++ % 5) + 1);
            if (edit && IsWindow(edit)) SetWindowTextW(edit, text.c_str());
            else menu.FilterChanged(box, text);
        }, "< 16.7");
        Row(size + " items, the root window's rebuild alone (part of the above)", 20, [&] { root->FillListView(); });
        menu.Hide();
    }
}

// What the system alone costs when a shown menu window loses columns: a bare layered window of
// the size `from`, with its picture, is resized to `to` and handed a picture of that size, as a
// menu window is (made and grown back outside the timing).
std::vector<double> ResizeAndHandOver(SIZE from, SIZE to) {
    static const gui::WindowClass cls{L"OrvBenchResize", CS_DBLCLKS};
    gui::Window window;
    window.Create(cls, L"", WS_POPUP, WS_EX_LAYERED, 100, 20, from.cx, from.cy);
    HWND popup = window.Handle();
    auto picture = [](SIZE s, DWORD*& bits) {
        BITMAPINFO bi = TopDown32(s.cx, s.cy);
        void* b = nullptr;
        gui::BitmapHandle bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &b, nullptr, 0));
        bits = static_cast<DWORD*>(b);
        if (bits) std::fill_n(bits, static_cast<size_t>(s.cx) * s.cy, 0xC0204060u);
        return bmp;
    };
    DWORD *bigBits = nullptr, *smallBits = nullptr;
    gui::BitmapHandle big = picture(from, bigBits), small = picture(to, smallBits);
    gui::MemoryDCHandle bigDC(CreateCompatibleDC(nullptr)), smallDC(CreateCompatibleDC(nullptr));
    gui::SelectScope bigIn(bigDC.get(), big.get()), smallIn(smallDC.get(), small.get());
    POINT at{100, 20}, src{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(popup, nullptr, &at, &from, bigDC.get(), &src, 0, &blend, ULW_ALPHA);
    ShowWindow(popup, SW_SHOWNA);
    std::vector<double> t;
    for (int run = 0; run < 10; ++run) {
        SetWindowPos(popup, nullptr, 100, 20, from.cx, from.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        UpdateLayeredWindow(popup, nullptr, &at, &from, bigDC.get(), &src, 0, &blend, ULW_ALPHA);
        bench::Idle();
        double t0 = bench::Now();
        SetWindowPos(popup, nullptr, 100, 20, to.cx, to.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        UpdateLayeredWindow(popup, nullptr, &at, &to, smallDC.get(), &src, 0, &blend, ULW_ALPHA);
        t.push_back(bench::Now() - t0);
        bench::Idle();
    }
    std::sort(t.begin(), t.end());
    return t;
}

// Typing a file's name over a folder of `files` entries listed under a section of the menu, as
// the Programs menu lists the Desktop: the first key opens the folder's window with every entry;
// the keys after it narrow the window that is already shown.
void TypingOverFolder(int files) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring dir = std::wstring(tmp) + L"orv_filter_bench_dir_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    wchar_t name[32];
    for (int i = 0; i < files; ++i) {
        swprintf(name, 32, L"\\entry%04d.txt", i);
        bench::Touch(dir + name);
    }
    {
        TBenchMenu menu(TMenuOwner{L"Programs", 0, RGB(20, 60, 120), nullptr});
        TDKMenuItem* root = menu.Items();
        root->AddMenuItem(TDKPopupMenu::MainTitleID, L"All Programs", nullptr, true);
        TDKMenuItem* section = root->AddMenuItem(0, L"Desktop", nullptr, false, false, true);
        section->ExposeFolder(dir, true, 0xE0, 1);
        menu.AddFilter(L"Type Program Name...");
        TDKMenuItem* box = menu.FindItem(TDKPopupMenu::FilterEditID);
        menu.Popup(100, 20);
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5);  // resting aside
        auto type = [&](const std::wstring& text) {
            HWND edit = nullptr;
            for (int r = 0; r < root->RowCount() && !edit; ++r)
                if (TMenuRowData* d = root->RowData(r); d && d->Edit) edit = d->Edit->Handle();
            if (edit && IsWindow(edit)) SetWindowTextW(edit, text.c_str());
            else menu.FilterChanged(box, text);
        };
        const std::wstring word = L"entry0025";
        // "entry00" narrows the folder's window from every entry to a tenth of them: it loses
        // columns, so the system is handed a new window size and a whole picture.
        const size_t narrowing = 7;
        std::vector<double> first, later, narrow;
        SIZE wide{}, slim{};
        auto size = [&] {
            RECT r{};
            GetWindowRect(section->FormHandle(), &r);
            return SIZE{r.right - r.left, r.bottom - r.top};
        };
        for (int run = 0; run < 5; ++run) {
            type(L"");
            bench::Idle();
            for (size_t k = 1; k <= word.size(); ++k) {
                if (k == narrowing) wide = size();
                double t0 = bench::Now();
                type(word.substr(0, k));
                double t = bench::Now() - t0;
                (k == 1 ? first : later).push_back(t);
                if (k == narrowing) narrow.push_back(t), slim = size();
                bench::Idle();
            }
        }
        std::sort(first.begin(), first.end());
        std::sort(later.begin(), later.end());
        std::sort(narrow.begin(), narrow.end());
        auto row = [](const std::string& what, const std::vector<double>& t, const char* goal) {
            std::printf("| %-68s | %5zu | %9.3f | %9.3f | %9.3f | %-13s |\n", what.c_str(), t.size(), t.front(),
                        t[t.size() / 2], t.back(), goal);
        };
        std::string n = std::to_string(files);
        row(n + "-entry folder: first key, opens its window (\"e\")", first, "");
        row(n + "-entry folder shown: each later key (\"en\" .. \"entry0025\")", later, "< 16.7");
        row("of these, the key that takes columns away (\"entry00\")", narrow, "< 16.7");
        menu.Hide();
        row("  the system alone: " + std::to_string(wide.cx) + "x" +
                std::to_string(wide.cy) + " -> " + std::to_string(slim.cx) + "x" + std::to_string(slim.cy) +
                " layered, resize + picture",
            ResizeAndHandOver(wide, slim), "(the floor)");
    }
    bench::Remove(dir);
}

// Launch rows straight into the file: `launches` over `paths` targets of menu 0 within a week.
void FillLaunches(const std::wstring& file, int paths, int launches, const SYSTEMTIME& now) {
    { TDKData create(file); }
    gui::SqliteHandle db;
    sqlite3_open_v2(gui::ToUtf8(file).c_str(), db.put(), SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db.get(), "begin", nullptr, nullptr, nullptr);
    gui::SqliteStatementHandle p;
    sqlite3_prepare_v2(db.get(), "insert into ItemsPath (MID, Caption, Path) values (0, ?, ?)", -1, p.put(), nullptr);
    for (int i = 0; i < paths; ++i) {
        std::string path = "c:\\windows\\system32\\app" + std::to_string(i) + ".exe";
        std::string caption = "App " + std::to_string(i);
        sqlite3_bind_text(p.get(), 1, caption.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(p.get(), 2, path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(p.get());
        sqlite3_reset(p.get());
    }
    sqlite3_prepare_v2(db.get(), "insert into ExecItemTime (PID, ExecTime) values (?, ?)", -1, p.put(), nullptr);
    for (int i = 0; i < launches; ++i) {
        int pid = 1 + static_cast<int>((static_cast<long long>(i) * i) % paths);
        sqlite3_bind_int(p.get(), 1, pid);
        sqlite3_bind_double(p.get(), 2, TDKData::ToDateTime(TDKData::AddDays(now, -6.9 * (i + 1) / launches)));
        sqlite3_step(p.get());
        sqlite3_reset(p.get());
    }
    p.reset();
    sqlite3_exec(db.get(), "commit", nullptr, nullptr, nullptr);
}

void PopularRows() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring file = std::wstring(tmp) + L"orv_filter_bench_" + std::to_wstring(GetCurrentProcessId()) + L".pdb";
    DeleteFileW(file.c_str());
    SYSTEMTIME now;
    GetLocalTime(&now);
    FillLaunches(file, 200, 100000, now);
    DKData = std::make_unique<TDKData>(file);
    DKData->SetClock([&] { return now; });
    {
        TBenchMenu menu(TMenuOwner{L"Programs", 0, RGB(20, 60, 120), nullptr});
        menu.AddStatistics();
        TDKMenuItem* popular = menu.FindItem(TDKPopupMenu::MostPopularID);
        TDKMenuItem* recent = menu.FindItem(TDKPopupMenu::RecentID);
        Row("\"Most Popular\" as items (50 of 200 paths, 100,000 launches)", 20,
            [&] { popular->FOnBeforExpose(popular); }, "< 16.7");
        Row("\"Recent\" as items (same rows)", 20, [&] { recent->FOnBeforExpose(recent); });
        // Icons are looked up when their rows are first painted: on the first opening for the
        // eight shown rows, later from the kept indexes.
        auto open = [&] {
            popular->FOnBeforExpose(popular);
            popular->ShowAt(100, 20);
            popular->CloseWindow();
        };
        Row("\"Most Popular\" built, shown, painted, closed: first opening", 1, open);
        Row("\"Most Popular\" built, shown, painted, closed: later openings", 20, open);
        Row("the window alone: shown, painted, closed (part of the above)", 20, [&] {
            popular->ShowAt(100, 20);
            popular->CloseWindow();
        });
        Row("50 shell icon lookups alone (GetShellSmallIcon, part of the above)", 5, [&] {
            for (int i = 0; i < 50; ++i)
                DestroyIcon(GetShellSmallIcon(L"c:\\windows\\system32\\app" + std::to_wstring(i) + L".exe"));
        });
        Row("the data layer alone: ShowPopularList rows", 20, [&] { (void)DKData->ShowPopularList(0); });
        TDKMenuItem* entry = popular->GetItem(0);
        Row("figures of one entry (ShowPopularStat)", 20, [&] { entry->FOnBeforExpose(entry); });
        // Not saved: the bench leaves no rows behind it.
        DKData.reset();
    }
    DeleteFileW(file.c_str());
}

}  // namespace

int main() {
    gui::PlatformScope platform;
    gui::App().Initialize();

    Header("Filter per keystroke");
    for (int total : {1000, 10000, 100000}) FilterRows(total);
    TypingOverFolder(1000);
    Header("Statistics as menu items");
    PopularRows();

    FinalizeDKUtils();
    return 0;
}
