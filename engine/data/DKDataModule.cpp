#include "data/DKDataModule.h"

#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <unordered_set>

#include "settings/DKLog.h"
#include "Application.h"
#include "util/DKUtils.h"
#include "Registry.h"
#include "SysUtils.h"
#include "sqlite3.h"

std::unique_ptr<TDKData> DKData;

namespace {

// The statements. Now() and DateValue() are functions of the connection: Now() is the module's
// clock (local time) as a date value in days, so "Now() - 7" is seven days back and
// DateValue(Now()) is local midnight, as with date/time columns elsewhere.
// A menu's rows are read in one go and placed in memory: one statement per parent would run once
// per stored row. Within a parent they come in Position order.
const char* const kLoadSQL =
    "select rowid, MIID, ParentID, Caption, ExecPath, Checked\n"
    "from MenuItems\n"
    "where MID = :MID\n"
    "order by ParentID, [Position], rowid";
const char* const kDeleteSQL =
    "delete from MenuItems\n"
    "where (MID = :MenuID) and (rowid = :RowID)";
// Icon, Checked and any other column of a loaded row keep their values.
const char* const kUpdateSQL =
    "update MenuItems set MIID = :MIID, ParentID = :ParentID, [Position] = :Position, Caption = :Caption,\n"
    "  ExecPath = :ExecPath\n"
    "where (MID = :MID) and (rowid = :RowID)";
const char* const kInsertSQL =
    "insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath)\n"
    "values (:MID, :MIID, :ParentID, :Position, :Caption, :ExecPath)";
const char* const kLaunchSQL =
    "insert into ExecItemTime (PID, ExecTime)\n"
    "select PID, Now() from ItemsPath\n"
    "where (MID = :MID) and (Path = :Path)";
const char* const kPathSQL =
    "insert into ItemsPath (MID, Caption, Path)\n"
    "values (:MID, :Caption, :Path)";
// Counted per path of the menu through the (PID, ExecTime) index instead of grouping the whole
// launch table: the same rows in the same order, without reading other menus' launches.
const char* const kPopularSQL =
    "select PID, Caption, Path from ("
    "  select i.PID, i.Caption, i.Path,"
    "    (select count(*) from ExecItemTime e where e.PID = i.PID and e.ExecTime > Now() - 7)"
    "      as WeekExecCount"
    "  from ItemsPath i where i.MID = :MID)"
    " where WeekExecCount > 0 order by WeekExecCount desc, PID";
const char* const kRecentSQL =
    "select PID, Caption, Path from ("
    "  select i.PID, i.Caption, i.Path,"
    "    (select max(e.ExecTime) from ExecItemTime e where e.PID = i.PID) as LastExecTime"
    "  from ItemsPath i where i.MID = :MID)"
    " where LastExecTime is not null order by LastExecTime desc, PID";
const char* const kPopularStatSQL =
    "select (select count(PID) from ExecItemTime where (PID = :PID) and (ExecTime > Now() - 7)),"
    " (select count(PID) from ExecItemTime where PID = :PID1),"
    " (select count(PID) from ExecItemTime where (PID = :PID2) and (ExecTime > DateValue(Now())))";
const char* const kRecentStatSQL =
    "select count(PID) as TotalCount, max(ExecTime) as LastRun from ExecItemTime where PID = :PID ";
const char* const kClearSQL =
    "delete from ExecItemTime where PID in (   select PID   from ItemsPath   where MID = :MID )";

// Path compares without regard to case (NOCASE for ASCII; stored and searched paths are both
// lower-cased by the same locale rule for the rest). One ItemsPath row per menu and path.
const char* const kSchemaSQL =
    "create table if not exists MenuItems ("
    "  MID integer not null, MIID integer not null, ParentID integer not null,"
    "  [Position] integer not null default 0, Caption text default '', ExecPath text default '',"
    "  Icon blob, Checked integer default 0);"
    "create index if not exists MenuItemsParent on MenuItems (MID, ParentID, [Position]);"
    "create table if not exists ItemsPath ("
    "  PID integer primary key autoincrement, MID integer not null, Caption text,"
    "  Path text collate nocase);"
    "create unique index if not exists ItemsPathMenuPath on ItemsPath (MID, Path);"
    "create table if not exists ExecItemTime (PID integer not null, ExecTime real not null);"
    "create index if not exists ExecItemTimePID on ExecItemTime (PID, ExecTime);";

const char* const kTableNames[] = {"MenuItems", "ItemsPath", "ExecItemTime"};

// Resets a shared statement when its use ends, so no read stays open between calls.
struct StmtUse {
    sqlite3_stmt* s;
    ~StmtUse() {
        if (s) sqlite3_reset(s);
    }
};

int ParamIndex(sqlite3_stmt* s, const char* name) {
    int i = sqlite3_bind_parameter_index(s, name);
    if (i == 0) throw EDatabaseError(std::string("Parameter ") + name + " not found");
    return i;
}

void BindInt(sqlite3_stmt* s, const char* name, int v) { sqlite3_bind_int(s, ParamIndex(s, name), v); }

void BindText(sqlite3_stmt* s, const char* name, const std::wstring& v) {
    sqlite3_bind_text16(s, ParamIndex(s, name), v.data(), static_cast<int>(v.size() * sizeof(wchar_t)),
                        SQLITE_TRANSIENT);
}

std::wstring ColumnText(sqlite3_stmt* s, int col) {
    const void* p = sqlite3_column_text16(s, col);
    if (!p) return {};
    int bytes = sqlite3_column_bytes16(s, col);
    return std::wstring(static_cast<const wchar_t*>(p), static_cast<size_t>(bytes) / sizeof(wchar_t));
}

// Raises the connection's error unless the step gave a row (true) or ended (false).
bool Step(sqlite3* db, sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw EDatabaseError(sqlite3_errmsg(db));
}

std::wstring ErrorText(const std::exception& e) {
    if (auto* d = dynamic_cast<const EDatabaseError*>(&e)) return d->Message();
    return gui::FromUtf8(e.what());
}

std::wstring FolderPath(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(gui::App().Handle(), csidl, nullptr, 0, buf))) return {};
    return buf;
}

