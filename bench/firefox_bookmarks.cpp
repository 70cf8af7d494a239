// Building the Internet menu with Firefox bookmark trees of growing size: the places database
// is made here in a fake profile (the user's application-data folder is pointed at it while the
// program runs and put back at the end). Prints min / median / max in milliseconds.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Application.h"
#include "BenchClock.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "InternetMenu.h"
#include "Registry.h"
#include "SysUtils.h"
#include "Handles.h"
#include "sqlite3.h"

namespace {

const wchar_t* const kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
// Where the shell notes the folder it found.
const wchar_t* const kFoundFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Folders of `perFolder` bookmarks each under the bookmarks menu, with a separator every tenth row.
void WritePlaces(const std::wstring& file, int folders, int perFolder) {
    DeleteFileW(file.c_str());
    gui::SqliteHandle db;
    sqlite3_open(gui::ToUtf8(file).c_str(), db.put());
    sqlite3_exec(db.get(),
                 "pragma journal_mode = wal;"
                 "create table moz_places (id integer primary key, url text);"
                 "create table moz_bookmarks (id integer primary key, type integer, fk integer, parent integer,"
                 " position integer, title text);"
                 "create index moz_bookmarks_itemindex on moz_bookmarks (parent, position);"
                 "begin;",
                 nullptr, nullptr, nullptr);
    gui::SqliteStatementHandle b;
    gui::SqliteStatementHandle p;
    sqlite3_prepare_v2(db.get(), "insert into moz_bookmarks values (?, ?, ?, ?, ?, ?)", -1, b.put(), nullptr);
    sqlite3_prepare_v2(db.get(), "insert into moz_places values (?, ?)", -1, p.put(), nullptr);
    auto bookmark = [&](int id, int type, int fk, int parent, int pos, const std::string& title) {
        sqlite3_bind_int(b.get(), 1, id);
        sqlite3_bind_int(b.get(), 2, type);
        if (fk)
            sqlite3_bind_int(b.get(), 3, fk);
        else
            sqlite3_bind_null(b.get(), 3);
        sqlite3_bind_int(b.get(), 4, parent);
        sqlite3_bind_int(b.get(), 5, pos);
        if (title.empty())
            sqlite3_bind_null(b.get(), 6);
        else
            sqlite3_bind_text(b.get(), 6, title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(b.get());
        sqlite3_reset(b.get());
    };
    bookmark(1, 2, 0, 0, 0, "");
    bookmark(2, 2, 0, 1, 0, "menu");
    int id = 10;
    for (int f = 0; f < folders; ++f) {
        const int folder = id++;
        bookmark(folder, 2, 0, 2, f, "Folder " + std::to_string(f));
        for (int i = 0; i < perFolder; ++i) {
            const int row = id++;
            if (i % 10 == 9) {
                bookmark(row, 3, 0, folder, i, "");
                continue;
            }
            std::string url = "https://site" + std::to_string(row) + ".example/page";
            sqlite3_bind_int(p.get(), 1, row);
            sqlite3_bind_text(p.get(), 2, url.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(p.get());
            sqlite3_reset(p.get());
            bookmark(row, 1, row, folder, i, "Bookmark " + std::to_string(row));
        }
    }
    b.reset();
    p.reset();
    sqlite3_exec(db.get(), "commit;", nullptr, nullptr, nullptr);
}

int CountItems(const TDKMenuItem* item) {
    int n = item->Count();
    for (int i = 0; i < item->Count(); ++i) n += CountItems(item->GetItem(i));
    return n;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    gui::App().Initialize();

    wchar_t tmp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring root = std::wstring(tmp) + L"orvane-bench-firefox\\";
    const std::wstring firefox = root + L"AppData\\Mozilla\\Firefox\\";
    SHCreateDirectoryExW(nullptr, (firefox + L"Profiles\\b.default").c_str(), nullptr);
    {
        std::string ini = "[Profile0]\r\nName=default\r\nPath=Profiles/b.default\r\n";
        HANDLE h = CreateFileW((firefox + L"profiles.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, ini.data(), static_cast<DWORD>(ini.size()), &written, nullptr);
        CloseHandle(h);
    }
    DKData = std::make_unique<TDKData>(root + L"dk.pdb");

    std::optional<std::wstring> oldAppData, oldFound;
    {
        gui::Registry reg(HKEY_CURRENT_USER);
        if (reg.OpenKey(kFoundFolders, false) && reg.ValueExists(L"AppData")) oldFound = reg.ReadString(L"AppData");
        reg.CloseKey();
        if (reg.OpenKey(kShellFolders, true)) {
            if (reg.ValueExists(L"AppData")) oldAppData = reg.ReadString(L"AppData");
            reg.WriteExpandString(L"AppData", root + L"AppData");
        }
    }

    std::printf("| %-40s | %7s | %5s | %9s | %9s | %9s |\n", "Internet menu built with", "items", "runs", "min ms",
                "median ms", "max ms");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(42, '-').c_str(), std::string(9, '-').c_str(),
                std::string(7, '-').c_str(), std::string(11, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str());
    struct Case {
        const char* Name;
        int Folders, PerFolder, Runs;
    };
    const Case cases[] = {{"no Firefox bookmarks", 0, 0, 10},
                          {"100 bookmarks in 10 folders", 10, 10, 10},
                          {"1,000 bookmarks in 50 folders", 50, 20, 5},
                          {"10,000 bookmarks in 200 folders", 200, 50, 3}};
    for (const Case& c : cases) {
        WritePlaces(firefox + L"Profiles\\b.default\\places.sqlite", c.Folders, c.PerFolder);
        int items = 0;
        std::vector<double> t = bench::SortedTimes(c.Runs, [&] {
            TInternetMenu menu(TMenuOwner{L"Internet", 3, RGB(200, 120, 40), nullptr});
            items = CountItems(menu.Items()->FindItem(TInternetMenu::FirefoxBookmarksID));
        });
        std::printf("| %-40s | %7d | %5d | %9.2f | %9.2f | %9.2f |\n", c.Name, items, c.Runs, t.front(),
                    t[t.size() / 2], t.back());
    }

    {
        gui::Registry reg(HKEY_CURRENT_USER);
        if (reg.OpenKey(kShellFolders, false)) {
            if (oldAppData)
                reg.WriteExpandString(L"AppData", *oldAppData);
            else
                reg.DeleteValue(L"AppData");
        }
        reg.CloseKey();
        if (reg.OpenKey(kFoundFolders, false)) {
            if (oldFound)
                reg.WriteString(L"AppData", *oldFound);
            else
                reg.DeleteValue(L"AppData");
        }
    }
    DKData.reset();
    SHFILEOPSTRUCTW op{};
    std::wstring from = root.substr(0, root.size() - 1) + L'\0';
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
    return 0;
}
