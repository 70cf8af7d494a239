// The Firefox bookmark tree of the Internet menu, read from a places.sqlite made here in a fake
// profile: the test points the prefix's application-data folder at a folder of its own and its
// temporary folder at another.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "InternetMenu.h"
#include "Registry.h"
#include "SysUtils.h"
#include "sqlite3.h"

using testing_support::TempDir;

namespace {

// One registry value, put back (or removed) when the object dies.
class SavedValue {
public:
    SavedValue(const std::wstring& key, const std::wstring& name) : key_(key), name_(name) {
        gui::Registry reg(HKEY_CURRENT_USER, KEY_READ);
        if (reg.OpenKeyReadOnly(key) && reg.ValueExists(name)) {
            type_ = reg.GetDataType(name);
            old_ = reg.ReadString(name);
        }
    }
    ~SavedValue() {
        gui::Registry reg(HKEY_CURRENT_USER);
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
    std::wstring key_, name_;
    DWORD type_ = REG_NONE;
    std::optional<std::wstring> old_;
};

const wchar_t* const kExplorer = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

// Points CSIDL_APPDATA at a folder while it lives: the shell reads the user's folder value and
// notes what it found under "Shell Folders", so both are put back.
class AppDataRedirect {
public:
    explicit AppDataRedirect(const std::wstring& folder) {
        gui::Registry reg(HKEY_CURRENT_USER);
        if (reg.OpenKey(std::wstring(kExplorer) + L"User Shell Folders", true)) reg.WriteExpandString(L"AppData", folder);
    }

private:
    SavedValue user_{std::wstring(kExplorer) + L"User Shell Folders", L"AppData"};
    SavedValue cached_{std::wstring(kExplorer) + L"Shell Folders", L"AppData"};
};

// Points GetTempPathW of this process at a folder while it lives.
class TempRedirect {
public:
    explicit TempRedirect(const std::wstring& folder) {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t buf[MAX_PATH] = {};
            DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH);
            saved_.push_back(n ? std::optional<std::wstring>(buf) : std::nullopt);
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~TempRedirect() {
        const wchar_t* names[] = {L"TMP", L"TEMP"};
        for (size_t i = 0; i < 2; ++i) SetEnvironmentVariableW(names[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }

private:
    std::vector<std::optional<std::wstring>> saved_;
};

struct TRow {
    int Id;
    int Parent;
    int Type;  // 1 bookmark, 2 folder, 3 separator
    int Position;
    const char* Title;  // null: no title
    const char* Url;    // null: no place
};

// A places database with the two tables the reader joins.
void WritePlaces(const std::wstring& file, const std::vector<TRow>& rows) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(gui::ToUtf8(file).c_str(), &db), SQLITE_OK);
    // Firefox keeps its database in write-ahead-log mode.
    std::string sql =
        "pragma journal_mode = wal;"
        "create table moz_places (id integer primary key, url text);"
        "create table moz_bookmarks (id integer primary key, type integer, fk integer, parent integer,"
        " position integer, title text);";
    int place = 100;
    for (const TRow& r : rows) {
        std::string fk = "null";
        if (r.Url) {
            fk = std::to_string(++place);
            sql += "insert into moz_places values (" + fk + ", '" + r.Url + "');";
        }
        sql += "insert into moz_bookmarks values (" + std::to_string(r.Id) + ", " + std::to_string(r.Type) + ", " +
               fk + ", " + std::to_string(r.Parent) + ", " + std::to_string(r.Position) + ", " +
               (r.Title ? "'" + std::string(r.Title) + "'" : std::string("null")) + ");";
    }
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The bookmarks menu (id 2): rows are stored out of order so the reader must sort them.
const std::vector<TRow> kRows = {
    {1, 0, 2, 0, "", nullptr},
    {2, 1, 2, 0, "menu", nullptr},
    {15, 2, 1, 5, "Beta", "http://beta.example/"},
    {10, 2, 1, 0, "Alpha", "http://alpha.example/a"},
    {11, 2, 3, 1, nullptr, nullptr},
    {12, 2, 3, 2, "", nullptr},
    {13, 2, 2, 3, "Tools", nullptr},
    {14, 2, 2, 4, "Empty", nullptr},
    {16, 2, 3, 6, nullptr, nullptr},
    {20, 13, 1, 0, "Gamma", "https://gamma.example/"},
    {21, 13, 3, 1, "   ", nullptr},
    {22, 13, 1, 2, "Delta", "http://delta.example/"},
    {30, 3, 1, 0, "Toolbar only", "http://toolbar.example/"},
};

std::vector<std::wstring> Captions(const TDKMenuItem* item) {
    std::vector<std::wstring> out;
    for (int i = 0; i < item->Count(); ++i) out.push_back(item->GetItem(i)->Caption());
    return out;
}

class FirefoxBookmarks : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        CreateDirectoryW((dir / L"AppData").c_str(), nullptr);
        CreateDirectoryW((dir / L"Temp").c_str(), nullptr);
        const std::wstring firefox = dir / L"AppData\\Mozilla\\Firefox\\";
        SHCreateDirectoryExW(nullptr, (firefox + L"Profiles\\abc.default").c_str(), nullptr);
        profileDb = firefox + L"Profiles\\abc.default\\places.sqlite";
        testing_support::WriteFileBytes(firefox + L"profiles.ini",
                                        "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile1]\r\nName=other\r\n"
                                        "Path=Profiles/other\r\n\r\n[Profile0]\r\nName=default\r\nIsRelative=1\r\n"
                                        "Path= Profiles/abc.default \r\n");
        TDKPopupMenu::SetShellExecute(
            [this](const std::wstring& f, const std::wstring&, const std::wstring&) { runs.push_back(f); });
    }
    void TearDown() override {
        menu.reset();
        TDKPopupMenu::SetShellExecute(nullptr);
        DKData.reset();
    }
    // Builds the menu with the fake profile and temporary folder in place.
    TDKMenuItem* Build() {
        {
            AppDataRedirect appData(dir / L"AppData");
            TempRedirect temp(dir / L"Temp\\");
            wchar_t buf[MAX_PATH] = {};
            SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, buf);
            EXPECT_EQ(gui::IncludeTrailingBackslash(buf), dir / L"AppData\\");
            menu = std::make_unique<TInternetMenu>(TMenuOwner{L"Internet", 3, RGB(200, 120, 40), nullptr});
        }
        return menu->Items()->FindItem(TInternetMenu::FirefoxBookmarksID);
    }
    std::wstring TempCopy() const { return dir / L"Temp\\places.sqlite"; }

