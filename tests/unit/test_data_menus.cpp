// The data module on real SQLite files: opening, stored menu trees, first-run rows.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "DataTestSupport.h"

using data_test::LogCapture;
using data_test::RawDb;
using testing_support::TempDir;

namespace {

using data_test::Node;

// An item the menus build at run time (title, command): never written.
TStoredItem RunTime(const std::wstring& caption, std::vector<TStoredItem> items = {}) {
    TStoredItem n = Node(0, caption, L"", std::move(items));
    n.Loadable = false;
    return n;
}

TStoredItem Root(std::vector<TStoredItem> items) {
    TStoredItem r = RunTime(L"", std::move(items));
    r.MIID = -1;
    return r;
}

std::vector<std::wstring> Captions(const std::vector<TStoredItem>& items) {
    std::vector<std::wstring> out;
    for (const auto& i : items) out.push_back(i.Caption);
    return out;
}

}  // namespace

TEST(DataOpen, NewFileGetsSchemaAndEmptyMenusLoadNothing) {
    TempDir dir(L"data");
    {
        TDKData data(dir / L"dk.pdb");
        ASSERT_TRUE(data.Connected());
        TStoredItem root = Root({});
        EXPECT_EQ(data.FillMenuItem(root, 4, -1, -1), -1);
        EXPECT_TRUE(root.Items.empty());
    }
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from sqlite_master where type = 'table' and name in "
                      "('MenuItems', 'ItemsPath', 'ExecItemTime')"),
              3);
    // Reopening a file that has the schema keeps its rows.
    ASSERT_TRUE(raw.Exec("insert into MenuItems (MID, MIID, ParentID, [Position], Caption) values (1, 3, -1, 0, 'x')"));
    TDKData again(dir / L"dk.pdb");
    int highest = 0;
    EXPECT_EQ(again.LoadMenuRows(1, -1, highest).size(), 1u);
    EXPECT_EQ(highest, 3);
}

TEST(DataOpen, CorruptOrUnreachableFileLeavesConnectionClosed) {
    TempDir dir(L"data");
    LogCapture log;
    std::string junk(4096, 'x');
    testing_support::WriteFileBytes(dir / L"dk.pdb", "This is not a database.\r\n" + junk);
    {
        TDKData data(dir / L"dk.pdb");
        EXPECT_FALSE(data.Connected());
        // Nothing the menus or the launches call may crash on a closed connection.
        int highest = 0;
        EXPECT_THROW(data.LoadMenuRows(0, -1, highest), EDatabaseError);
        EXPECT_THROW(data.SaveMenuRows(0, Root({Node(1, L"a")})), EDatabaseError);
        data.SaveExecTime(0, L"x", L"c:\\x.exe");
        EXPECT_EQ(data.GetSortedList(0).Count(), 0);
    }
    TDKData missing(dir / L"no such folder\\dk.pdb");
    EXPECT_FALSE(missing.Connected());
    // The file itself is left as it was.
    EXPECT_EQ(testing_support::ReadFileBytes(dir / L"dk.pdb"), "This is not a database.\r\n" + junk);

    const std::string text = log.Text();
    EXPECT_NE(text.find("> (d1) file is not a database"), std::string::npos) << text;
    EXPECT_NE(text.find("> (d1) unable to open database file"), std::string::npos) << text;
    EXPECT_NE(text.find("> (d4) "), std::string::npos) << text;
    EXPECT_NE(text.find("> (d3) "), std::string::npos) << text;
}

