// The Internet menu on a real dk.pdb: layout, stored bookmarks and groups, web search and mail
// through a recorded shell open, the browser switch in the test prefix's registry, and the
// Firefox tree read from a places.sqlite made here in a fake profile.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "MenuTestSupport.h"
#include "InternetMenu.h"
#include "Registry.h"
#include "Handles.h"
#include "sqlite3.h"

using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::wstring>;

namespace {

using testing_support::Captions;

void Click(TDKMenuItem* item) {
    ASSERT_TRUE(item && item->FOnClick);
    item->FOnClick(item);
}

using data_test::Node;

// A registry value put back as it was when the object dies; keys that it made are removed.
class SavedValue {
public:
    SavedValue(HKEY root, const std::wstring& key, const std::wstring& name) : root_(root), key_(key), name_(name) {
        gui::Registry reg(root, KEY_READ);
        size_t p = 0;
        do {
            p = key.find(L'\\', p + 1);
            if (!reg.KeyExists(key.substr(0, p))) {
                made_ = key.substr(0, p);
                return;
            }
        } while (p != std::wstring::npos);
        if (reg.OpenKeyReadOnly(key) && reg.ValueExists(name)) {
            type_ = reg.GetDataType(name);
            old_ = reg.ReadString(name);
        }
    }
    ~SavedValue() {
        if (!made_.empty()) {
            RegDeleteTreeW(root_, made_.c_str());
            return;
        }
        gui::Registry reg(root_);
        if (!reg.OpenKey(key_, false)) return;
        if (!old_)
            reg.DeleteValue(name_);
        else if (type_ == REG_EXPAND_SZ)
            reg.WriteExpandString(name_, *old_);
        else
            reg.WriteString(name_, *old_);
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

private:
    HKEY root_;
    std::wstring key_, name_, made_;
    DWORD type_ = REG_SZ;
    std::optional<std::wstring> old_;
};

std::wstring ReadValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    gui::Registry reg(root, KEY_READ);
    return reg.OpenKeyReadOnly(key) && reg.ValueExists(name) ? reg.ReadString(name) : L"<none>";
}

class InternetMenu : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        TInternetMenu::SetShellOpen([this](const std::wstring& a) { opened.push_back(a); });
        TDKPopupMenu::SetShellExecute([this](const std::wstring& f, auto&, auto&) { opened.push_back(f); });
    }
    void TearDown() override {
        menu.reset();
        TInternetMenu::SetShellOpen(nullptr);
        TDKPopupMenu::SetShellExecute(nullptr);
        DKData.reset();
    }
    TDKMenuItem* NewMenu() {
        menu.reset();
        menu = std::make_unique<TInternetMenu>(TMenuOwner{L"Internet", 3, RGB(200, 120, 40), nullptr});
        return menu->Items();
    }
    // Lets the fetch threads of new bookmarks report back while the menu lives.
    static void Pump() { testing_support::WaitUntil([] { return false; }, 300); }

    TempDir dir{L"inet"};
    std::unique_ptr<TInternetMenu> menu;
    Strings opened;
};

const Strings kGroupCommands = {L"Run All in Group", L"Create New Group", L"Create New Bookmark", L"Rename Group",
                                L"Remove Group"};