    TempDir dir{L"firefox"};
    std::wstring profileDb;
    std::unique_ptr<TInternetMenu> menu;
    std::vector<std::wstring> runs;
};

TEST_F(FirefoxBookmarks, TreeWithFoldersSeparatorsAndAnEmptyFolderFromAFreshCopy) {
    WritePlaces(profileDb, kRows);
    // A stale copy from an earlier run is overwritten, not read.
    testing_support::WriteFileBytes(TempCopy(), "stale, not a database");
    testing_support::WriteFileBytes(TempCopy() + L"-wal", std::string(64, 'w'));
    data_test::LogCapture log;
    TDKMenuItem* ff = Build();
    ASSERT_NE(ff, nullptr);
    EXPECT_EQ(log.Text(), "");
    for (const wchar_t* suffix : {L"", L"-wal", L"-shm"}) EXPECT_FALSE(gui::FileExists(TempCopy() + suffix)) << suffix;
    EXPECT_TRUE(gui::FileExists(profileDb));

    ASSERT_EQ(Captions(ff), (std::vector<std::wstring>{L"Alpha", L"Tools", L"Empty", L"Beta"}));
    TDKMenuItem* alpha = ff->GetItem(0);
    TDKMenuItem* tools = ff->GetItem(1);
    TDKMenuItem* empty = ff->GetItem(2);
    TDKMenuItem* beta = ff->GetItem(3);
    // Two separators in a row give one splitter; the one at the end gives nothing.
    EXPECT_FALSE(alpha->HasSplitter());
    EXPECT_TRUE(tools->HasSplitter());
    EXPECT_FALSE(empty->HasSplitter());
    EXPECT_FALSE(beta->HasSplitter());
    EXPECT_EQ(alpha->MIID(), 10);
    EXPECT_EQ(tools->MIID(), 13);
    EXPECT_EQ(alpha->ExecPath(), L"http://alpha.example/a");
    EXPECT_EQ(tools->ExecPath(), L"");
    for (TDKMenuItem* i : {alpha, tools, empty, beta}) {
        EXPECT_TRUE(i->Filtered());
        EXPECT_FALSE(i->Loadable());
    }

    EXPECT_EQ(Captions(alpha), (std::vector<std::wstring>{L"Copy to Favorites Root"}));
    EXPECT_TRUE(alpha->GetItem(0)->HasSplitter());
    EXPECT_EQ(alpha->GetItem(0)->Icon(), menu->FFavIcon);
    EXPECT_EQ(alpha->Icon(), nullptr);
    EXPECT_EQ(Captions(empty), (std::vector<std::wstring>{L"Copy to Favorites Root", L"Open All Bookmarks in Group"}));
    EXPECT_EQ(empty->Icon(), menu->FFoldIcon);
    EXPECT_EQ(Captions(tools), (std::vector<std::wstring>{L"Gamma", L"Delta", L"Copy to Favorites Root",
                                                          L"Open All Bookmarks in Group"}));
    EXPECT_EQ(tools->Icon(), menu->FFoldIcon);
    EXPECT_FALSE(tools->GetItem(0)->HasSplitter());
    EXPECT_TRUE(tools->GetItem(1)->HasSplitter());  // a blank title is a separator too

    // A bookmark opens its address; a folder opens all of its bookmarks.
    alpha->FOnClick(alpha);
    TDKMenuItem* all = tools->GetItem(3);
    all->FOnClick(all);
    EXPECT_EQ(runs, (std::vector<std::wstring>{L"http://alpha.example/a", L"https://gamma.example/",
                                               L"http://delta.example/"}));

    // Copies land at the end of the stored part, as a bookmark and as an empty group.
    TDKMenuItem* root = menu->Items();
    const int maxBefore = menu->FMaxMIID;
    alpha->GetItem(0)->FOnClick(alpha->GetItem(0));
    tools->GetItem(2)->FOnClick(tools->GetItem(2));
    ASSERT_EQ(root->GetItem(3)->MIID(), TDKPopupMenu::MainTitleID);
    TDKMenuItem* copied = root->GetItem(1);
    TDKMenuItem* group = root->GetItem(2);
    EXPECT_EQ(copied->Caption(), L"Alpha");
    EXPECT_EQ(copied->MIID(), maxBefore + 1);
    EXPECT_TRUE(copied->Loadable());
    EXPECT_EQ(Captions(copied), (std::vector<std::wstring>{L"Rename Bookmark", L"Edit Bookmark URL",
                                                           L"Delete Bookmark", L"http://alpha.example/a"}));
    EXPECT_EQ(group->Caption(), L"Tools");
    EXPECT_EQ(group->MIID(), maxBefore + 2);
    EXPECT_EQ(Captions(group), (std::vector<std::wstring>{L"Run All in Group", L"Create New Group",
                                                          L"Create New Bookmark", L"Rename Group", L"Remove Group"}));
    // The Firefox tree itself is never stored.
    menu.reset();
    data_test::RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where MID = 3"), 2);
}