TEST(DataOpen, ReadOnlyFileLoadsButWritesFailWithoutLoss) {
    TempDir dir(L"data");
    const std::wstring file = dir / L"dk.pdb";
    {
        TDKData data(file);
        data.SaveMenuRows(2, Root({Node(5, L"Work", L"", {Node(6, L"Mail", L"c:\\mail.exe")})}));
        data.SaveExecTime(2, L"Mail", L"c:\\mail.exe");
    }
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    // The attribute alone does not stop a process running as root under Wine; a handle that
    // denies writers does, on every system.
    HANDLE guard = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(guard, INVALID_HANDLE_VALUE);
    LogCapture log;
    {
        TDKData data(file);
        ASSERT_TRUE(data.Connected());
        int highest = 0;
        auto items = data.LoadMenuRows(2, -1, highest);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].Items.at(0).Caption, L"Mail");
        EXPECT_THROW(data.SaveMenuRows(2, Root({})), EDatabaseError);
        data.SaveExecTime(2, L"Mail", L"c:\\mail.exe");
        EXPECT_EQ(data.LoadMenuRows(2, -1, highest).size(), 1u);
        EXPECT_EQ(data.ShowRecentStat(data.RecentRows(2).at(0).PID, L"").at(1).Caption, L"Launches count: 1");
    }
    EXPECT_NE(log.Text().find("> (d4) attempt to write a readonly database"), std::string::npos) << log.Text();
    CloseHandle(guard);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DataMenus, SaveAndLoadKeepOrderAcrossRunTimeItems) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    // Stored items stand between items the menu builds itself, so positions have gaps.
    data.SaveMenuRows(
        0, Root({RunTime(L"Favorites"), Node(12, L"Zeta", L"c:\\z.exe"), RunTime(L"Filter"),
                 Node(3, L"Alpha", L"", {RunTime(L"Run All in Group"), Node(30, L"Inner", L"c:\\i.exe"),
                                         Node(31, L"Sub", L"", {Node(40, L"Deep", L"http://x.org/")})}),
                 Node(20, L"Mid", L"C:\\Mid.exe"), RunTime(L"Statistics", {Node(99, L"Loadable below")})}));

    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where MID = 0"), 7);
    EXPECT_EQ(raw.Int("select [Position] from MenuItems where MIID = 12"), 1);
    EXPECT_EQ(raw.Int("select [Position] from MenuItems where MIID = 3"), 3);
    EXPECT_EQ(raw.Int("select [Position] from MenuItems where MIID = 20"), 4);
    EXPECT_EQ(raw.Int("select [Position] from MenuItems where MIID = 30"), 1);
    // Loadable items below a run-time item are written under its id (0) all the same.
    EXPECT_EQ(raw.Int("select ParentID from MenuItems where MIID = 99"), 0);
    ASSERT_TRUE(raw.Exec("update MenuItems set Checked = 1 where MIID = 20"));

    int highest = 0;
    auto items = data.LoadMenuRows(0, -1, highest);
    EXPECT_EQ(Captions(items), (std::vector<std::wstring>{L"Zeta", L"Alpha", L"Mid"}));
    EXPECT_EQ(highest, 40);  // the deepest item holds the highest id
    EXPECT_EQ(items[2].ExecPath, L"C:\\Mid.exe");
    EXPECT_TRUE(items[2].Checked);
    EXPECT_FALSE(items[0].Checked);
    ASSERT_EQ(Captions(items[1].Items), (std::vector<std::wstring>{L"Inner", L"Sub"}));
    EXPECT_EQ(items[1].Items[1].Items.at(0).ExecPath, L"http://x.org/");
    EXPECT_TRUE(items[1].Items[1].Items.at(0).Loadable);

    // Saving again replaces the menu's rows and leaves the other menus alone.
    data.SaveMenuRows(1, Root({Node(1, L"Other")}));
    data.SaveMenuRows(0, Root({Node(2, L"Only")}));
    EXPECT_EQ(Captions(data.LoadMenuRows(0, -1, highest)), std::vector<std::wstring>{L"Only"});
    EXPECT_EQ(Captions(data.LoadMenuRows(1, -1, highest)), std::vector<std::wstring>{L"Other"});
}

TEST(DataMenus, InsertIndexPlacesStoredRowsInOrder) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    data.SaveMenuRows(7, Root({Node(1, L"A", L"", {Node(4, L"A1")}), Node(2, L"B"), Node(3, L"C", L"", {Node(5, L"C1")})}));

    TStoredItem root = Root({RunTime(L"t0"), RunTime(L"t1"), RunTime(L"t2"), RunTime(L"t3"), RunTime(L"t4")});
    EXPECT_EQ(data.FillMenuItem(root, 7, -1, 3), 5);
    EXPECT_EQ(Captions(root.Items), (std::vector<std::wstring>{L"t0", L"t1", L"t2", L"A", L"B", L"C", L"t3", L"t4"}));
    EXPECT_EQ(Captions(root.Items[3].Items), std::vector<std::wstring>{L"A1"});
    EXPECT_EQ(Captions(root.Items[5].Items), std::vector<std::wstring>{L"C1"});

    // Loading below a stored group appends to what the item already has.
    TStoredItem group = RunTime(L"C", {RunTime(L"command")});
    EXPECT_EQ(data.FillMenuItem(group, 7, 3, -1), 5);
    EXPECT_EQ(Captions(group.Items), (std::vector<std::wstring>{L"command", L"C1"}));
}

