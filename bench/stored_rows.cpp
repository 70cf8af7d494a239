// Building the Files menu over many stored rows, on a thread as the bar builds it: groups of 99
// favourites each, half of them files that exist and half paths that do not. Prints the build
// time, the memory and GDI objects the built menu holds, and the time to save it back.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Application.h"
#include "BenchClock.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "FilesMenu.h"
#include "SysUtils.h"
#include "Handles.h"
#include "sqlite3.h"

namespace {

// Files that exist, to point half of the favourites at.
std::vector<std::string> SystemFiles() {
    wchar_t dir[MAX_PATH] = {};
    GetSystemDirectoryW(dir, MAX_PATH);
    std::vector<std::string> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((std::wstring(dir) + L"\\*.dll").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return {gui::ToUtf8(gui::ExeFileName())};
    do out.push_back(gui::ToUtf8(std::wstring(dir) + L"\\" + fd.cFileName));
    while (out.size() < 200 && FindNextFileW(h, &fd));
    FindClose(h);
    return out;
}

// Scattered: every path in a folder of its own that does not exist (favourites left from a
// removed drive or folder), so no folder is listed once for many.
void WriteRows(const std::wstring& file, int rows, bool scattered) {
    gui::SqliteHandle db;
    sqlite3_open(gui::ToUtf8(file).c_str(), db.put());
    sqlite3_exec(db.get(), "delete from MenuItems; begin", nullptr, nullptr, nullptr);
    gui::SqliteStatementHandle s;
    sqlite3_prepare_v2(db.get(),
                       "insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath) "
                       "values (1, ?, ?, ?, ?, ?)",
                       -1, s.put(), nullptr);
    const std::vector<std::string> files = SystemFiles();
    int group = -1, position = 0;
    for (int i = 1; i <= rows; ++i) {
        const bool isGroup = i % 100 == 1;
        std::string path;
        if (!isGroup)
            path = scattered ? "C:\\nowhere " + std::to_string(i) + "\\file " + std::to_string(i) + ".txt"
                   : i % 2 ? files[static_cast<size_t>(i) % files.size()]
                           : "C:\\nowhere\\folder " + std::to_string(i / 1000) + "\\file " + std::to_string(i) + ".txt";
        sqlite3_bind_int(s.get(), 1, i);
        sqlite3_bind_int(s.get(), 2, isGroup ? -1 : group);
        sqlite3_bind_int(s.get(), 3, isGroup ? i : position++);
        const std::string caption = (isGroup ? "Group " : "Favourite ") + std::to_string(i);
        sqlite3_bind_text(s.get(), 4, caption.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s.get(), 5, path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(s.get());
        sqlite3_reset(s.get());
        if (isGroup) group = i, position = 0;
    }
    s.reset();
    sqlite3_exec(db.get(), "commit", nullptr, nullptr, nullptr);
}

// Live GDI objects of this process (Wine answers GetGuiResources with 0: walk the handle table).
int GdiObjectCount() {
    if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return static_cast<int>(n);
    int count = 0;
    for (UINT_PTR i = 1; i <= 0xFFFF; ++i)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(i))) ++count;
    return count;
}

double PrivateMB() {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc));
    return static_cast<double>(pmc.PagefileUsage) / (1024.0 * 1024.0);
}

struct Result {
    double BuildMs = 0, SaveMs = 0, MB = 0;
    int Gdi = 0;
    bool Built = false;
};

Result Measure() {
    Result r;
    std::unique_ptr<TDKPopupMenu> menu;
    const double mb = PrivateMB();
    const int gdi = GdiObjectCount();
    double start = bench::Now();
    // A menu-building thread: its own apartment and the stack the bar gives it.
    std::thread t([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        try {
            menu.reset(new TFilesMenu(TMenuOwner{L"Files", 1, RGB(40, 120, 40), nullptr}));
        } catch (...) {
        }
        CoUninitialize();
    });
    t.join();
    r.BuildMs = bench::Now() - start;
    r.Built = menu != nullptr;
    r.MB = PrivateMB() - mb;
    r.Gdi = GdiObjectCount() - gdi;
    start = bench::Now();
    menu.reset();
    r.SaveMs = bench::Now() - start;
    return r;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    gui::App().Initialize();
    InitializeFilesMenu();
    TFilesMenu::SetDriveListing([](TDKMenuItem*, LPCITEMIDLIST) {});
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring db = std::wstring(tmp) + L"orv_bench_stored_" + std::to_wstring(GetCurrentProcessId()) + L".pdb";
    DKData = std::make_unique<TDKData>(db);

    std::printf("| %-38s | %9s | %9s | %9s | %8s | %-14s |\n", "stored rows in the Files menu", "build ms",
                "held MB", "GDI objs", "save ms", "goal (build)");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(40, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(11, '-').c_str(), std::string(10, '-').c_str(),
                std::string(16, '-').c_str());
    struct Case {
        int Rows;
        bool Scattered;
        const char* Goal;
    };
    const Case cases[] = {{0, false, ""},         {2000, false, ""},        {20000, false, ""},
                          {200000, false, "< 3000 ms"}, {20000, true, ""}, {200000, true, ""}};
    const int limit = std::getenv("ORVANE_BENCH_MAX_ROWS") ? std::atoi(std::getenv("ORVANE_BENCH_MAX_ROWS")) : 200000;
    for (const Case& c : cases) {
        if (c.Rows > limit) continue;
        DKData.reset();
        WriteRows(db, c.Rows, c.Scattered);
        DKData = std::make_unique<TDKData>(db);
        Result r = Measure();
        std::string name = std::to_string(c.Rows) + (c.Scattered ? ", a missing folder each" : "");
        if (!r.Built) name += " (not built)";
        std::printf("| %-38s | %9.0f | %9.1f | %9d | %8.0f | %-14s |\n", name.c_str(), r.BuildMs, r.MB, r.Gdi,
                    r.SaveMs, c.Goal);
        std::fflush(stdout);
    }
    DKData.reset();
    DeleteFileW(db.c_str());
    FinalizeFilesMenu();
    FinalizeDKUtils();
    return 0;
}