TEST_F(InternetMenu, LayoutWithoutStoredRowsAndFirstNewIdsAboveTheFixedOnes) {
    TDKMenuItem* root = NewMenu();
    EXPECT_EQ(Captions(root), (Strings{L"Favorites", L"Bookmarks", L"FireFox Bookmarks", L"IE Favorites", L"Search",
                                       L"Type Quety and Press Enter...", L"Other Tasks", L"Create Mail Message",
                                       L"Select Default Browser", L"Filter", L"Type Bookmark Name..."}));
    const int ids[] = {50000, 50001, 70015, 0, 70006, 70009, 0, 0, 0, 50008, 50009};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(root->GetItem(i)->MIID(), ids[i]) << i;
    EXPECT_EQ(Captions(root->GetItem(0)), (Strings{L"Create New Group", L"Create New Bookmark", L"Clear Favorites"}));
    EXPECT_EQ(Captions(root->GetItem(5)), (Strings{L"Google", L"Yahoo!", L"WikipediA"}));
    EXPECT_EQ(root->GetItem(5)->GetRadioBox(70010, 70012), 0);
    EXPECT_EQ(Captions(root->GetItem(8)), (Strings{L"FireFox", L"Internet Explorer", L"Opera"}));
    EXPECT_EQ(root->GetItem(8)->GetRadioBox(70007, 70009), 0);

    // With no stored rows a new group takes a positive id clear of the command ids 1, 2, 13, 14.
    Click(root->GetItem(0)->GetItem(0));
    TDKMenuItem* group = root->GetItem(1);
    EXPECT_TRUE(group->Edited());
    group->SetCaption(L"News");
    Click(group);
    EXPECT_EQ(group->MIID(), 15);
    EXPECT_EQ(Captions(group), kGroupCommands);
    EXPECT_TRUE(group->Loadable());
    root = NewMenu();
    EXPECT_EQ(root->GetItem(1)->Caption(), L"News");
    EXPECT_EQ(root->GetItem(1)->MIID(), 15);
    EXPECT_EQ(menu->FMaxMIID, 15);
}

TEST_F(InternetMenu, StoredBookmarksAndANewOneInsideAGroup) {
    // A cached site icon for b.example only; the https bookmark finds it under its bare host.
    const std::wstring icons = gui::ExeDir() + L"images\\internet\\";
    ASSERT_TRUE(CopyFileW((icons + L"googlecom.ico").c_str(), (icons + L"bexample.ico").c_str(), FALSE));
    struct Remove {
        std::wstring File;
        ~Remove() { DeleteFileW(File.c_str()); }
    } cleanup{icons + L"bexample.ico"};
    TStoredItem root = Node(-1, L"");
    root.Loadable = false;
    root.Items = {Node(5, L"News", L"", {Node(6, L"A", L"http://a.example/"), Node(7, L"B", L"https://b.example/x")})};
    DKData->SaveMenuRows(3, root);

    TDKMenuItem* group = NewMenu()->GetItem(1);
    EXPECT_EQ(menu->FMaxMIID, 7);
    EXPECT_EQ(Captions(group), (Strings{L"A", L"B", L"Run All in Group", L"Create New Group", L"Create New Bookmark",
                                        L"Rename Group", L"Remove Group"}));
    TDKMenuItem* a = group->GetItem(0);
    EXPECT_EQ(Captions(a), (Strings{L"Rename Bookmark", L"Edit Bookmark URL", L"Delete Bookmark", L"http://a.example/"}));
    EXPECT_EQ(a->Icon(), nullptr);
    EXPECT_NE(group->GetItem(1)->Icon(), nullptr);

    // The edit line lands before "Run All in Group"; Enter makes the typed text caption and URL.
    // Nothing listens on port 9 here, so the page fetch ends at once.
    Click(group->GetItem(4));
    TDKMenuItem* line = group->GetItem(2);
    EXPECT_EQ(line->Caption(), L"Paste URL and Press Enter");
    EXPECT_EQ(line->MIID(), 0);
    EXPECT_TRUE(line->Edited());
    line->SetCaption(L"127.0.0.1:9/page");
    Click(line);
    EXPECT_EQ(line->MIID(), 8);
    EXPECT_EQ(line->ExecPath(), L"127.0.0.1:9/page");
    EXPECT_EQ(Captions(line), (Strings{L"Rename Bookmark", L"Edit Bookmark URL", L"Delete Bookmark", L"127.0.0.1:9/page"}));
    EXPECT_FALSE(line->Edited());
    Pump();

    // Editing the URL line changes the address only.
    Click(a->GetItem(1));
    a->GetItem(3)->SetCaption(L"http://a2.example/");
    Click(a->GetItem(3));
    EXPECT_EQ(a->ExecPath(), L"http://a2.example/");
    EXPECT_EQ(a->Caption(), L"A");
}