TEST(DataMenus, EditedGroupIsNotWrittenButItsChildrenAre) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    TStoredItem group = Node(8, L"Type Group Title and Press Enter", L"", {Node(9, L"Child", L"c:\\c.exe")});
    group.Edited = true;
    data.SaveMenuRows(3, Root({Node(1, L"Kept"), group}));

    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where MIID = 8"), 0);
    EXPECT_EQ(raw.Int("select ParentID from MenuItems where MIID = 9"), 8);
    int highest = 0;
    auto items = data.LoadMenuRows(3, -1, highest);
    EXPECT_EQ(Captions(items), std::vector<std::wstring>{L"Kept"});
    EXPECT_EQ(highest, 1);
}

TEST(DataMenus, CyclicRowsLoadWithoutEndlessRecursion) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    RawDb raw(dir / L"dk.pdb");
    // 1 -> 2 -> 3 -> 1 below the root, and 6 its own parent.
    ASSERT_TRUE(raw.Exec(
        "insert into MenuItems (MID, MIID, ParentID, [Position], Caption) values"
        " (0, 1, -1, 0, 'one'), (0, 2, 1, 0, 'two'), (0, 3, 2, 0, 'three'), (0, 1, 3, 0, 'one again'),"
        " (0, 6, 6, 0, 'self'), (0, 7, 6, 1, 'below self')"));
    int highest = 0;
    auto items = data.LoadMenuRows(0, -1, highest);
    ASSERT_EQ(Captions(items), std::vector<std::wstring>{L"one"});
    ASSERT_EQ(Captions(items[0].Items), std::vector<std::wstring>{L"two"});
    ASSERT_EQ(Captions(items[0].Items[0].Items), std::vector<std::wstring>{L"three"});
    EXPECT_TRUE(items[0].Items[0].Items[0].Items.empty());
    EXPECT_EQ(highest, 3);

    auto below = data.LoadMenuRows(0, 6, highest);
    EXPECT_EQ(Captions(below), std::vector<std::wstring>{L"below self"});
}

// 20,000 rows each below the one before: loading and saving run on a thread of a small stack,
// stop at the depth bound with a logged line, and never overflow.
TEST(DataMenus, DeepChainLoadsToTheBoundOnASmallStack) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    RawDb raw(dir / L"dk.pdb");
    ASSERT_TRUE(raw.Exec("with recursive c(n) as (select 1 union all select n + 1 from c where n < 20000) "
                         "insert into MenuItems (MID, MIID, ParentID, [Position], Caption) "
                         "select 0, n, case when n = 1 then -1 else n - 1 end, 0, 'level ' || n from c"));
    LogCapture log;
    struct Run {
        TDKData* data;
        int highest = 0, depth = 0;
        TDKData::TStoredLoad found;
        bool saved = false;
    } run{&data};
    HANDLE t = CreateThread(
        nullptr, 256 * 1024,
        [](void* p) -> DWORD {
            auto* r = static_cast<Run*>(p);
            std::vector<TStoredItem> items = r->data->LoadMenuRows(0, -1, r->highest, &r->found);
            for (const std::vector<TStoredItem>* level = &items; !level->empty(); level = &level->front().Items)
                ++r->depth;
            r->data->SaveMenuRows(1, Root(std::move(items)));
            r->saved = true;
            return 0;
        },
        &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 60000), WAIT_OBJECT_0);
    CloseHandle(t);
    EXPECT_EQ(run.depth, TDKData::MaxStoredDepth);
    EXPECT_EQ(run.highest, TDKData::MaxStoredDepth);
    EXPECT_FALSE(run.found.Complete);
    EXPECT_TRUE(run.saved);
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where MID = 1"), TDKData::MaxStoredDepth);
    EXPECT_EQ(raw.Int("select ParentID from MenuItems where MID = 1 and MIID = 1000"), 999);
    EXPECT_NE(log.Text().find("(d5) Menu 0: rows nested deeper than 1000 levels are not loaded"), std::string::npos)
        << log.Text();
}