// The registered path of a program (App Paths), empty when unknown or missing on disk.
std::wstring RegisteredAppPath(const std::wstring& exeName) {
    gui::Registry reg(HKEY_LOCAL_MACHINE, KEY_READ);
    if (!reg.OpenKeyReadOnly(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exeName)) return {};
    std::wstring path;
    try {
        path = reg.ReadString(L"");
    } catch (const std::runtime_error&) {
        return {};  // a default value that is no string names no program
    }
    path.erase(std::remove(path.begin(), path.end(), L'"'), path.end());
    const std::wstring var = L"%programfiles%";
    std::wstring lower = gui::LowerCase(path);
    if (size_t p = lower.find(var); p != std::wstring::npos)
        path.replace(p, var.size(), FolderPath(CSIDL_PROGRAM_FILES));
    return gui::FileExists(path) ? path : std::wstring();
}

}  // namespace

std::wstring EDatabaseError::Message() const { return gui::FromUtf8(what()); }

TDKData::TDKData() : TDKData(gui::ExeDir() + L"dk.pdb") {}

TDKData::TDKData(std::wstring fileName) : FFileName(std::move(fileName)) { DataModuleCreate(); }

TDKData::~TDKData() { DataModuleDestroy(); }

void TDKData::DataModuleCreate() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    try {
        int rc = sqlite3_open_v2(gui::ToUtf8(FFileName).c_str(), DKADOConnection.put(),
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
        if (rc != SQLITE_OK) Fail();
        sqlite3_busy_timeout(Db(), 5000);
        // The launch index of a busy year stays in memory between openings of the lists.
        sqlite3_exec(Db(), "pragma cache_size = -16384; pragma mmap_size = 67108864", nullptr, nullptr,
                     nullptr);
        sqlite3_create_function(Db(), "Now", 0, SQLITE_UTF8, this, SqlNow, nullptr, nullptr);
        sqlite3_create_function(Db(), "DateValue", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                SqlDateValue, nullptr, nullptr);
        CreateSchema();
    } catch (const std::exception& e) {
        Log(4, L"(d1) " + ErrorText(e));
        DataModuleDestroy();
    }
}