TEST_F(InternetMenu, EditsEndedOtherwiseThanWithEnterLeaveTheBookmarksAsStored) {
    TStoredItem root = Node(-1, L"");
    root.Loadable = false;
    root.Items = {Node(5, L"News", L"", {Node(6, L"A", L"http://a.example/")}), Node(7, L"Tube", L"http://t.example/")};
    DKData->SaveMenuRows(3, root);
    TDKMenuItem* r = NewMenu();
    TDKMenuItem *group = r->GetItem(1), *a = group->GetItem(0), *tube = r->GetItem(2);
    ASSERT_EQ(tube->Caption(), L"Tube");

    // Rename Bookmark, a rename of the group and an edit of the URL line, each typed into, then
    // the menu hides (Esc, a click elsewhere, a launch).
    Click(tube->GetItem(0));
    tube->SetCaption(L"Tub");
    Click(group->FindItem(L"Rename Group"));
    group->SetCaption(L"Ne");
    Click(a->GetItem(1));
    a->GetItem(3)->SetCaption(L"http://b.example/");
    menu->Hide();
    EXPECT_EQ(tube->Caption(), L"Tube");
    EXPECT_EQ(group->Caption(), L"News");
    EXPECT_EQ(a->GetItem(3)->Caption(), L"http://a.example/");
    EXPECT_FALSE(tube->Edited() || group->Edited() || a->GetItem(3)->Edited());
    EXPECT_EQ(a->ExecPath(), L"http://a.example/");
    Click(tube);  // its own click again: the bookmark opens
    EXPECT_EQ(opened, (Strings{L"http://t.example/"}));

    // "Create New ..." twice in one place gives one line; the other kind and another group each
    // get their own.
    TDKMenuItem* favorites = r->GetItem(0);
    for (int i = 0; i < 2; ++i) Click(favorites->GetItem(1));  // Create New Bookmark
    for (int i = 0; i < 2; ++i) Click(favorites->GetItem(0));  // Create New Group
    for (int i = 0; i < 2; ++i) Click(group->FindItem(L"Create New Bookmark"));
    EXPECT_EQ(Captions(r).at(1), L"Type Group Title and Press Enter");
    EXPECT_EQ(Captions(r).at(4), L"Paste URL and Press Enter");
    EXPECT_EQ(Captions(r).at(5), L"Bookmarks");
    EXPECT_EQ(Captions(group), (Strings{L"A", L"Paste URL and Press Enter", L"Run All in Group", L"Create New Group",
                                        L"Create New Bookmark", L"Rename Group", L"Remove Group"}));
    // New lines stay open through a hide; only finished ones are stored.
    menu->Hide();
    EXPECT_TRUE(r->GetItem(1)->Edited());
    Click(tube->GetItem(0));
    tube->SetCaption(L"Gone");
    r = NewMenu();
    EXPECT_EQ(Captions(r).at(1), L"News");
    EXPECT_EQ(Captions(r).at(2), L"Tube");
    EXPECT_EQ(Captions(r).at(3), L"Bookmarks");
    EXPECT_EQ(r->GetItem(1)->GetItem(0)->ExecPath(), L"http://a.example/");
}