TEST_F(FirefoxBookmarks, CorruptDatabaseIsLoggedAndTheCopyRemoved) {
    testing_support::WriteFileBytes(profileDb, std::string(4096, 'x'));
    data_test::LogCapture log;
    TDKMenuItem* ff = Build();
    ASSERT_NE(ff, nullptr);
    EXPECT_EQ(ff->Count(), 0);
    EXPECT_NE(log.Text().find("> (i2) "), std::string::npos) << log.Text();
    EXPECT_FALSE(gui::FileExists(TempCopy()));
    // The rest of the menu is built on.
    EXPECT_NE(menu->Items()->FindItem(TDKPopupMenu::FilterEditID), nullptr);
}

TEST_F(FirefoxBookmarks, FolderHoldingItsOwnAncestorIsNotReadAgain) {
    // The bookmarks menu listed inside one of its own subfolders.
    WritePlaces(profileDb, {{2, 13, 2, 0, "menu", nullptr},
                            {13, 2, 2, 0, "Tools", nullptr},
                            {20, 13, 1, 1, "Gamma", "http://gamma.example/"}});
    TDKMenuItem* ff = Build();
    ASSERT_EQ(Captions(ff), (std::vector<std::wstring>{L"Tools"}));
    TDKMenuItem* tools = ff->GetItem(0);
    EXPECT_EQ(Captions(tools), (std::vector<std::wstring>{L"menu", L"Gamma", L"Copy to Favorites Root",
                                                          L"Open All Bookmarks in Group"}));
    EXPECT_EQ(Captions(tools->GetItem(0)), (std::vector<std::wstring>{L"Copy to Favorites Root",
                                                                      L"Open All Bookmarks in Group"}));
}

TEST_F(FirefoxBookmarks, NoProfilePathOrNoDatabaseLeavesTheItemEmptyAndSilent) {
    data_test::LogCapture log;
    // No places.sqlite in the profile.
    EXPECT_EQ(Build()->Count(), 0);
    testing_support::WriteFileBytes(dir / L"AppData\\Mozilla\\Firefox\\profiles.ini", "[Profile0]\r\nName=x\r\n");
    WritePlaces(profileDb, kRows);
    EXPECT_EQ(Build()->Count(), 0);
    EXPECT_EQ(log.Text(), "");
    EXPECT_FALSE(gui::FileExists(TempCopy()));
}

}  // namespace