void TDKData::DataModuleDestroy() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    qrADO.clear();
    DKADOConnection.reset();
}

// A new (empty) file gets the three tables; a file that has them keeps them and only gains the
// indexes it lacks, when it can be written. A file that is not a database fails here.
void TDKData::CreateSchema() {
    int found = 0;
    {
        gui::SqliteStatementHandle q;
        if (sqlite3_prepare_v2(Db(),
                               "select name from sqlite_master where type = 'table' and "
                               "name in ('MenuItems', 'ItemsPath', 'ExecItemTime')",
                               -1, q.put(), nullptr) != SQLITE_OK)
            Fail();
        while (Step(Db(), q.get())) ++found;
    }
    if (found == static_cast<int>(std::size(kTableNames))) {
        sqlite3_exec(Db(), kSchemaSQL, nullptr, nullptr, nullptr);  // read-only: indexes stay as they are
        return;
    }
    Exec("begin immediate");
    try {
        Exec(kSchemaSQL);
        Exec("commit");
    } catch (...) {
        sqlite3_exec(Db(), "rollback", nullptr, nullptr, nullptr);
        throw;
    }
}

bool TDKData::Connected() const {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    return Db() != nullptr;
}

void TDKData::SetClock(TLocalClock clock) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FClock = std::move(clock);
}

SYSTEMTIME TDKData::Now() const {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (FClock) return FClock();
    SYSTEMTIME t;
    GetLocalTime(&t);
    return t;
}

void TDKData::Fail() const {
    throw EDatabaseError(Db() ? sqlite3_errmsg(Db()) : "Database is not open");
}

void TDKData::RequireConnection() const {
    if (!Db()) throw EDatabaseError("Database is not open");
}

sqlite3_stmt* TDKData::Query(const char* sql) {
    RequireConnection();
    auto it = qrADO.find(sql);
    if (it == qrADO.end()) {
        gui::SqliteStatementHandle s;
        if (sqlite3_prepare_v2(Db(), sql, -1, s.put(), nullptr) != SQLITE_OK) Fail();
        it = qrADO.emplace(sql, std::move(s)).first;
    }
    sqlite3_reset(it->second.get());
    sqlite3_clear_bindings(it->second.get());
    return it->second.get();
}

