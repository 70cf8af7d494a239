// The Firefox bookmark tree of the Internet menu, read from a temporary copy of the first
// profile's places database.
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "settings/DKLog.h"
#include "Application.h"
#include "util/DKUtils.h"
#include "IniFile.h"
#include "InternetMenu.h"
#include "SysUtils.h"
#include "bar/TransparentMessage.h"
#include "sqlite3.h"

namespace {

constexpr int BookmarksMenuFolder = 2;

// Folders below the bookmarks menu are shown this many levels deep, as stored menu rows are.
constexpr int MaxFirefoxDepth = 1000;

std::wstring Text16(sqlite3_stmt* Stmt, int Column) {
    const void* p = sqlite3_column_text16(Stmt, Column);
    return p ? std::wstring(static_cast<const wchar_t*>(p)) : std::wstring();
}

struct TFirefoxRow {
    int Id = 0;
    std::wstring Title, Url;
};

// The entries of one folder in position order; none when the folder cannot be read, which ends
// only that folder.
std::vector<TFirefoxRow> ReadFirefoxFolder(sqlite3* db, int ParentId) {
    wchar_t sql[300];
    swprintf(sql, 300,
             L"select b.id, b.parent, b.type, b.position, b.title, p.url from moz_bookmarks b left join moz_places "
             L"p on b.fk= p.id where b.parent = %d order by parent, position",
             ParentId);
    gui::SqliteStatementHandle stmt;
    if (sqlite3_prepare16_v2(db, sql, -1, stmt.put(), nullptr) != SQLITE_OK || !stmt) return {};
    std::vector<TFirefoxRow> rows;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
        rows.push_back({sqlite3_column_int(stmt.get(), 0), Text16(stmt.get(), 4), Text16(stmt.get(), 5)});
    return rows;
}

}  // namespace

void TInternetMenu::LoadFirefoxBookmarks(TDKMenuItem* Item) {
    std::wstring target, reason;
    ReadFirefoxBookmarks(Item, target, reason);
    if (Item->Count() > 0) return;
    // An item without bookmarks tells on a click why it has none.
    if (reason.empty()) reason = L"The bookmarks menu of the profile is empty.";
    Item->FOnClick = [target, reason](TDKMenuItem* Sender) {
        ReportFailure(L"No bookmarks", Sender->Caption(), target, reason);
    };
}

void TInternetMenu::ReadFirefoxBookmarks(TDKMenuItem* Item, std::wstring& Target, std::wstring& Reason) {
    auto missing = [&](const std::wstring& file, DWORD error) {
        Target = file;
        Reason = gui::SysErrorMessage(error);
    };
    try {
        wchar_t buf[MAX_PATH] = {};
        HRESULT hr = SHGetFolderPathW(gui::App().Handle(), CSIDL_APPDATA, nullptr, 0, buf);
        if (FAILED(hr)) return missing(L"Application Data", HRESULT_CODE(hr));
        const std::wstring firefox = std::wstring(buf) + L"\\Mozilla\\Firefox\\";
        const std::wstring profiles = firefox + L"profiles.ini";
        if (!gui::FileExists(profiles)) return missing(profiles, ERROR_FILE_NOT_FOUND);
        std::wstring profile;
        {
            gui::IniFile ini(profiles);
            profile = gui::Trim(ini.ReadString(L"Profile0", L"Path", L""));
        }
        if (profile.empty()) return missing(profiles + L" [Profile0] Path", ERROR_NOT_FOUND);
        const std::wstring source = firefox + profile + L"\\places.sqlite";
        Target = source;
        if (!gui::FileExists(source)) return missing(source, ERROR_FILE_NOT_FOUND);

        wchar_t tmp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, tmp);
        const std::wstring copy = std::wstring(tmp) + L"places.sqlite";
        // The copy and its journals go on every way out, after the connection below is closed;
        // a journal left by an earlier read would be replayed into the fresh copy.
        struct TCopyGuard {
            std::wstring File;
            void Remove() const {
                for (const wchar_t* suffix : {L"", L"-wal", L"-shm", L"-journal"})
                    DeleteFileW((File + suffix).c_str());
            }
            ~TCopyGuard() { Remove(); }
        } copyGuard{copy};
        copyGuard.Remove();
        // A failed copy must not leave an older copy to be read in its place; the item then
        // stays without children.
        if (!CopyFileW(source.c_str(), copy.c_str(), FALSE)) return missing(source, GetLastError());

        gui::SqliteHandle db;
        // The shared pointer is cleared before the connection closes.
        struct TSharedGuard {
            void*& Shared;
            ~TSharedGuard() { Shared = nullptr; }
        } sharedGuard{FFirefoxDB};
        // A copy that cannot be opened or read leaves the item without children.
        if (sqlite3_open16(copy.c_str(), db.put()) != SQLITE_OK) {
            Reason = db ? static_cast<const wchar_t*>(sqlite3_errmsg16(db.get())) : L"out of memory";
            return;
        }
        sqlite3_exec(db.get(), "pragma synchronous = off", nullptr, nullptr, nullptr);
        sqlite3_exec(db.get(), "pragma temp_store = memory", nullptr, nullptr, nullptr);
        FFirefoxDB = db.get();
        LoadFirefoxFolder(Item, BookmarksMenuFolder);
        const int code = sqlite3_errcode(db.get());
        if (Item->Count() == 0 && code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
            Reason = static_cast<const wchar_t*>(sqlite3_errmsg16(db.get()));
    } catch (const std::exception& e) {
        Reason = gui::FromUtf8(e.what());
        Log(4, L"(i2) " + Reason);
    }
}