TEST_F(InternetMenu, SearchWithTheCheckedEngineAndMail) {
    EXPECT_EQ(TInternetMenu::SearchAddress(0, L"a b"), L"http://www.google.com/search?q=a b&ie=utf-8&oe=utf-8");
    EXPECT_EQ(TInternetMenu::SearchAddress(3, L"a"), L"");
    // A quotation mark cannot end the browser command's quoted address.
    EXPECT_EQ(TInternetMenu::SearchAddress(2, L"a\" -x"), L"http://en.wikipedia.org/wiki/a%22 -x");

    TDKMenuItem* root = NewMenu();
    TDKMenuItem* search = root->FindItem(70009);
    Click(search);  // the prompt itself, with Google
    Click(search->GetItem(1));
    search->SetCaption(L"orvane");
    Click(search);
    Click(search->GetItem(2));
    root->FindItem(50009)->SetCaption(L"Desktop shell");
    Click(root->FindItem(50009));
    EXPECT_EQ(search->Caption(), L"Desktop shell");
    Click(root->GetItem(7));
    EXPECT_EQ(opened, (Strings{L"http://www.google.com/search?q=Type Quety and Press Enter...&ie=utf-8&oe=utf-8",
                               L"http://search.yahoo.com/search?p=orvane&ei=UTF-8",
                               L"http://en.wikipedia.org/wiki/Desktop shell", L"mailto:support@orvane.org"}));
}