void TDKData::Exec(const char* sql) {
    RequireConnection();
    char* err = nullptr;
    if (sqlite3_exec(Db(), sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(Db());
        sqlite3_free(err);
        throw EDatabaseError(msg);
    }
}

// ---- stored menus ----

namespace {

// Ids above this are left out of the highest id in use: numbering new items above them would
// soon run past the integer range.
constexpr long long kIdCeiling = 1 << 30;

// A few of the ids for a log line.
std::wstring IdList(const std::vector<int>& ids) {
    std::wstring text;
    for (size_t i = 0; i < ids.size() && i < 10; ++i) text += (i ? L", " : L"") + std::to_wstring(ids[i]);
    if (ids.size() > 10) text += L", ...";
    return text;
}

void AddSorted(std::vector<long long>& rows, std::vector<long long> more) {
    rows.insert(rows.end(), more.begin(), more.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
}

}  // namespace

// The stored tree is placed level by level through a list of its own rather than the stack, so
// any depth of rows loads without overflowing a thread; the depth bound keeps every later walk
// of the tree safe too.
std::vector<TStoredItem> TDKData::LoadMenuRows(int MenuID, int ParentID, int& Highest, TStoredLoad* Found) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    RequireConnection();
    Highest = -1;
    TStoredLoad found;

    // Every row of the menu; only rows whose MIID and ParentID are integers can be placed.
    std::vector<TStoredItem> rows;
    std::unordered_map<int, std::vector<size_t>> byParent;
    {
        gui::SqliteStatementHandle q;
        if (sqlite3_prepare_v2(Db(), kLoadSQL, -1, q.put(), nullptr) != SQLITE_OK) Fail();
        BindInt(q.get(), ":MID", MenuID);
        while (Step(Db(), q.get())) {
            const bool placeable =
                sqlite3_column_type(q.get(), 1) == SQLITE_INTEGER && sqlite3_column_type(q.get(), 2) == SQLITE_INTEGER;
            for (int col : {1, 2}) {
                if (sqlite3_column_type(q.get(), col) != SQLITE_INTEGER) continue;
                long long id = sqlite3_column_int64(q.get(), col);
                if (id < kIdCeiling) found.HighestInUse = static_cast<int>(std::max<long long>(found.HighestInUse, id));
            }
            TStoredItem item;
            item.RowID = sqlite3_column_int64(q.get(), 0);
            if (placeable) {
                item.MIID = sqlite3_column_int(q.get(), 1);
                item.Caption = ColumnText(q.get(), 3);
                item.ExecPath = ColumnText(q.get(), 4);
                item.Checked = sqlite3_column_type(q.get(), 5) != SQLITE_NULL && sqlite3_column_int(q.get(), 5) != 0;
                item.Loadable = true;
                byParent[sqlite3_column_int(q.get(), 2)].push_back(rows.size());
            }
            rows.push_back(std::move(item));
        }
    }

    struct Level {
        std::vector<TStoredItem>* items;  // filled once, then never grown: pointers into it stay valid
        int parent;                       // MIID whose children go into items
        int depth;                        // depth of those children, 1 for ParentID's own
    };
    std::vector<TStoredItem> out;
    std::vector<Level> levels{{&out, ParentID, 1}};
    std::unordered_set<int> loaded{ParentID};
    std::vector<long long> loadedRows;
    std::vector<int> repeated;
    for (size_t at = 0; at < levels.size(); ++at) {
        const Level level = levels[at];
        auto children = byParent.find(level.parent);
        if (children == byParent.end()) continue;
        if (level.depth > MaxStoredDepth) {
            found.Complete = false;
            continue;
        }
        for (size_t r : children->second) {
            TStoredItem& row = rows[r];
            if (!loaded.insert(row.MIID).second) {
                repeated.push_back(row.MIID);
                continue;
            }
            Highest = std::max(Highest, row.MIID);
            loadedRows.push_back(row.RowID);
            level.items->push_back(std::move(row));
        }
        for (TStoredItem& item : *level.items) levels.push_back({&item.Items, item.MIID, level.depth + 1});
    }
    AddSorted(FMenuRows[MenuID], std::move(loadedRows));

    const std::wstring menu = L"Menu " + std::to_wstring(MenuID) + L": ";
    found.Repeated = static_cast<int>(repeated.size());
    if (!found.Complete)
        Log(4, L"(d5) " + menu + L"rows nested deeper than " + std::to_wstring(MaxStoredDepth) +
                   L" levels are not loaded");
    if (found.Repeated)
        Log(4, L"(d6) " + menu + L"rows repeating an item id already loaded are not loaded: " +
                   std::to_wstring(found.Repeated) + L" (ids " + IdList(repeated) + L")");
    if (ParentID == -1) {
        found.NotShown = static_cast<int>(rows.size() - (levels.size() - 1)) - found.Repeated;
        if (found.NotShown > 0)
            Log(4, L"(d7) " + menu + L"rows with no place in the menu stay in the file as they are: " +
                       std::to_wstring(found.NotShown));
    }
    if (Found) *Found = found;
    return out;
}

int TDKData::FillMenuItem(TStoredItem& dkmi, int MenuID, int ParentID, int InsertIndex) {
    int Highest = -1;
    TStoredLoad found;
    std::vector<TStoredItem> loaded = LoadMenuRows(MenuID, ParentID, Highest, &found);
    if (InsertIndex == -1) {
        for (auto& item : loaded) dkmi.Items.push_back(std::move(item));
    } else {
        if (InsertIndex < 0 || static_cast<size_t>(InsertIndex) > dkmi.Items.size())
            throw std::out_of_range("List index out of bounds (" + std::to_string(InsertIndex) + ")");
        dkmi.Items.insert(dkmi.Items.begin() + InsertIndex, std::make_move_iterator(loaded.begin()),
                          std::make_move_iterator(loaded.end()));
    }
    return std::max(Highest, found.HighestInUse);
}

// What one save has done so far: the menu's known rows (sorted), which of them the tree still
// holds, and the rows still to be added.
struct TDKData::TSaveRows {
    const std::vector<long long>& Known;
    std::vector<char> Kept;
    std::vector<TMenuItemRow> Pending;
};

void TDKData::SaveMenuRows(int MenuID, const TStoredItem& Root) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    RequireConnection();
    std::vector<long long>& known = FMenuRows[MenuID];
    TSaveRows rows{known, std::vector<char>(known.size(), 0), {}};
    std::vector<long long> added;
    // Updates, inserts and deletes succeed together or not at all: a failure keeps the stored
    // favourites.
    Exec("begin immediate");
    try {
        SaveMenuItem(MenuID, Root, rows);
        // Known rows the tree no longer holds were removed by the user.
        for (size_t i = 0; i < known.size(); ++i) {
            if (rows.Kept[i]) continue;
            sqlite3_stmt* q = Query(kDeleteSQL);
            StmtUse use{q};
            BindInt(q, ":MenuID", MenuID);
            sqlite3_bind_int64(q, ParamIndex(q, ":RowID"), known[i]);
            Step(Db(), q);
        }
        // New rows come last: the file may give a new row the number of one deleted, and no
        // update or delete above may then reach it.
        for (const TMenuItemRow& row : rows.Pending) {
            InsertRow(row);
            added.push_back(sqlite3_last_insert_rowid(Db()));
        }
        Exec("commit");
    } catch (...) {
        sqlite3_exec(Db(), "rollback", nullptr, nullptr, nullptr);
        throw;
    }
    std::vector<long long> now;
    for (size_t i = 0; i < known.size(); ++i)
        if (rows.Kept[i]) now.push_back(known[i]);
    AddSorted(now, std::move(added));
    known = std::move(now);
}