void TInternetMenu::LoadFirefoxFolder(TDKMenuItem* Parent, int ParentId) {
    auto* db = static_cast<sqlite3*>(FFirefoxDB);
    if (!db) return;
    // The tree is walked with a list of its own, not the stack: a database may nest folders
    // thousands deep. Each folder is read in full and its statement finalized before its entries
    // are added, so one statement is open at a time.
    struct TFolder {
        TDKMenuItem* Item;
        int Id;
        int Depth;  // of the folder's entries: 1 for those of ParentId
    };
    std::vector<TFolder> todo{{Parent, ParentId, 1}};
    std::unordered_set<int> read;        // a folder that holds one of its own ancestors is read once
    std::vector<TDKMenuItem*> added;     // in order; their commands follow their own entries
    bool tooDeep = false;
    while (!todo.empty()) {
        const TFolder folder = todo.back();
        todo.pop_back();
        if (!read.insert(folder.Id).second) continue;
        std::vector<TFirefoxRow> rows = ReadFirefoxFolder(db, folder.Id);
        if (rows.empty()) continue;
        if (folder.Depth > MaxFirefoxDepth) {
            tooDeep = true;
            continue;
        }
        bool separator = false;
        for (const TFirefoxRow& row : rows) {
            if (gui::Trim(row.Title).empty()) {
                separator = true;
                continue;
            }
            TDKMenuItem* mi = folder.Item->AddMenuItem(row.Id, row.Title, [this](TDKMenuItem* s) { RunItem(s); },
                                                       false, separator, true);
            mi->SetExecPath(row.Url);
            added.push_back(mi);
            todo.push_back({mi, row.Id, folder.Depth + 1});
            separator = false;
        }
    }
    for (TDKMenuItem* mi : added) {
        mi->AddMenuItem(0, L"Copy to Favorites Root", [this](TDKMenuItem* s) { CopyToFavoritesClick(s); }, false,
                        true)
            ->SetIcon(FFavIcon.get());
        if (gui::Trim(mi->ExecPath()).empty()) {
            mi->SetIcon(FFoldIcon.get());
            // Opens the folder's bookmarks, as "Run All in Group" does for stored groups.
            mi->AddMenuItem(0, L"Open All Bookmarks in Group", [this](TDKMenuItem* s) { RunAllInGroup(s); });
        }
    }
    if (tooDeep)
        Log(4, L"(i3) Firefox bookmarks nested deeper than " + std::to_wstring(MaxFirefoxDepth) +
                   L" levels are not shown");
}