TEST(DataMenus, FailingSaveKeepsTheOldRows) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    data.SaveMenuRows(1, Root({Node(1, L"Work", L"", {Node(2, L"Report", L"c:\\r.doc")}), Node(3, L"Music")}));
    RawDb raw(dir / L"dk.pdb");
    ASSERT_TRUE(raw.Exec("create trigger Refuse before insert on MenuItems when new.Caption = 'boom' "
                         "begin select raise(abort, 'refused'); end"));

    try {
        data.SaveMenuRows(1, Root({Node(4, L"New"), Node(5, L"boom")}));
        FAIL() << "the save should fail";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), L"refused");
    }
    int highest = 0;
    auto items = data.LoadMenuRows(1, -1, highest);
    EXPECT_EQ(Captions(items), (std::vector<std::wstring>{L"Work", L"Music"}));
    EXPECT_EQ(Captions(items[0].Items), std::vector<std::wstring>{L"Report"});

    // The failed save left no transaction open: the next one goes through.
    data.SaveMenuRows(1, Root({Node(4, L"New")}));
    EXPECT_EQ(Captions(data.LoadMenuRows(1, -1, highest)), std::vector<std::wstring>{L"New"});
}

TEST(DataDefaults, FirstRunRowsAndPartialFailure) {
    TempDir dir(L"data");
    const TDefaultFolders folders{L"C:\\windows", L"C:\\windows\\system32", L"C:\\users\\me\\Documents",
                                  L"C:\\Orvane", L""};
    {
        TDKData data(dir / L"dk.pdb");
        data.FillDefaultDB(folders);
        int highest = 0;
        auto m0 = data.LoadMenuRows(0, -1, highest);
        EXPECT_EQ(highest, 17);
        ASSERT_EQ(Captions(m0), (std::vector<std::wstring>{L"Text Editors", L"Create Your Own Group...", L"Calculator"}));
        EXPECT_EQ(Captions(m0[0].Items), (std::vector<std::wstring>{L"Notepad", L"WordPad"}));
        EXPECT_EQ(m0[0].Items[0].ExecPath, L"C:\\windows\\notepad.exe");
        EXPECT_EQ(m0[2].ExecPath, L"C:\\windows\\system32\\calc.exe");
        auto m1 = data.LoadMenuRows(1, -1, highest);
        EXPECT_EQ(m1.at(2).ExecPath, L"C:\\Orvane\\license.txt");
        auto m3 = data.LoadMenuRows(3, -1, highest);
        EXPECT_EQ(highest, 49);
        ASSERT_EQ(Captions(m3), (std::vector<std::wstring>{L"Communication", L"News", L"Shopping",
                                                           L"YouTube - Broadcast Yourself"}));
        EXPECT_EQ(m3[0].Items.size(), 3u);
        EXPECT_EQ(m3[1].Items.at(1).Caption, L"The top news headlines from Yahoo! News");
        for (const auto& group : m3)
            for (const auto& site : group.Items) EXPECT_EQ(site.ExecPath.rfind(L"http://", 0), 0u) << site.Caption;
        EXPECT_EQ(m3[3].ExecPath, L"http://www.youtube.com/");
        EXPECT_EQ(data.LoadMenuRows(5, -1, highest).at(0).ExecPath, L"C:\\windows\\system32\\taskmgr.exe");
        EXPECT_TRUE(data.LoadMenuRows(6, -1, highest).empty());
    }
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from MenuItems"), 26);

    // A failure part way keeps the rows written before it and logs (d2).
    TempDir dir2(L"data");
    TDKData data(dir2 / L"dk.pdb");
    RawDb raw2(dir2 / L"dk.pdb");
    ASSERT_TRUE(raw2.Exec("create trigger Refuse before insert on MenuItems when new.Caption = 'Moves' "
                          "begin select raise(abort, 'no moves'); end"));
    LogCapture log;
    data.FillDefaultDB(folders);
    EXPECT_EQ(raw2.Int("select count(*) from MenuItems"), 23);
    EXPECT_EQ(raw2.Int("select count(*) from MenuItems where MID = 4"), 1);
    EXPECT_NE(log.Text().find("> (d2) no moves"), std::string::npos) << log.Text();
}

