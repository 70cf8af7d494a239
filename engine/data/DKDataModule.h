#pragma once
// The data module: the program's only door to its database "dk.pdb" (an SQLite file beside the
// executable). It holds every SQL statement of the program: stored menu trees, first-run rows,
// launch records and the launch statistics.
//
// Everything here works on plain values; the menu item class maps its fields onto these records
// (MIID, Caption, ExecPath, Checked when loading; Loadable, Edited and the child order when
// saving). One lock inside the module serialises all use of the connection, so the
// menu-building threads and the GUI thread may call any operation at any time.
#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "Handles.h"
#include "StringList.h"

struct sqlite3;
struct sqlite3_stmt;
class TDKMenuItem;
class TDKPopupMenu;
struct sqlite3_context;
struct sqlite3_value;

// A database failure raised to the caller (load and save of menus, statistics).
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string& utf8Message) : std::runtime_error(utf8Message) {}
    std::wstring Message() const;
};

// One row of MenuItems.
struct TMenuItemRow {
    int MID = 0;
    int MIID = 0;
    int ParentID = -1;
    int Position = 0;
    std::wstring Caption;
    std::wstring ExecPath;  // empty for a group
    bool Checked = false;
};

// One node of a stored menu tree. Loading fills MIID, Caption, ExecPath, Checked and Items
// (Loadable is then True). Saving reads MIID, Caption, ExecPath, Loadable, Edited and the order
// of Items: a node is written only when Loadable and not Edited, with its index among all of its
// parent's children as Position; its children are written either way.
struct TStoredItem {
    int MIID = 0;
    // The MenuItems row it was loaded from (its rowid), 0 for an item not stored yet: a save
    // updates that row in place and so keeps the columns the program does not show.
    long long RowID = 0;
    std::wstring Caption;
    std::wstring ExecPath;
    bool Checked = false;
    bool Loadable = true;
    bool Edited = false;
    std::vector<TStoredItem> Items;
};

// One launched target as the statistics list it: the ItemsPath row.
struct TStatRow {
    int PID = 0;
    std::wstring Caption;
    std::wstring Path;  // lower-case
};

// A statistics list as it is shown: the first seven rows directly, "More..." as the eighth child
// holding rows 8 to 50; rows after the 50th are not shown.
struct TStatList {
    std::vector<TStatRow> Entries;
    bool HasMore = false;
    std::vector<TStatRow> More;
};

// One line of an entry's figures submenu; the path line carries a splitter.
struct TStatLine {
    std::wstring Caption;
    bool HasSplitter = false;
};

// The folders the first-run rows refer to (without trailing backslashes); WordPad may be empty.
struct TDefaultFolders {
    std::wstring Windows;
    std::wstring System;
    std::wstring Documents;
    std::wstring ExeDir;
    std::wstring WordPad;
};

// Source of the local time; tests set their own so they never wait.
using TLocalClock = std::function<SYSTEMTIME()>;

class TDKData {
public:
    static constexpr const wchar_t* EmptyCaption = L"Empty";
    static constexpr const wchar_t* MoreCaption = L"More...";
    static constexpr int MoreAtRow = 8;   // record number at which "More..." starts
    static constexpr int LastStatRow = 50;

    // Opens "dk.pdb" beside the executable.
    TDKData();
    // Opens the given file (tests, tools).
    explicit TDKData(std::wstring fileName);
    ~TDKData();
    TDKData(const TDKData&) = delete;
    TDKData& operator=(const TDKData&) = delete;

    // The connection is open; when not, the bar tells the user the data file is not available.
    bool Connected() const;
    const std::wstring& FileName() const { return FFileName; }

    void SetClock(TLocalClock clock);
    SYSTEMTIME Now() const;

    // What a load found besides the rows it returned.
    struct TStoredLoad {
        bool Complete = true;  // no row was left out for lying deeper than MaxStoredDepth
        int Repeated = 0;      // rows whose MIID was loaded already (d6)
        int NotShown = 0;      // other rows of the menu that no loaded row leads to (d7)
        // The highest id any row of the menu uses, as MIID or as ParentID, shown or not: new
        // items are numbered above it, so none takes the id of a row kept in the file.
        int HighestInUse = -1;
    };
    // Stored menus. Loading returns the stored children of ParentID (recursively, in Position
    // order) and sets Highest to the highest MIID loaded, -1 when none. Each MIID of a menu is
    // loaded once: a row repeating an id loaded already (a second copy, or a loop back to an
    // ancestor) is left out with its own children, which come under the first. Rows more than
    // MaxStoredDepth levels below ParentID are left out and logged (d5). Rows left out stay in
    // the file as they are: a save replaces only rows that were loaded (or that it wrote).
    static constexpr int MaxStoredDepth = 1000;
    std::vector<TStoredItem> LoadMenuRows(int MenuID, int ParentID, int& Highest, TStoredLoad* Found = nullptr);
    // Writes the tree below Root (Root itself is the menu's root: MIID -1, not Loadable) as the
    // menu's rows: an item loaded from a row updates that row, a new item adds one, and rows
    // that were loaded or written for this menu and are no longer in the tree are deleted. Rows
    // of the menu that were never loaded are left alone. One transaction: on failure the old
    // rows stay and the error is raised.
    void SaveMenuRows(int MenuID, const TStoredItem& Root);
    // The same on a plain tree, as the menus use it: the loaded children are appended to dkmi
    // (InsertIndex -1) or inserted from InsertIndex on in stored order; their own children are
    // appended. Returns the highest id in use in the menu's rows (TStoredLoad::HighestInUse),
    // which is the highest MIID loaded when every row was loaded; -1 when none.
    int FillMenuItem(TStoredItem& dkmi, int MenuID, int ParentID, int InsertIndex);
    void SaveMenu(int MenuID, const TStoredItem& Root) { SaveMenuRows(MenuID, Root); }

