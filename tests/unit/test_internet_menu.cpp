// The Internet menu on a real dk.pdb: its fixed layout, stored bookmarks and groups, the
// create commands, web search and mail through a recorded shell open, and the browser switch
// writing the test prefix's registry.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "InternetMenu.h"
#include "DKUtils.h"
#include "Registry.h"
#include "SysUtils.h"

using testing_support::TempDir;

namespace {

std::vector<std::wstring> Captions(const TDKMenuItem* item) {
    std::vector<std::wstring> out;
    for (int i = 0; i < item->Count(); ++i) out.push_back(item->GetItem(i)->Caption());
    return out;
}

std::vector<int> Ids(const TDKMenuItem* item) {
    std::vector<int> out;
    for (int i = 0; i < item->Count(); ++i) out.push_back(item->GetItem(i)->MIID());
    return out;
}

TStoredItem Stored(int id, const std::wstring& caption, const std::wstring& url = L"",
                   std::vector<TStoredItem> children = {}) {
    TStoredItem s;
    s.MIID = id;
    s.Caption = caption;
    s.ExecPath = url;
    s.Items = std::move(children);
    return s;
}

class InternetMenu : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SysSmallImageList) InitializeDKUtils();
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        TInternetMenu::SetShellOpen([this](const std::wstring& a) { opened.push_back(a); });
        TDKPopupMenu::SetShellExecute(
            [this](const std::wstring& f, const std::wstring&, const std::wstring&) { runs.push_back(f); });
    }
    void TearDown() override {
        menu.reset();
        TInternetMenu::SetShellOpen(nullptr);
        TDKPopupMenu::SetShellExecute(nullptr);
        DKData.reset();
    }
    TInternetMenu& NewMenu() {
        menu.reset();
        menu = std::make_unique<TInternetMenu>(TMenuOwner{L"Internet", 3, RGB(200, 120, 40), nullptr});
        return *menu;
    }
    void StoreRows(std::vector<TStoredItem> rows) {
        TStoredItem root = Stored(-1, L"");
        root.Loadable = false;
        root.Items = std::move(rows);
        DKData->SaveMenuRows(3, root);
    }
    TDKMenuItem* Root() { return menu->Items(); }
    TDKMenuItem* Child(TDKMenuItem* item, const std::wstring& caption) {
        TDKMenuItem* c = item->FindItem(caption);
        EXPECT_NE(c, nullptr) << "no item " << gui::ToUtf8(caption);
        return c;
    }
    static void Click(TDKMenuItem* item) {
        ASSERT_TRUE(item->FOnClick) << gui::ToUtf8(item->Caption()) << " has no click";
        item->FOnClick(item);
    }

    TempDir dir{L"inetmenu"};
    std::unique_ptr<TInternetMenu> menu;
    std::vector<std::wstring> opened;
    std::vector<std::wstring> runs;
};

const std::vector<std::wstring> kBookmarkCommands = {L"Rename Bookmark", L"Edit Bookmark URL", L"Delete Bookmark"};
const std::vector<std::wstring> kGroupCommands = {L"Run All in Group", L"Create New Group", L"Create New Bookmark",
                                                  L"Rename Group", L"Remove Group"};