// Children before their parent, as the rows were always written; a list of its own instead of
// the stack, whatever the depth. Each known row is written once, so a save never writes more
// rows than the tree holds items to write.
void TDKData::SaveMenuItem(int MenuID, const TStoredItem& Root, TSaveRows& rows) {
    struct Frame {
        const TStoredItem* item;
        int owner;
        int index;
        size_t next = 0;
    };
    std::vector<Frame> stack{{&Root, -1, 0}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next < f.item->Items.size()) {
            size_t i = f.next++;
            stack.push_back({&f.item->Items[i], f.item->MIID, static_cast<int>(i)});
            continue;
        }
        const TStoredItem& dki = *f.item;
        int owner = f.owner, index = f.index;
        stack.pop_back();
        if (!dki.Loadable || dki.Edited) continue;
        const TMenuItemRow row{MenuID, dki.MIID, owner, index, dki.Caption, dki.ExecPath, false};
        auto at = std::lower_bound(rows.Known.begin(), rows.Known.end(), dki.RowID);
        const size_t k = static_cast<size_t>(at - rows.Known.begin());
        if (dki.RowID && at != rows.Known.end() && *at == dki.RowID && !rows.Kept[k] && UpdateRow(dki.RowID, row)) {
            rows.Kept[k] = 1;
            continue;
        }
        rows.Pending.push_back(row);
    }
}

namespace {

void BindRow(sqlite3_stmt* q, const TMenuItemRow& row) {
    BindInt(q, ":MID", row.MID);
    BindInt(q, ":MIID", row.MIID);
    BindInt(q, ":ParentID", row.ParentID);
    BindInt(q, ":Position", row.Position);
    BindText(q, ":Caption", row.Caption);
    BindText(q, ":ExecPath", row.ExecPath);
}

}  // namespace

bool TDKData::UpdateRow(long long RowID, const TMenuItemRow& row) {
    sqlite3_stmt* q = Query(kUpdateSQL);
    StmtUse use{q};
    BindRow(q, row);
    sqlite3_bind_int64(q, ParamIndex(q, ":RowID"), RowID);
    Step(Db(), q);
    return sqlite3_changes(Db()) == 1;
}