TEST_F(InternetMenu, BrowserSwitchWritesTheAssociationKeys) {
    const std::wstring ff = L"SOFTWARE\\Mozilla\\Mozilla Firefox", opera = L"SOFTWARE\\Opera Software";
    if (gui::Registry(HKEY_LOCAL_MACHINE, KEY_READ).KeyExists(ff)) GTEST_SKIP() << "Firefox is registered here";
    const std::pair<const wchar_t*, const wchar_t*> keys[] = {
        {L"Software\\Clients\\StartMenuInternet", L""},
        {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice", L"Progid"},
        {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.shtml\\UserChoice", L"Progid"},
        {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice", L"Progid"},
        {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice", L"Progid"},
        {L"Software\\Classes\\.htm", L""},
        {L"Software\\Classes\\.shtm", L""},
        {L"Software\\Classes\\http\\shell\\open\\command", L""},
        {L"Software\\Classes\\https\\shell\\open\\command", L""},
        {L"Software\\Classes\\http\\shell\\open\\ddeexec\\Application", L""}};
    std::vector<std::unique_ptr<SavedValue>> saved;
    for (auto& [key, name] : keys) saved.push_back(std::make_unique<SavedValue>(HKEY_CURRENT_USER, key, name));
    saved.push_back(std::make_unique<SavedValue>(HKEY_LOCAL_MACHINE, ff, L"CurrentVersion"));
    saved.push_back(std::make_unique<SavedValue>(HKEY_LOCAL_MACHINE, opera, L"Last CommandLine"));
    auto values = [&] {
        Strings v;
        for (auto& [key, name] : keys) v.push_back(ReadValue(HKEY_CURRENT_USER, key, name));
        return v;
    };

    const std::wstring exe = dir / L"firefox.exe";
    ASSERT_TRUE(CopyFileW((testing_support::BinDir() + L"idle_child.exe").c_str(), exe.c_str(), FALSE));
    gui::Registry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(ff, true) && reg.WriteString(L"CurrentVersion", L"99.0 (x64 en-US)"));
    ASSERT_TRUE(reg.OpenKey(ff + L"\\99.0 (x64 en-US)\\Main", true) && reg.WriteString(L"PathToExe", exe));
    reg.CloseKey();

    TDKMenuItem* browsers = NewMenu()->GetItem(8);
    TDKMenuItem* engines = menu->Items()->GetItem(5);
    EXPECT_NE(browsers->GetItem(0)->Icon(), nullptr);
    EXPECT_EQ(browsers->GetItem(2)->Icon(), nullptr);
    // Opera is not installed: the choice is refused and nothing is written.
    const Strings before = values();
    Click(browsers->GetItem(2));
    EXPECT_EQ(browsers->GetRadioBox(70007, 70009), 0);
    EXPECT_EQ(values(), before);

    Click(browsers->GetItem(0));
    const std::wstring cmd = L"\"" + exe + L"\" -requestPending -osint -url \"%1\"";
    EXPECT_EQ(values(), (Strings{L"FIREFOX.EXE", L"FirefoxHTML", L"FirefoxHTML", L"FirefoxURL", L"FirefoxURL",
                                 L"FirefoxHTML", L"FirefoxHTML", cmd, cmd, L"Firefox"}));

    // Installed now: Opera takes the radio; the engines stay as they are.
    ASSERT_TRUE(reg.OpenKey(opera, true) && reg.WriteString(L"Last CommandLine", exe));
    reg.CloseKey();
    Click(engines->GetItem(2));
    Click(browsers->GetItem(2));
    EXPECT_EQ(browsers->GetRadioBox(70007, 70009), 2);
    EXPECT_FALSE(browsers->GetItem(0)->Checked() || browsers->GetItem(1)->Checked());
    EXPECT_EQ(engines->GetRadioBox(70010, 70012), 2);
    EXPECT_EQ(values(), (Strings{L"Opera.exe", L"Opera.HTML", L"Opera.HTML", L"Opera.Protocol", L"Opera.Protocol",
                                 L"Opera.HTML", L"Opera.HTML", L"\"" + exe + L"\"", L"\"" + exe + L"\"", L"Opera"}));
    menu.reset();
}

// ---- Firefox ----

// The shell reads the user's folder value and notes what it found under "Shell Folders";
// TMP and TEMP give this process's temporary folder.
class FirefoxBookmarks : public InternetMenu {
protected:
    void SetUp() override {
        InternetMenu::SetUp();
        CreateDirectoryW((dir / L"Temp").c_str(), nullptr);
        SHCreateDirectoryExW(nullptr, (dir / L"AppData\\Mozilla\\Firefox\\Profiles\\p.default").c_str(), nullptr);
        WriteFileBytes(dir / L"AppData\\Mozilla\\Firefox\\profiles.ini",
                       "[Profile1]\r\nPath=Profiles/other\r\n[Profile0]\r\nName=default\r\nPath= Profiles/p.default \r\n");
    }
    TDKMenuItem* Build() {
        const std::wstring explorer = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
        SavedValue user(HKEY_CURRENT_USER, explorer + L"User Shell Folders", L"AppData");
        SavedValue noted(HKEY_CURRENT_USER, explorer + L"Shell Folders", L"AppData");
        gui::Registry reg(HKEY_CURRENT_USER);
        EXPECT_TRUE(reg.OpenKey(explorer + L"User Shell Folders", true) &&
                    reg.WriteExpandString(L"AppData", dir / L"AppData"));
        wchar_t tmp[2][MAX_PATH] = {};
        GetEnvironmentVariableW(L"TMP", tmp[0], MAX_PATH);
        GetEnvironmentVariableW(L"TEMP", tmp[1], MAX_PATH);
        SetEnvironmentVariableW(L"TMP", (dir / L"Temp\\").c_str());
        SetEnvironmentVariableW(L"TEMP", (dir / L"Temp\\").c_str());
        NewMenu();
        SetEnvironmentVariableW(L"TMP", tmp[0]);
        SetEnvironmentVariableW(L"TEMP", tmp[1]);
        return menu->Items()->GetItem(2);
    }
    // Rows of moz_bookmarks: id, parent, position, title (null: none), url (null: no place).
    struct TRow {
        int Id, Parent, Position;
        const char *Title, *Url;
    };
    // Runs sql on the profile's places file, made when missing.
    void ExecPlaces(const std::string& sql) {
        gui::SqliteHandle db;
        ASSERT_EQ(sqlite3_open(gui::ToUtf8(places).c_str(), db.put()), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db.get());
    }
    void WritePlaces(const std::vector<TRow>& rows) {
        // Firefox keeps its database in write-ahead-log mode.
        std::string sql =
            "pragma journal_mode = wal; create table moz_places (id integer primary key, url text);"
            "create table moz_bookmarks (id integer primary key, type integer, fk integer, parent integer,"
            " position integer, title text);";
        auto text = [](const char* s) { return s ? "'" + std::string(s) + "'" : std::string("null"); };
        for (const TRow& r : rows)
            sql += "insert into moz_places values (" + std::to_string(r.Id) + ", " + text(r.Url) +
                   "); insert into moz_bookmarks values (" + std::to_string(r.Id) + ", 1, " +
                   (r.Url ? std::to_string(r.Id) : "null") + ", " + std::to_string(r.Parent) + ", " +
                   std::to_string(r.Position) + ", " + text(r.Title) + ");";
        ExecPlaces(sql);
    }
    // Firefox's own index of a folder's entries.
    void IndexPlaces() { ExecPlaces("create index parentindex on moz_bookmarks (parent, position)"); }
    const std::wstring places = dir / L"AppData\\Mozilla\\Firefox\\Profiles\\p.default\\places.sqlite";
    const std::wstring copy = dir / L"Temp\\places.sqlite";
};

TEST_F(FirefoxBookmarks, TreeFromAFreshCopyThatIsRemovedAfterwards) {
    WritePlaces({{2, 1, 0, "menu", nullptr},
                 {15, 2, 5, "Beta", "http://beta.example/"},  // stored out of order
                 {10, 2, 0, "Alpha", "http://alpha.example/a"},
                 {11, 2, 1, nullptr, nullptr},  // two separators in a row
                 {12, 2, 2, "", nullptr},
                 {13, 2, 3, "Tools", nullptr},
                 {14, 2, 4, "Empty", nullptr},
                 {16, 2, 6, nullptr, nullptr},  // a separator at the end
                 {20, 13, 0, "Gamma", "https://gamma.example/"},
                 {21, 13, 1, "  ", nullptr},
                 {22, 13, 2, "Delta", "http://delta.example/"},
                 {30, 3, 0, "Toolbar", "http://toolbar.example/"}});
    // A stale copy and journal of an earlier run are replaced, not read.
    WriteFileBytes(copy, "stale");
    WriteFileBytes(copy + L"-wal", std::string(64, 'w'));
    data_test::LogCapture log;
    TDKMenuItem* ff = Build();
    EXPECT_EQ(log.Text(), "");
    for (const wchar_t* suffix : {L"", L"-wal", L"-shm"}) EXPECT_FALSE(gui::FileExists(copy + suffix)) << suffix;

    ASSERT_EQ(Captions(ff), (Strings{L"Alpha", L"Tools", L"Empty", L"Beta"}));
    TDKMenuItem *alpha = ff->GetItem(0), *tools = ff->GetItem(1), *empty = ff->GetItem(2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ff->GetItem(i)->HasSplitter(), i == 1) << i;
    EXPECT_EQ(alpha->MIID(), 10);
    EXPECT_EQ(alpha->ExecPath(), L"http://alpha.example/a");
    EXPECT_FALSE(alpha->Loadable());
    EXPECT_EQ(Captions(alpha), (Strings{L"Copy to Favorites Root"}));
    EXPECT_EQ(Captions(empty), (Strings{L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_EQ(empty->Icon(), menu->FFoldIcon.get());
    EXPECT_EQ(Captions(tools), (Strings{L"Gamma", L"Delta", L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_TRUE(tools->GetItem(1)->HasSplitter());

    Click(alpha);
    Click(tools->GetItem(3));
    EXPECT_EQ(opened, (Strings{L"http://alpha.example/a", L"https://gamma.example/", L"http://delta.example/"}));

    // Copies go to the end of the stored part: a bookmark, and a folder as an empty group.
    Click(alpha->GetItem(0));
    Click(tools->GetItem(2));
    TDKMenuItem* root = menu->Items();
    EXPECT_EQ(Captions(root->GetItem(1)),
              (Strings{L"Rename Bookmark", L"Edit Bookmark URL", L"Delete Bookmark", L"http://alpha.example/a"}));
    EXPECT_EQ(root->GetItem(2)->Caption(), L"Tools");
    EXPECT_EQ(Captions(root->GetItem(2)), kGroupCommands);
    EXPECT_EQ(root->GetItem(3)->MIID(), 50001);
    menu.reset();
    EXPECT_EQ(data_test::RawDb(dir / L"dk.pdb").Int("select count(*) from MenuItems where MID = 3"), 2);
}

TEST_F(FirefoxBookmarks, DamagedDatabases) {
    // The bookmarks menu listed inside its own subfolder is not read a second time.
    WritePlaces({{2, 13, 0, "menu", nullptr}, {13, 2, 0, "Tools", nullptr}});
    TDKMenuItem* ff = Build();
    ASSERT_EQ(Captions(ff), (Strings{L"Tools"}));
    EXPECT_EQ(Captions(ff->GetItem(0)),
              (Strings{L"menu", L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));

    // Not a database at all: no tree, no copy, nothing logged; the menu is built on.
    WriteFileBytes(places, std::string(4096, 'x'));
    data_test::LogCapture log;
    EXPECT_EQ(Build()->Count(), 0);
    EXPECT_EQ(log.Text(), "");
    EXPECT_FALSE(gui::FileExists(copy));
    EXPECT_NE(menu->Items()->FindItem(50009), nullptr);
}

// Folders nested 5,000 deep, read on a thread of less stack than a menu builder gets: the chain
// is shown to the bound with a line in the log, and the bookmarks around it load.
TEST_F(FirefoxBookmarks, AVeryDeepChainStopsAtTheBoundAndTheRestLoads) {
    constexpr int kDeep = 5000;
    std::vector<TRow> rows{{2, 1, 0, "menu", nullptr},
                           {10, 2, 0, "Alpha", "http://alpha.example/"},
                           {14, 2, 2, "Tools", nullptr},
                           {20, 14, 0, "Gamma", "http://gamma.example/"},
                           {30, 101, 1, "Inside", "http://inside.example/"}};
    std::vector<std::string> titles;
    titles.reserve(kDeep);
    for (int i = 0; i < kDeep; ++i) titles.push_back("Level " + std::to_string(i + 1));
    for (int i = 0; i < kDeep; ++i) rows.push_back({100 + i, i ? 99 + i : 2, i ? 0 : 1, titles[i].c_str(), nullptr});
    WritePlaces(rows);
    IndexPlaces();

    data_test::LogCapture log;
    HANDLE t = CreateThread(
        nullptr, 1024 * 1024,
        [](void* p) -> DWORD {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            static_cast<decltype(this)>(p)->Build();
            CoUninitialize();
            return 0;
        },
        this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 120000), WAIT_OBJECT_0);
    CloseHandle(t);
    ASSERT_TRUE(menu);

    TDKMenuItem* ff = menu->Items()->GetItem(2);
    ASSERT_EQ(Captions(ff), (Strings{L"Alpha", L"Level 1", L"Tools"}));
    EXPECT_EQ(Captions(ff->GetItem(2)), (Strings{L"Gamma", L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_EQ(Captions(ff->GetItem(1)->GetItem(0)),
              (Strings{L"Level 3", L"Inside", L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    int depth = 0;
    TDKMenuItem* last = ff->GetItem(1);
    for (TDKMenuItem* i = last; i && i->Caption().rfind(L"Level ", 0) == 0; i = i->GetItem(0)) {
        ++depth;
        last = i;
    }
    EXPECT_EQ(depth, 1000);
    // The last level shown is a folder whose entries are left out.
    EXPECT_EQ(Captions(last), (Strings{L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_NE(log.Text().find("(i3) Firefox bookmarks nested deeper than 1000 levels are not shown"),
              std::string::npos)
        << log.Text();
    EXPECT_FALSE(gui::FileExists(copy));
    EXPECT_NE(menu->Items()->FindItem(50009), nullptr);
}

TEST_F(FirefoxBookmarks, AnUnreadableFolderEndsOnlyItself) {
    // The middle folder's entries fill pages of their own, which are then damaged.
    const std::string big = "BROKEN" + std::string(3990, 'b');
    std::vector<TRow> rows{{2, 1, 0, "menu", nullptr},
                           {10, 2, 0, "Alpha", "http://alpha.example/"},
                           {13, 2, 1, "Broken", nullptr},
                           {14, 2, 2, "Tools", nullptr},
                           {15, 2, 3, "Beta", "http://beta.example/"},
                           {20, 14, 0, "Gamma", "http://gamma.example/"}};
    for (int i = 0; i < 3; ++i) rows.push_back({1000 + i, 13, i, big.c_str(), "http://lost.example/"});
    WritePlaces(rows);
    IndexPlaces();
    std::string bytes = testing_support::ReadFileBytes(places);
    int damaged = 0;
    for (size_t at = bytes.find("BROKEN"); at != std::string::npos; at = bytes.find("BROKEN", at + 1), ++damaged)
        bytes[at / 4096 * 4096] = 0;  // no valid page type
    ASSERT_EQ(damaged, 3);
    WriteFileBytes(places, bytes);

    data_test::LogCapture log;
    TDKMenuItem* ff = Build();
    ASSERT_EQ(Captions(ff), (Strings{L"Alpha", L"Broken", L"Tools", L"Beta"}));
    EXPECT_EQ(Captions(ff->GetItem(1)), (Strings{L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_EQ(Captions(ff->GetItem(2)), (Strings{L"Gamma", L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_EQ(log.Text(), "");
    EXPECT_FALSE(gui::FileExists(copy));
}

// Without bookmarks to show, a click on the item tells which file was looked at and why it gave
// none; with bookmarks the item only opens them.
TEST_F(FirefoxBookmarks, AnItemWithoutBookmarksSaysWhyOnAClick) {
    auto note = [&](const std::wstring& file, const std::wstring& reason) {
        TDKMenuItem* ff = Build();
        EXPECT_EQ(ff->Count(), 0);
        if (!ff->FOnClick) {
            ADD_FAILURE() << "no click on the empty item";
            return;
        }
        testing_support::CloseNotifications();
        ff->FOnClick(ff);
        const auto notes = testing_support::NotificationTexts();
        testing_support::CloseNotifications();
        ASSERT_EQ(notes.size(), 1u);
        const std::wstring head = L"No bookmarks\r\nFireFox Bookmarks\r\n", tail = file + L"\r\n" + reason;
        EXPECT_EQ(notes[0].substr(0, head.size()), head) << gui::ToUtf8(notes[0]);
        EXPECT_GE(notes[0].size(), tail.size());
        EXPECT_EQ(notes[0].substr(notes[0].size() - std::min(notes[0].size(), tail.size())), tail)
            << gui::ToUtf8(notes[0]);
    };
    WritePlaces({{2, 1, 0, "menu", nullptr}, {10, 2, 0, "Alpha", "http://alpha.example/"}});
    TDKMenuItem* ff = Build();
    EXPECT_EQ(Captions(ff), (Strings{L"Alpha"}));
    EXPECT_FALSE(ff->FOnClick);

    menu.reset();
    DeleteFileW(places.c_str());
    WritePlaces({{3, 1, 0, "toolbar", nullptr}});  // a bookmarks menu of nothing
    note(L"\\places.sqlite", L"The bookmarks menu of the profile is empty.");

    WriteFileBytes(places, std::string(4096, 'x'));
    note(L"\\places.sqlite", L"file is not a database");

    DeleteFileW(places.c_str());
    note(L"p.default\\places.sqlite", gui::SysErrorMessage(ERROR_FILE_NOT_FOUND));

    DeleteFileW((dir / L"AppData\\Mozilla\\Firefox\\profiles.ini").c_str());  // no Firefox at all
    note(L"\\Mozilla\\Firefox\\profiles.ini", gui::SysErrorMessage(ERROR_FILE_NOT_FOUND));
}

}  // namespace