TEST_F(InternetMenu, DefaultLayoutWithoutStoredRows) {
    TInternetMenu& m = NewMenu();
    EXPECT_EQ(Captions(Root()), (std::vector<std::wstring>{L"Favorites", L"Bookmarks", L"FireFox Bookmarks",
                                                           L"IE Favorites", L"Search", L"Type Quety and Press Enter...",
                                                           L"Other Tasks", L"Create Mail Message",
                                                           L"Select Default Browser", L"Filter",
                                                           L"Type Bookmark Name..."}));
    EXPECT_EQ(Ids(Root()), (std::vector<int>{50000, 50001, 70015, 0, 70006, 70009, 0, 0, 0, 50008, 50009}));
    for (int i : {0, 1, 4, 6, 9}) EXPECT_TRUE(Root()->GetItem(i)->GroupTitle()) << i;

    TDKMenuItem* fav = Root()->GetItem(0);
    EXPECT_EQ(Captions(fav), (std::vector<std::wstring>{L"Create New Group", L"Create New Bookmark", L"Clear Favorites"}));
    EXPECT_EQ(Ids(fav), (std::vector<int>{1, 2, 0}));

    TDKMenuItem* search = Root()->GetItem(5);
    EXPECT_TRUE(search->Edited());
    EXPECT_EQ(Captions(search), (std::vector<std::wstring>{L"Google", L"Yahoo!", L"WikipediA"}));
    EXPECT_EQ(search->GetRadioBox(70010, 70012), 0);
    for (int i = 0; i < 3; ++i) EXPECT_NE(search->GetItem(i)->Icon(), nullptr) << "engine icon " << i;

    TDKMenuItem* browsers = Root()->GetItem(8);
    EXPECT_EQ(Captions(browsers), (std::vector<std::wstring>{L"FireFox", L"Internet Explorer", L"Opera"}));
    EXPECT_EQ(Ids(browsers), (std::vector<int>{70007, 70008, 70009}));
    EXPECT_EQ(browsers->GetRadioBox(70007, 70009), 0);

    EXPECT_TRUE(Root()->GetItem(2)->Filtered());
    EXPECT_TRUE(Root()->GetItem(3)->Filtered());
    EXPECT_NE(Root()->GetItem(2)->Icon(), nullptr);
    EXPECT_NE(Root()->GetItem(7)->Icon(), nullptr);
    EXPECT_EQ(m.WebIconsPath, gui::ExeDir() + L"images\\internet\\");
}

TEST_F(InternetMenu, FirstNewItemsWithoutStoredRowsTakePositiveUnusedIdsAndSurviveARestart) {
    NewMenu();
    // New group at the top of the favourites, then a bookmark at the end of them.
    Click(Root()->GetItem(0)->GetItem(0));
    TDKMenuItem* group = Root()->GetItem(1);
    EXPECT_EQ(group->MIID(), 0);
    EXPECT_TRUE(group->Edited());
    EXPECT_EQ(group->Caption(), L"Type Group Title and Press Enter");
    EXPECT_EQ(group->Icon(), menu->FFoldIcon);
    group->SetCaption(L"News");
    Click(group);
    EXPECT_GT(group->MIID(), 0);
    EXPECT_FALSE(group->Edited());
    EXPECT_TRUE(group->Loadable());
    EXPECT_EQ(Captions(group), kGroupCommands);
    EXPECT_EQ(Ids(group), (std::vector<int>{0, 13, 14, 0, 0}));

    Click(Root()->GetItem(0)->GetItem(1));
    TDKMenuItem* line = Root()->GetItem(2);
    EXPECT_EQ(Root()->GetItem(3)->MIID(), 50001);
    EXPECT_EQ(line->Caption(), L"Paste URL and Press Enter");
    EXPECT_EQ(line->ExecPath(), L"-");
    // The typed text is the bookmark's caption and address until its fetch reports back; nothing
    // listens on port 9 of this machine, so the fetch ends at once.
    line->SetCaption(L"127.0.0.1:9/start");
    Click(line);
    EXPECT_EQ(line->ExecPath(), L"127.0.0.1:9/start");
    EXPECT_EQ(line->Caption(), L"127.0.0.1:9/start");
    EXPECT_GT(line->MIID(), group->MIID());
    EXPECT_EQ(Captions(line), (std::vector<std::wstring>{L"Rename Bookmark", L"Edit Bookmark URL", L"Delete Bookmark",
                                                         L"127.0.0.1:9/start"}));
    EXPECT_TRUE(line->GetItem(3)->HasSplitter());
    testing_support::WaitUntil([] { return false; }, 300);
    const int groupId = group->MIID(), bookmarkId = line->MIID();
    for (int id : {groupId, bookmarkId})
        for (int fixed : {1, 2, 13, 14}) EXPECT_NE(id, fixed);

    // Saved when the menu goes; read back as stored items with the same ids.
    NewMenu();
    EXPECT_EQ(Root()->GetItem(1)->Caption(), L"News");
    EXPECT_EQ(Root()->GetItem(1)->MIID(), groupId);
    EXPECT_EQ(Captions(Root()->GetItem(1)), kGroupCommands);
    EXPECT_EQ(Root()->GetItem(2)->MIID(), bookmarkId);
    EXPECT_EQ(Root()->GetItem(2)->GetItem(3)->Caption(), Root()->GetItem(2)->ExecPath());
    EXPECT_EQ(Root()->GetItem(3)->MIID(), 50001);
    EXPECT_EQ(menu->FMaxMIID, bookmarkId);
}