namespace {

// The product's key in both registry views, removed with what the test wrote there.
class InitedValue {
public:
    InitedValue() { Clear(); }
    ~InitedValue() { Clear(); }
    InitedValue(const InitedValue&) = delete;
    InitedValue& operator=(const InitedValue&) = delete;
    static void Set(REGSAM view, DWORD value) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(k, L"Inited", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(k);
    }
    static long Get(REGSAM view) {
        HKEY k = nullptr;
        DWORD value = 0, size = sizeof(value), type = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return -1;
        LONG rc = RegQueryValueExW(k, L"Inited", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(k);
        return rc == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long>(value) : -1;
    }
    static void Clear() {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, view, 0);
    }

private:
    static constexpr const wchar_t* kKey = L"SOFTWARE\\Orvane";
};

}  // namespace

// A standard user may only read HKLM; Wine runs everything as an administrator, so the registry
// layer refuses here what Windows refuses. A 32-bit installer left "Inited" = 0 in its view.
TEST(DataDefaults, AStandardUsersFirstStartFillsTheRowsOnce) {
    InitedValue inited;
    InitedValue::Set(KEY_WOW64_32KEY, 0);
    TempDir dir(L"data");
    const std::wstring file = dir / L"dk.pdb";
    {
        testing_support::StandardUserRegistry standardUser;
        TDKData data(file);
        EXPECT_TRUE(data.FillDefaultDBOnFirstRun());
        EXPECT_EQ(RawDb(file).Int("select count(*) from MenuItems"), 26);
        EXPECT_FALSE(data.FillDefaultDBOnFirstRun());
    }
    // The machine's value could not be changed; the next start (of any user of this file) adds
    // nothing.
    EXPECT_EQ(InitedValue::Get(KEY_WOW64_32KEY), 0);
    {
        testing_support::StandardUserRegistry standardUser;
        TDKData data(file);
        EXPECT_FALSE(data.FillDefaultDBOnFirstRun());
    }
    RawDb raw(file);
    EXPECT_EQ(raw.Int("select count(*) from MenuItems"), 26);
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where Caption = 'Text Editors'"), 1);

    // An administrator also marks the machine, in the view the value was read from; a value in
    // the program's own view comes first.
    TempDir dir2(L"data");
    {
        TDKData data(dir2 / L"dk.pdb");
        EXPECT_TRUE(data.FillDefaultDBOnFirstRun());
    }
    EXPECT_EQ(InitedValue::Get(KEY_WOW64_32KEY), 1);
    InitedValue::Set(KEY_WOW64_64KEY, 1);
    InitedValue::Set(KEY_WOW64_32KEY, 0);
    TempDir dir3(L"data");
    TDKData third(dir3 / L"dk.pdb");
    EXPECT_FALSE(third.FillDefaultDBOnFirstRun());

    // No value in either view is a read failure, raised for the bar's log; nothing is written.
    InitedValue::Clear();
    EXPECT_THROW(third.FillDefaultDBOnFirstRun(), std::runtime_error);
    EXPECT_EQ(RawDb(dir3 / L"dk.pdb").Int("select count(*) from MenuItems"), 0);
}

TEST(DataConcurrency, BuildingThreadsAndLaunchesShareTheConnection) {
    TempDir dir(L"data");
    TDKData data(dir / L"dk.pdb");
    data.FillDefaultDB({L"C:\\w", L"C:\\w\\s", L"C:\\d", L"C:\\o", L""});
    std::atomic<int> failures{0};
    std::vector<std::thread> builders;
    for (int t = 0; t < 8; ++t)
        builders.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                int highest = 0;
                auto items = data.LoadMenuRows(t % 6, -1, highest);
                if (items.empty()) ++failures;  // menus 0 to 5 all have rows
            }
        });
    for (int i = 0; i < 200; ++i) data.SaveExecTime(i % 3, L"Item", L"C:\\item" + std::to_wstring(i % 10) + L".exe");
    for (auto& b : builders) b.join();
    EXPECT_EQ(failures.load(), 0);
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from ExecItemTime"), 200);
    EXPECT_EQ(raw.Int("select count(*) from ItemsPath"), 30);  // one row per menu and path
}