void TDKData::InsertRow(const TMenuItemRow& row) {
    sqlite3_stmt* q = Query(kInsertSQL);
    StmtUse use{q};
    BindRow(q, row);
    Step(Db(), q);
}

// ---- first run ----

std::vector<TMenuItemRow> TDKData::DefaultRows(const TDefaultFolders& f) {
    std::vector<TMenuItemRow> rows;
    auto row = [&](TMenuItemRow r) { rows.push_back(std::move(r)); };
    // A favourite of a file or folder that this machine lacks (WordPad unregistered, no calc.exe)
    // would be a row that starts nothing: it is left out.
    auto file = [&](TMenuItemRow r) {
        if (!r.ExecPath.empty() && GetFileAttributesW(r.ExecPath.c_str()) != INVALID_FILE_ATTRIBUTES)
            rows.push_back(std::move(r));
    };
    row({0, 9, -1, 1, L"Text Editors", L""});
    file({0, 17, 9, 0, L"Notepad", f.Windows + L"\\notepad.exe"});
    file({0, 16, 9, 1, L"WordPad", f.WordPad});
    row({0, 10, -1, 2, L"Create Your Own Group...", L""});
    file({0, 11, -1, 3, L"Calculator", f.System + L"\\calc.exe"});
    row({1, 8, -1, 1, L"Create Your Own Group...", L""});
    file({1, 7, -1, 2, L"My Documents", f.Documents});
    file({1, 9, -1, 3, L"license.txt", f.ExeDir + L"\\license.txt"});
    row({2, 0, -1, 1, L"Work", L""});
    row({2, 1, -1, 2, L"Internet", L""});
    row({2, 2, -1, 3, L"Media", L""});
    row({3, 47, -1, 1, L"Communication", L""});
    row({3, 36, 47, 0, L"Welcome to Facebook | Facebook", L"http://www.facebook.com/"});
    row({3, 41, 47, 1, L"Twitter", L"http://twitter.com/"});
    row({3, 44, 47, 2, L"Relationships Matter | LinkedIn", L"http://www.linkedin.com/"});
    row({3, 48, -1, 2, L"News", L""});
    row({3, 45, 48, 0, L"CNN.com International - Breaking, World, Business, Sports, Entertainment and Video News",
        L"http://edition.cnn.com/"});
    row({3, 37, 48, 1, L"The top news headlines from Yahoo! News", L"http://news.yahoo.com/"});
    row({3, 49, -1, 3, L"Shopping", L""});
    row({3, 42, 49, 0, L"eBay - New & used electronics, cars, apparel, collectibles...", L"http://www.ebay.com/"});
    row({3, 39, 49, 1, L"Amazon.com: Online Shopping for Electronics, Apparel, Computers, Books, DVDs & more",
        L"http://www.amazon.com/"});
    row({3, 38, -1, 4, L"YouTube - Broadcast Yourself", L"http://www.youtube.com/"});
    row({4, 3, -1, 1, L"Books", L""});
    row({4, 1, -1, 2, L"Moves", L""});
    row({4, 2, -1, 3, L"Music", L""});
    file({5, 2, -1, 1, L"Task Manager", f.System + L"\\taskmgr.exe"});
    return rows;
}

TDefaultFolders TDKData::DefaultFolders() {
    TDefaultFolders f;
    f.Windows = FolderPath(CSIDL_WINDOWS);
    f.System = FolderPath(CSIDL_SYSTEM);
    f.Documents = FolderPath(CSIDL_PERSONAL);
    f.ExeDir = gui::ExcludeTrailingBackslash(gui::ExeDir());
    f.WordPad = RegisteredAppPath(L"WORDPAD.EXE");
    return f;
}

void TDKData::FillDefaultDB() { FillDefaultDB(DefaultFolders()); }

void TDKData::FillDefaultDB(const TDefaultFolders& folders) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    try {
        RequireConnection();
        for (const TMenuItemRow& row : DefaultRows(folders)) InsertRow(row);
    } catch (const std::exception& e) {
        Log(4, L"(d2) " + ErrorText(e));
    }
}