TEST_F(InternetMenu, StoredGroupsAndBookmarksGetTheirCommandsAndCreateInsideAGroup) {
    // A cached site icon for b.example only; the https bookmark finds it by its bare host.
    const std::wstring icons = gui::ExeDir() + L"images\\internet\\";
    ASSERT_TRUE(CopyFileW((icons + L"googlecom.ico").c_str(), (icons + L"bexample.ico").c_str(), FALSE));
    struct Cleanup {
        std::wstring f;
        ~Cleanup() { DeleteFileW(f.c_str()); }
    } cleanup{icons + L"bexample.ico"};

    StoreRows({Stored(5, L"News", L"",
                      {Stored(6, L"A", L"http://a.example/"), Stored(7, L"B", L"https://b.example/x")}),
               Stored(8, L"C", L"c.example")});
    NewMenu();
    EXPECT_EQ(menu->FMaxMIID, 8);
    TDKMenuItem* group = Root()->GetItem(1);
    ASSERT_EQ(group->Caption(), L"News");
    EXPECT_FALSE(group->Filtered());
    EXPECT_FALSE(group->FOnClick);
    EXPECT_EQ(Captions(group), (std::vector<std::wstring>{L"A", L"B", L"Run All in Group", L"Create New Group",
                                                          L"Create New Bookmark", L"Rename Group", L"Remove Group"}));
    TDKMenuItem* a = group->GetItem(0);
    TDKMenuItem* b = group->GetItem(1);
    EXPECT_EQ(Captions(a), (std::vector<std::wstring>{L"Rename Bookmark", L"Edit Bookmark URL", L"Delete Bookmark",
                                                      L"http://a.example/"}));
    EXPECT_TRUE(a->Filtered());
    EXPECT_EQ(a->Icon(), nullptr);
    EXPECT_NE(b->Icon(), nullptr);
    EXPECT_EQ(Root()->GetItem(2)->Caption(), L"C");
    EXPECT_EQ(Root()->GetItem(3)->MIID(), 50001);

    // "Run All in Group" opens both bookmarks.
    Click(group->GetItem(2));
    EXPECT_EQ(runs, (std::vector<std::wstring>{L"http://a.example/", L"https://b.example/x"}));

    // "Create New Bookmark" of the group lands before "Run All in Group".
    Click(Child(group, L"Create New Bookmark"));
    ASSERT_EQ(group->Count(), 8);
    TDKMenuItem* line = group->GetItem(2);
    EXPECT_EQ(line->Caption(), L"Paste URL and Press Enter");
    EXPECT_EQ(line->MIID(), 0);
    EXPECT_TRUE(line->Edited());
    EXPECT_TRUE(line->Filtered());
    EXPECT_EQ(group->GetItem(3)->Caption(), L"Run All in Group");
    // Nothing listens on port 9 of this machine: the fetch of the new bookmark ends at once.
    line->SetCaption(L"http://127.0.0.1:9/page");
    Click(line);
    EXPECT_EQ(line->MIID(), 9);
    EXPECT_EQ(line->ExecPath(), L"http://127.0.0.1:9/page");
    EXPECT_EQ(line->Caption(), L"http://127.0.0.1:9/page");
    EXPECT_TRUE(line->Loadable());
    EXPECT_TRUE(line->Dragged());

    // "Create New Group" of the group lands at its top.
    Click(Child(group, L"Create New Group"));
    EXPECT_EQ(group->GetItem(0)->Caption(), L"Type Group Title and Press Enter");
    EXPECT_EQ(group->Count(), 9);

    // Editing the URL changes the bookmark's address only.
    Click(Child(a, L"Edit Bookmark URL"));
    TDKMenuItem* url = a->GetItem(3);
    EXPECT_TRUE(url->Edited());
    url->SetCaption(L"http://a2.example/");
    Click(url);
    EXPECT_FALSE(url->Edited());
    EXPECT_FALSE(url->FOnClick);
    EXPECT_EQ(a->ExecPath(), L"http://a2.example/");
    EXPECT_EQ(a->Caption(), L"A");

    // Let the fetch thread end before the item goes.
    testing_support::WaitUntil([] { return false; }, 300);
}