    // First run.
    static std::vector<TMenuItemRow> DefaultRows(const TDefaultFolders& folders);
    static TDefaultFolders DefaultFolders();
    void FillDefaultDB();
    void FillDefaultDB(const TDefaultFolders& folders);
    // The first start after installation: the installer leaves "Inited" = 0 under the product's
    // key in HKLM, in the registry view of its own kind. The key is only read (a standard user
    // may do no more there); the first view holding the value decides. When it reads 0 and the
    // database has no record of them, the default rows are written and that is recorded in the
    // database, which the user can write; an administrator also gets "Inited" = 1 written back.
    // Returns whether the rows were written now. A missing or non-integer value raises.
    bool FillDefaultDBOnFirstRun();
    // The record that the default rows were written (bit 0 of the file's user version).
    bool DefaultRowsWritten();
    void SetDefaultRowsWritten();

    // Launch records. SaveExecTime records one launch of Path (any letter case) in menu MID,
    // adding the menu's path row on its first launch; PID is not used. Failures are logged (d4)
    // and never raised. GetSortedList gives the menu's paths launched in the last seven days,
    // most launched first; a failure is logged (d3) and what was read so far is returned.
    void SaveExecTime(int MID, const std::wstring& Caption, const std::wstring& Path, int PID = -1);
    gui::StringList GetSortedList(int MID);

    // Statistics of one menu, read anew on every call; errors are raised (EDatabaseError).
    // "Most Popular": paths launched in the last seven days, most launches first. "Recent": every
    // launched path, latest launch first. The figures of one entry end with its path line.
    std::vector<TStatRow> PopularRows(int MID);
    std::vector<TStatRow> RecentRows(int MID);
    static TStatList FillStatList(const std::vector<TStatRow>& rows);
    TStatList ShowPopularList(int MID);
    TStatList ShowRecentList(int MID);
    std::vector<TStatLine> ShowPopularStat(int PID, const std::wstring& ExecPath);
    std::vector<TStatLine> ShowRecentStat(int PID, const std::wstring& ExecPath);
    void ClearStat(int MID);

    // ---- the same on menu items, as the menus use them ----
    // Loads the stored children of ParentID into dkmi (appended, or inserted from InsertIndex on
    // in stored order) as Loadable, Dragged, Filtered items; returns the highest MIID, -1 if none.
    int FillMenuItem(TDKMenuItem* dkmi, int MenuID, int ParentID, int InsertIndex);
    // Replaces the menu's stored rows by its Loadable, not Edited items, in one transaction.
    void SaveMenu(TDKPopupMenu* PopupMenu);
    // Handlers of the statistics section: they rebuild Sender's children from the launch
    // records of Sender's menu (ClearStat forgets that menu's launches).
    void ShowPopularList(TDKMenuItem* Sender);
    void ShowRecentList(TDKMenuItem* Sender);
    void ShowPopularStat(TDKMenuItem* Sender);
    void ShowRecentStat(TDKMenuItem* Sender);
    void ClearStat(TDKMenuItem* Sender);
    // The system image-list index of a statistics entry's path, kept per path and looked up
    // again only when its file's write time changed; StatIconLookups counts the look-ups.
    static int StatIconIndex(const std::wstring& Path);
    static int StatIconLookups();

    // Local time as stored in ExecItemTime.ExecTime: a date value, days since 1899-12-30 00:00
    // with the time of day as the fraction (kept to the millisecond).
    static double ToDateTime(const SYSTEMTIME& t);
    static SYSTEMTIME FromDateTime(double d);
    // Wall-clock arithmetic on a local time, as date values subtract days.
    static SYSTEMTIME AddDays(const SYSTEMTIME& t, double days);
    // Short date, a blank and long time of the user's locale; the time is left out at midnight.
    static std::wstring FormatDateTime(const SYSTEMTIME& t);

private:
    void DataModuleCreate();
    void DataModuleDestroy();
    void CreateSchema();
    sqlite3_stmt* Query(const char* sql);  // the shared statement of that text, reset
    void Exec(const char* sql);
    struct TSaveRows;
    void SaveMenuItem(int MenuID, const TStoredItem& Root, TSaveRows& rows);
    void InsertRow(const TMenuItemRow& row);
    bool UpdateRow(long long RowID, const TMenuItemRow& row);
    int InsertExecTime(int MID, const std::wstring& Path);
    std::vector<TStatRow> StatRows(const char* sql, int MID);
    [[noreturn]] void Fail() const;
    static void SqlNow(sqlite3_context* ctx, int argc, sqlite3_value** argv);
    static void SqlDateValue(sqlite3_context* ctx, int argc, sqlite3_value** argv);
    void RequireConnection() const;

    std::wstring FFileName;
    sqlite3* Db() const { return DKADOConnection.get(); }
    gui::SqliteHandle DKADOConnection;
    // The shared statements, finalized before the connection closes.
    std::unordered_map<const char*, gui::SqliteStatementHandle> qrADO;
    // Per menu, the rowids (sorted) that were loaded from or written to the file in this run:
    // the only rows a save may replace.
    std::unordered_map<int, std::vector<long long>> FMenuRows;
    TLocalClock FClock;
    mutable std::recursive_mutex FLock;
};

// The program's data module, created by the start-up before the bar form.
extern std::unique_ptr<TDKData> DKData;