bool TDKData::DefaultRowsWritten() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    gui::SqliteStatementHandle q;
    RequireConnection();
    if (sqlite3_prepare_v2(Db(), "pragma user_version", -1, q.put(), nullptr) != SQLITE_OK) Fail();
    return Step(Db(), q.get()) && (sqlite3_column_int(q.get(), 0) & 1);
}

void TDKData::SetDefaultRowsWritten() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    int version = 0;
    {
        gui::SqliteStatementHandle q;
        RequireConnection();
        if (sqlite3_prepare_v2(Db(), "pragma user_version", -1, q.put(), nullptr) != SQLITE_OK) Fail();
        if (Step(Db(), q.get())) version = sqlite3_column_int(q.get(), 0);
    }
    Exec(("pragma user_version = " + std::to_string(version | 1)).c_str());
}

bool TDKData::FillDefaultDBOnFirstRun() {
    const wchar_t* const key = L"SOFTWARE\\Orvane";
    gui::Registry reg(HKEY_LOCAL_MACHINE, KEY_READ);
    REGSAM from = 0;
    int inited = 0;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        reg.SetView(view);
        if (reg.OpenKeyReadOnly(key) && reg.ValueExists(L"Inited")) {
            inited = reg.ReadInteger(L"Inited");
            from = view;
            break;
        }
    }
    if (!from) reg.ReadInteger(L"Inited");  // raises: no view holds the value
    if (inited != 0 || DefaultRowsWritten()) return false;
    FillDefaultDB();
    SetDefaultRowsWritten();
    // Only an administrator may set it; the database's record is what counts.
    gui::Registry machine(HKEY_LOCAL_MACHINE, KEY_SET_VALUE);
    machine.SetView(from);
    if (machine.OpenKey(key, false)) machine.WriteInteger(L"Inited", 1);
    return true;
}

// ---- launches ----

int TDKData::InsertExecTime(int MID, const std::wstring& Path) {
    sqlite3_stmt* q = Query(kLaunchSQL);
    StmtUse use{q};
    BindInt(q, ":MID", MID);
    BindText(q, ":Path", gui::AnsiLowerCase(Path));
    Step(Db(), q);
    return sqlite3_changes(Db());
}

void TDKData::SaveExecTime(int MID, const std::wstring& Caption, const std::wstring& Path, int) {
    // A launch without a path names nothing; its row would rank section titles among the items.
    if (gui::Trim(Path).empty()) return;
    std::lock_guard<std::recursive_mutex> guard(FLock);
    try {
        RequireConnection();
        if (InsertExecTime(MID, Path) == 1) return;
        int added = 0;
        {
            sqlite3_stmt* q = Query(kPathSQL);
            StmtUse use{q};
            BindInt(q, ":MID", MID);
            BindText(q, ":Caption", Caption);
            BindText(q, ":Path", gui::AnsiLowerCase(Path));
            Step(Db(), q);
            added = sqlite3_changes(Db());
        }
        if (added > 0) InsertExecTime(MID, Path);
    } catch (const std::exception& e) {
        Log(4, L"(d4) " + ErrorText(e));
    }
}

gui::StringList TDKData::GetSortedList(int MID) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    gui::StringList list;
    try {
        sqlite3_stmt* q = Query(kPopularSQL);
        StmtUse use{q};
        BindInt(q, ":MID", MID);
        while (Step(Db(), q)) list.Add(ColumnText(q, 2));
    } catch (const std::exception& e) {
        Log(4, L"(d3) " + ErrorText(e));
    }
    return list;
}

// ---- statistics ----

std::vector<TStatRow> TDKData::StatRows(const char* sql, int MID) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    sqlite3_stmt* q = Query(sql);
    StmtUse use{q};
    BindInt(q, ":MID", MID);
    std::vector<TStatRow> rows;
    while (Step(Db(), q)) rows.push_back({sqlite3_column_int(q, 0), ColumnText(q, 1), ColumnText(q, 2)});
    return rows;
}

std::vector<TStatRow> TDKData::PopularRows(int MID) { return StatRows(kPopularSQL, MID); }

std::vector<TStatRow> TDKData::RecentRows(int MID) { return StatRows(kRecentSQL, MID); }