TEST_F(InternetMenu, SearchAddressesMailAndFilterEnter) {
    EXPECT_EQ(TInternetMenu::SearchAddress(0, L"wine shell"),
              L"http://www.google.com/search?q=wine shell&ie=utf-8&oe=utf-8");
    EXPECT_EQ(TInternetMenu::SearchAddress(1, L"wine shell"), L"http://search.yahoo.com/search?p=wine shell&ei=UTF-8");
    EXPECT_EQ(TInternetMenu::SearchAddress(2, L"Wine"), L"http://en.wikipedia.org/wiki/Wine");
    EXPECT_EQ(TInternetMenu::SearchAddress(-1, L"Wine"), L"");
    // A quotation mark cannot close the browser command's quoted address.
    EXPECT_EQ(TInternetMenu::SearchAddress(2, L"a\" -new-window x"), L"http://en.wikipedia.org/wiki/a%22 -new-window x");

    NewMenu();
    TDKMenuItem* search = Root()->FindItem(70009);
    // Enter before typing searches the prompt with Google.
    Click(search);
    // Yahoo! chosen: Google is unchecked.
    Click(Child(search, L"Yahoo!"));
    EXPECT_EQ(search->GetRadioBox(70010, 70012), 1);
    search->SetCaption(L"orvane");
    Click(search);
    Click(Child(search, L"WikipediA"));
    TDKMenuItem* filter = Root()->FindItem(50009);
    filter->SetCaption(L"Desktop shell");
    Click(filter);
    EXPECT_EQ(search->Caption(), L"Desktop shell");
    Click(Child(Root(), L"Create Mail Message"));
    EXPECT_EQ(opened, (std::vector<std::wstring>{
                          L"http://www.google.com/search?q=Type Quety and Press Enter...&ie=utf-8&oe=utf-8",
                          L"http://search.yahoo.com/search?p=orvane&ei=UTF-8",
                          L"http://en.wikipedia.org/wiki/Desktop shell", L"mailto:support@orvane.org"}));
}

// A registry value as it stood before a test, put back when the test ends; keys the test made
// are removed from the first one that did not exist.
class RegistryRestore {
public:
    RegistryRestore(HKEY root, const std::wstring& key, const std::wstring& name) : root_(root), key_(key), name_(name) {
        std::wstring path;
        size_t from = 0;
        while (from <= key.size()) {
            size_t p = key.find(L'\\', from);
            path = key.substr(0, p);
            HKEY h = nullptr;
            if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
                created_ = path;
                return;
            }
            RegCloseKey(h);
            if (p == std::wstring::npos) break;
            from = p + 1;
        }
        gui::Registry reg(root, KEY_READ);
        if (reg.OpenKeyReadOnly(key) && reg.ValueExists(name)) {
            try {
                old_ = reg.ReadString(name);
            } catch (const std::exception&) {
                old_ = std::wstring();
            }
        }
    }
    ~RegistryRestore() {
        if (!created_.empty()) {
            RegDeleteTreeW(root_, created_.c_str());
            return;
        }
        gui::Registry reg(root_);
        if (!reg.OpenKey(key_, false)) return;
        if (old_)
            reg.WriteString(name_, *old_);
        else
            reg.DeleteValue(name_);
    }
    RegistryRestore(const RegistryRestore&) = delete;
    RegistryRestore& operator=(const RegistryRestore&) = delete;

private:
    HKEY root_;
    std::wstring key_, name_, created_;
    std::optional<std::wstring> old_;
};

std::wstring UserValue(const std::wstring& key, const std::wstring& name) {
    gui::Registry reg(HKEY_CURRENT_USER, KEY_READ);
    if (!reg.OpenKeyReadOnly(key)) return L"<no key>";
    try {
        return reg.ReadString(name);
    } catch (const std::exception&) {
        return L"<no value>";
    }
}

struct TAssoc {
    const wchar_t* Key;
    const wchar_t* Name;
};
const TAssoc kAssoc[] = {
    {L"Software\\Clients\\StartMenuInternet", L""},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice", L"Progid"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.shtml\\UserChoice", L"Progid"},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice", L"Progid"},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice", L"Progid"},
    {L"Software\\Classes\\.htm", L""},
    {L"Software\\Classes\\.shtm", L""},
    {L"Software\\Classes\\http\\shell\\open\\command", L""},
    {L"Software\\Classes\\https\\shell\\open\\command", L""},
    {L"Software\\Classes\\http\\shell\\open\\ddeexec\\Application", L""},
};

std::vector<std::wstring> AssocValues() {
    std::vector<std::wstring> out;
    for (const TAssoc& a : kAssoc) out.push_back(UserValue(a.Key, a.Name));
    return out;
}

TEST_F(InternetMenu, BrowserSwitchWritesTheAssociationKeys) {
    const std::wstring ffKey = L"SOFTWARE\\Mozilla\\Mozilla Firefox";
    const std::wstring operaKey = L"SOFTWARE\\Opera Software";
    {
        gui::Registry probe(HKEY_LOCAL_MACHINE, KEY_READ);
        if (probe.KeyExists(ffKey) || probe.KeyExists(operaKey)) GTEST_SKIP() << "a browser key is already there";
    }
    std::vector<std::unique_ptr<RegistryRestore>> restore;
    for (const TAssoc& a : kAssoc) restore.push_back(std::make_unique<RegistryRestore>(HKEY_CURRENT_USER, a.Key, a.Name));
    restore.push_back(std::make_unique<RegistryRestore>(HKEY_LOCAL_MACHINE, ffKey, L"CurrentVersion"));
    restore.push_back(std::make_unique<RegistryRestore>(HKEY_LOCAL_MACHINE, operaKey, L"Last CommandLine"));

    const std::wstring firefox = dir / L"Mozilla Firefox\\firefox.exe";
    CreateDirectoryW((dir / L"Mozilla Firefox").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((testing_support::BinDir() + L"idle_child.exe").c_str(), firefox.c_str(), FALSE));
    {
        gui::Registry reg(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey(ffKey, true));
        reg.WriteString(L"CurrentVersion", L"99.0 (x64 en-US)");
        reg.CloseKey();
        ASSERT_TRUE(reg.OpenKey(ffKey + L"\\99.0 (x64 en-US)\\Main", true));
        reg.WriteString(L"PathToExe", firefox);
    }
    EXPECT_EQ(TInternetMenu::GetFirefoxPath(), firefox);
    EXPECT_EQ(TInternetMenu::GetOperaPath(), L"");

    NewMenu();
    TDKMenuItem* browsers = Child(Root(), L"Select Default Browser");
    TDKMenuItem* engines = Root()->FindItem(70009);
    EXPECT_NE(Child(browsers, L"FireFox")->Icon(), nullptr);
    EXPECT_EQ(Child(browsers, L"Opera")->Icon(), nullptr);

    // Opera is not installed: the choice is refused and nothing is written.
    const std::vector<std::wstring> before = AssocValues();
    Click(Child(browsers, L"Opera"));
    EXPECT_EQ(browsers->GetRadioBox(70007, 70009), 0);
    EXPECT_EQ(AssocValues(), before);

    Click(Child(browsers, L"FireFox"));
    const std::wstring ffCommand = L"\"" + firefox + L"\" -requestPending -osint -url \"%1\"";
    EXPECT_EQ(AssocValues(),
              (std::vector<std::wstring>{L"FIREFOX.EXE", L"FirefoxHTML", L"FirefoxHTML", L"FirefoxURL", L"FirefoxURL",
                                         L"FirefoxHTML", L"FirefoxHTML", ffCommand, ffCommand, L"Firefox"}));

    // Installed now: Opera takes the radio from FireFox; the engines stay as they are.
    const std::wstring opera = dir / L"opera.exe";
    testing_support::WriteFileBytes(opera, "MZ");
    {
        gui::Registry reg(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey(operaKey, true));
        reg.WriteString(L"Last CommandLine", opera);
    }
    Click(Child(engines, L"WikipediA"));
    Click(Child(browsers, L"Opera"));
    EXPECT_FALSE(Child(browsers, L"FireFox")->Checked());
    EXPECT_FALSE(Child(browsers, L"Internet Explorer")->Checked());
    EXPECT_TRUE(Child(browsers, L"Opera")->Checked());
    EXPECT_EQ(engines->GetRadioBox(70010, 70012), 2);
    const std::wstring operaCommand = L"\"" + opera + L"\"";
    EXPECT_EQ(AssocValues(), (std::vector<std::wstring>{L"Opera.exe", L"Opera.HTML", L"Opera.HTML", L"Opera.Protocol",
                                                        L"Opera.Protocol", L"Opera.HTML", L"Opera.HTML", operaCommand,
                                                        operaCommand, L"Opera"}));
    menu.reset();
}

}  // namespace