TStatList TDKData::FillStatList(const std::vector<TStatRow>& rows) {
    TStatList list;
    std::vector<TStatRow>* target = &list.Entries;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int recNo = static_cast<int>(i) + 1;
        if (recNo == MoreAtRow) {
            list.HasMore = true;
            target = &list.More;
        }
        target->push_back(rows[i]);
        if (recNo == LastStatRow) break;
    }
    return list;
}

TStatList TDKData::ShowPopularList(int MID) { return FillStatList(PopularRows(MID)); }

TStatList TDKData::ShowRecentList(int MID) { return FillStatList(RecentRows(MID)); }

std::vector<TStatLine> TDKData::ShowPopularStat(int PID, const std::wstring& ExecPath) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    sqlite3_stmt* q = Query(kPopularStatSQL);
    StmtUse use{q};
    BindInt(q, ":PID", PID);
    BindInt(q, ":PID1", PID);
    BindInt(q, ":PID2", PID);
    if (!Step(Db(), q)) throw EDatabaseError("No figures");
    return {{L"Last Week: " + ColumnText(q, 0)},
            {L"Total: " + ColumnText(q, 1)},
            {L"Today: " + ColumnText(q, 2)},
            {ExecPath, true}};
}

std::vector<TStatLine> TDKData::ShowRecentStat(int PID, const std::wstring& ExecPath) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    sqlite3_stmt* q = Query(kRecentStatSQL);
    StmtUse use{q};
    BindInt(q, ":PID", PID);
    if (!Step(Db(), q)) throw EDatabaseError("No figures");
    std::wstring last;  // none once the launches were cleared meanwhile
    if (sqlite3_column_type(q, 1) != SQLITE_NULL) last = FormatDateTime(FromDateTime(sqlite3_column_double(q, 1)));
    return {{L"Last launch time: " + last}, {L"Launches count: " + ColumnText(q, 0)}, {ExecPath, true}};
}

void TDKData::ClearStat(int MID) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    sqlite3_stmt* q = Query(kClearSQL);
    StmtUse use{q};
    BindInt(q, ":MID", MID);
    Step(Db(), q);
}

// ---- time ----

// Date values count days from 1899-12-30 00:00 (the FILETIME epoch lies 109205 days before).
constexpr double kEpochDays = 109205.0;
constexpr double kMsPerDay = 86400000.0;

double TDKData::ToDateTime(const SYSTEMTIME& t) {
    FILETIME ft;
    if (!SystemTimeToFileTime(&t, &ft)) return 0;
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<double>(v.QuadPart / 10000) / kMsPerDay - kEpochDays;
}

SYSTEMTIME TDKData::FromDateTime(double d) {
    ULARGE_INTEGER v;
    v.QuadPart = static_cast<unsigned long long>(std::llround((d + kEpochDays) * kMsPerDay)) * 10000ull;
    FILETIME ft{v.LowPart, v.HighPart};
    SYSTEMTIME t{};
    FileTimeToSystemTime(&ft, &t);
    return t;
}

void TDKData::SqlNow(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* self = static_cast<TDKData*>(sqlite3_user_data(ctx));
    sqlite3_result_double(ctx, ToDateTime(self->Now()));
}

void TDKData::SqlDateValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, std::floor(sqlite3_value_double(argv[0])));
}

SYSTEMTIME TDKData::AddDays(const SYSTEMTIME& t, double days) {
    FILETIME ft;
    if (!SystemTimeToFileTime(&t, &ft)) return t;
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    v.QuadPart += static_cast<long long>(days * 864000000000.0);
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = v.HighPart;
    SYSTEMTIME out;
    FileTimeToSystemTime(&ft, &out);
    return out;
}

std::wstring TDKData::FormatDateTime(const SYSTEMTIME& t) {
    wchar_t buf[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, buf, 128);
    std::wstring text = buf;
    if (t.wHour || t.wMinute || t.wSecond || t.wMilliseconds) {
        buf[0] = 0;
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &t, nullptr, buf, 128);
        text += L" ";
        text += buf;
    }
    return text;
}
