// Shell-folder items on real folders: merging two folders, sort order, on-demand folders,
// names and id lists, exposure on a worker thread, and opening a shell file.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "SysUtils.h"
#include "MenuTestSupport.h"
#include "TestSupport.h"
#include "PlainMenu.h"
#include "menu/ShellIcon.h"

using testing_support::TempDir;

namespace {

std::wstring Lower(std::wstring s) { return gui::AnsiLowerCase(s); }

void MakeFile(const std::wstring& path, const std::string& text = "x") { testing_support::WriteFileBytes(path, text); }

void MakeShortcut(const std::wstring& lnk, const std::wstring& target) {
    IShellLinkW* link = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&link))));
    link->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    EXPECT_TRUE(SUCCEEDED(file->Save(lnk.c_str(), TRUE)));
    file->Release();
    link->Release();
}

using testing_support::Captions;

std::wstring NoSlash(const std::wstring& p) { return Lower(gui::ExcludeTrailingBackslash(p)); }

class ShellFolder : public ::testing::Test {
protected:
    void SetUp() override {
        menu = std::make_unique<TPlainMenu>();
        menu->FMenuID = 0;
        root = menu->RootItem();
        root->SetShowFileExt(true);
    }
    void TearDown() override { menu.reset(); }
    TempDir dir{L"shell"};
    std::unique_ptr<TDKPopupMenu> menu;
    TDKMenuItem* root = nullptr;
};

TEST_F(ShellFolder, UserAndCommonFoldersMerge) {
    std::wstring user = dir / L"user", common = dir / L"common";
    for (auto& d : {user, common, user + L"\\Shared", common + L"\\Shared", user + L"\\OnlyUser"})
        CreateDirectoryW(d.c_str(), nullptr);
    MakeFile(dir / L"tool.exe");
    MakeShortcut(user + L"\\Tool.lnk", dir / L"tool.exe");
    MakeShortcut(common + L"\\Tool.lnk", dir / L"tool.exe");
    MakeFile(user + L"\\Shared\\a.txt");
    MakeFile(common + L"\\Shared\\b.txt");
    MakeFile(common + L"\\OnlyCommon.txt");

    root->ExposeFolder(user, true, 224, 1);
    root->ExposeFolder(common, true, 224, 1);

    EXPECT_EQ(root->ExecPath(), L"-");
    EXPECT_EQ(NoSlash(root->GetFileName()), NoSlash(user));
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"OnlyUser", L"Shared", L"Tool.lnk", L"OnlyCommon.txt"}));

    // Entries of the second folder hold absolute lists.
    TDKMenuItem* onlyCommon = root->FindItem(std::wstring(L"OnlyCommon.txt"));
    ASSERT_NE(onlyCommon, nullptr);
    EXPECT_EQ(onlyCommon->ExecPath(), L"-");
    EXPECT_EQ(Lower(onlyCommon->GetFileName()), Lower(common + L"\\OnlyCommon.txt"));
    // The shortcut present in both shows once, from the first folder (relative list).
    TDKMenuItem* tool = root->FindItem(std::wstring(L"Tool.lnk"));
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->ExecPath(), L"");
    EXPECT_EQ(Lower(tool->GetFileName()), Lower(user + L"\\Tool.lnk"));
    EXPECT_TRUE(static_cast<bool>(tool->FOnClick));

    // The shared folder shows once and holds the entries of both.
    TDKMenuItem* shared = root->FindItem(std::wstring(L"Shared"));
    ASSERT_NE(shared, nullptr);
    EXPECT_TRUE(shared->Folder());
    EXPECT_EQ(Captions(shared), (std::vector<std::wstring>{L"a.txt", L"b.txt"}));
    EXPECT_EQ(shared->GetItem(0)->ExecPath(), L"");
    EXPECT_EQ(Lower(shared->GetItem(0)->GetFileName()), Lower(user + L"\\Shared\\a.txt"));
    EXPECT_EQ(shared->GetItem(1)->ExecPath(), L"-");
    EXPECT_EQ(Lower(shared->GetItem(1)->GetFileName()), Lower(common + L"\\Shared\\b.txt"));
    EXPECT_TRUE(root->GetItem(0)->FIconInGlobList);

    // The merged folder keeps its own bound folder, in which its relative children live.
    IPersistFolder2* persist = nullptr;
    ASSERT_NE(shared->FCurrIShellFolder.get(), nullptr);
    ASSERT_TRUE(SUCCEEDED(
        shared->FCurrIShellFolder->QueryInterface(IID_IPersistFolder2, reinterpret_cast<void**>(&persist))));
    LPITEMIDLIST bound = nullptr;
    EXPECT_TRUE(SUCCEEDED(persist->GetCurFolder(&bound)));
    persist->Release();
    PIDLPtr boundList(bound);
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    EXPECT_EQ(NoSlash(GetDisplayName(desktop, boundList.get(), true)), NoSlash(user + L"\\Shared"));
    desktop->Release();

    // Full lists are built down the owner chain.
    PIDLPtr parent, full;
    shared->GetItem(0)->GetFullPIDL(parent, full);
    ASSERT_TRUE(parent && full);
    EXPECT_EQ(GetPIDLSize(full.get()), GetPIDLSize(parent.get()) + GetPIDLSize(shared->GetItem(0)->FPIDL) - 2);
    shared->GetItem(1)->GetFullPIDL(parent, full);
    EXPECT_FALSE(parent);
}

TEST_F(ShellFolder, SortsFoldersFirstThenFilesByExtension) {
    for (auto n : {L"Beta", L"alpha"}) CreateDirectoryW((dir / n).c_str(), nullptr);
    for (auto n : {L"b.txt", L"a.TXT", L"c.doc", L"z"}) MakeFile(dir / n);
    root->ExposeFolder(dir.Path(), false, 224, 1);
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"alpha", L"Beta", L"z", L"c.doc", L"a.TXT", L"b.txt"}));
    // Sub-folders wait for their first opening.
    TDKMenuItem* alpha = root->GetItem(0);
    EXPECT_TRUE(alpha->Folder());
    EXPECT_EQ(Captions(alpha), std::vector<std::wstring>{L"Empty"});
    EXPECT_TRUE(static_cast<bool>(alpha->FOnBeforExpose));

    // Without extensions shown the caption is the shell's display name.
    TDKMenuItem plain;
    plain.ExposeFolder(dir.Path(), false, 224, 0);
    ASSERT_EQ(plain.Count(), 6);
    EXPECT_EQ(plain.FindItem(std::wstring(L"c.doc")) == nullptr,
              plain.FindItem(std::wstring(L"c")) != nullptr);
}

TEST_F(ShellFolder, OnDemandFolderIsReadAtEachOpening) {
    std::wstring sub = dir / L"sub";
    CreateDirectoryW(sub.c_str(), nullptr);
    CreateDirectoryW((dir / L"empty").c_str(), nullptr);
    root->ExposeFolder(dir.Path(), false, 224, 1);
    TDKMenuItem* s = root->FindItem(std::wstring(L"sub"));
    ASSERT_NE(s, nullptr);
    int afterExpose = 0;
    s->FOnAfterExpose = [&](TDKMenuItem*) { ++afterExpose; };

    MakeFile(sub + L"\\one.txt");
    s->DoExposeItemIDList(s);
    EXPECT_EQ(Captions(s), std::vector<std::wstring>{L"one.txt"});
    EXPECT_EQ(Lower(s->GetItem(0)->GetFileName()), Lower(sub + L"\\one.txt"));
    EXPECT_EQ(afterExpose, 1);

    MakeFile(sub + L"\\two.txt");
    s->DoExposeItemIDList(s);
    EXPECT_EQ(Captions(s), (std::vector<std::wstring>{L"one.txt", L"two.txt"}));

    // An empty folder opens a window without rows.
    TDKMenuItem* e = root->FindItem(std::wstring(L"empty"));
    ASSERT_NE(e, nullptr);
    e->ShowAt(300, 300);
    EXPECT_EQ(e->Count(), 0);
    ASSERT_NE(e->Form(), nullptr);
    EXPECT_EQ(e->RowCount(), 0);
    e->CloseWindow();
}

// Shell entries draw their picture from the system image list.
TEST_F(ShellFolder, RowsShowSystemImageListIcons) {
    ASSERT_NE(SysSmallImageList(), nullptr);
    MakeFile(dir / L"a.txt");
    root->ExposeFolder(dir.Path(), false, 224, 1);
    root->ShowAt(100, 100);
    ASSERT_EQ(root->RowCount(), 1);
    auto iconArea = [&] {
        RECT r = root->RowIconRect(0);
        std::vector<DWORD> px;
        for (int y = r.top; y < r.top + 16; ++y)
            for (int x = root->RowBounds(0).left + 2; x < root->RowBounds(0).left + 26; ++x)
                px.push_back(root->PicturePixel(x, y));
        return px;
    };
    auto withIcon = iconArea();
    TDKMenuItem* a = root->GetItem(0);
    a->FIconInGlobList = false;
    a->FIcon = nullptr;
    root->UpdateWindow(-1);
    EXPECT_NE(withIcon, iconArea());
    root->CloseWindow();
}

// File types of this test's own: one that hides its extension, one whose icon is each file's
// own ("%1"), one with a fixed icon. Removed again at the end.
struct TestFileTypes {
    TestFileTypes() {
        Add(L".orvhide", L"orvtest.hide", L"NeverShowExt", nullptr);
        Add(L".orvicon", L"orvtest.icon", nullptr, L"%1");
        Add(L".orvplain", L"orvtest.plain", nullptr, L"shell32.dll,3");
    }
    ~TestFileTypes() {
        for (auto k : {L".orvhide", L"orvtest.hide", L".orvicon", L"orvtest.icon", L".orvplain", L"orvtest.plain"})
            RegDeleteTreeW(HKEY_CLASSES_ROOT, k);
    }
    static void Set(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(k);
    }
    static void Add(const wchar_t* ext, const wchar_t* id, const wchar_t* flag, const wchar_t* icon) {
        Set(ext, nullptr, id);
        Set(id, nullptr, L"Orvane test type");
        if (flag) Set(id, flag, L"");
        if (icon) Set(std::wstring(id) + L"\\DefaultIcon", nullptr, icon);
    }
};

// The shell's normal display name of an item, asked of its parent folder.
std::wstring ShellName(TDKMenuItem* item) {
    PIDLPtr parent, full;
    item->GetFullPIDL(parent, full);
    IShellFolder* folder = nullptr;
    LPCITEMIDLIST last = nullptr;
    if (!full || FAILED(SHBindToParent(full.get(), IID_IShellFolder, reinterpret_cast<void**>(&folder), &last)))
        return L"?";
    std::wstring name = GetDisplayName(folder, last, false);
    folder->Release();
    return name;
}

// Captions of files are learnt from the shell once per extension; each must still be what the
// shell gives that file, hidden extensions, names that are all extension and folders with a
// desktop.ini included.
TEST_F(ShellFolder, CaptionsAreTheShellsDisplayNames) {
    TestFileTypes types;
    std::wstring plain = dir / L"plain", named = dir / L"named";
    CreateDirectoryW(plain.c_str(), nullptr);
    CreateDirectoryW(named.c_str(), nullptr);
    for (auto n : {L"a.txt", L"b.txt", L"c.TXT", L".txt", L"noext", L"other", L"x. y", L"w. y", L"one.orvhide",
                   L"two.orvhide", L".orvhide", L"dir.orvhide\\", L"z.orvplain"}) {
        std::wstring p = plain + L"\\" + n;
        if (p.back() == L'\\')
            CreateDirectoryW(p.c_str(), nullptr);
        else
            MakeFile(p);
    }
    MakeFile(plain + L"\\target.txt");
    MakeShortcut(plain + L"\\first.lnk", plain + L"\\target.txt");
    MakeShortcut(plain + L"\\second.lnk", plain + L"\\target.txt");
    MakeFile(named + L"\\desktop.ini", "[LocalizedFileNames]\r\nfile.orvhide=Localized\r\n");
    MakeFile(named + L"\\file.orvhide");
    MakeFile(named + L"\\more.orvhide");

    TDKMenuItem item;
    item.ExposeFolder(dir.Path(), true, 224, 1);
    std::vector<std::wstring> got, shell;
    std::function<void(TDKMenuItem*)> walk = [&](TDKMenuItem* x) {
        for (int i = 0; i < x->Count(); ++i) {
            got.push_back(x->GetItem(i)->Caption());
            shell.push_back(ShellName(x->GetItem(i)));
            walk(x->GetItem(i));
        }
    };
    walk(&item);
    EXPECT_EQ(got, shell);
    EXPECT_EQ(got.size(), 21u);
    // The rule was seen at work: the type's extension is hidden, a bare ".orvhide" keeps its name.
    TDKMenuItem* p = item.FindItem(std::wstring(L"plain"));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p->FindItem(std::wstring(L"two")), nullptr);
    EXPECT_NE(p->FindItem(std::wstring(L".orvhide")), nullptr);
}

// A file whose type shows one icon for all its files takes the index looked up for the first of
// them painted; every row still shows the index the shell gives for its own full list.
TEST_F(ShellFolder, FilesOfATypeShareTheIconTheShellGivesEach) {
    TestFileTypes types;
    EXPECT_TRUE(TypeIconIsShared(L".orvplain"));
    EXPECT_TRUE(TypeIconIsShared(L".txt"));
    EXPECT_TRUE(TypeIconIsShared(L""));
    EXPECT_FALSE(TypeIconIsShared(L".orvicon"));
    EXPECT_FALSE(TypeIconIsShared(L".EXE"));
    EXPECT_FALSE(TypeIconIsShared(L".lnk"));

    const std::wstring images = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\";
    CopyFileW((images + L"folder.ico").c_str(), (dir / L"one.orvicon").c_str(), FALSE);
    CopyFileW((images + L"favorites.ico").c_str(), (dir / L"two.orvicon").c_str(), FALSE);
    for (auto n : {L"a.txt", L"b.txt", L"a.orvplain", L"b.orvplain", L"noext", L"other", L"a.exe", L"b.exe"})
        MakeFile(dir / n);
    CreateDirectoryW((dir / L"folder one").c_str(), nullptr);
    CreateDirectoryW((dir / L"folder two").c_str(), nullptr);
    // A folder whose desktop.ini gives it an icon of its own.
    const std::wstring custom = dir / L"folder custom";
    CreateDirectoryW(custom.c_str(), nullptr);
    MakeFile(custom + L"\\desktop.ini",
             "[.ShellClassInfo]\r\nIconFile=" + gui::ToUtf8(images) + "favorites.ico\r\nIconIndex=0\r\n");
    SetFileAttributesW(custom.c_str(), FILE_ATTRIBUTE_SYSTEM);
    MakeShortcut(dir / L"to icon.lnk", dir / L"one.orvicon");
    MakeShortcut(dir / L"to folder.lnk", dir / L"folder one");

    root->ExposeFolder(dir.Path(), false, 224, 1);
    ASSERT_EQ(root->Count(), 15);
    std::vector<int> got, own;
    for (int i = 0; i < root->Count(); ++i) {
        TDKMenuItem* c = root->GetItem(i);
        EXPECT_TRUE(IsShellIconPending(reinterpret_cast<INT_PTR>(c->FIcon)));
        PIDLPtr parent, full;
        c->GetFullPIDL(parent, full);
        own.push_back(GetShellIconIndex(full.get(), false, false));
        got.push_back(ShellIconIndex(c));
    }
    EXPECT_EQ(got, own);
    // The two files of the "%1" type, and the folder with its own icon, show their own pictures.
    auto index = [&](const wchar_t* caption) {
        TDKMenuItem* c = root->FindItem(std::wstring(caption));
        return c ? ShellIconIndex(c) : -1;
    };
    EXPECT_NE(index(L"one.orvicon"), index(L"two.orvicon"));
    EXPECT_NE(index(L"folder custom"), index(L"folder one"));
}

// Paints leave every icon not known yet to the icon worker while it lives.
struct IconsLater {
    IconsLater() { SetRowIconLookupTime(0); }
    ~IconsLater() { SetRowIconLookupTime(25); }
};

bool IconsKnown(const TDKMenuItem* item) {
    for (int i = 0; i < item->Count(); ++i)
        if (IsShellIconPending(reinterpret_cast<INT_PTR>(item->GetItem(i)->FIcon))) return false;
    return true;
}

bool RowIconsKnown(const TDKMenuItem* window) {
    for (int r = 0; r < window->RowCount(); ++r)
        if (IsShellIconPending(reinterpret_cast<INT_PTR>(window->GetItem(window->RowData(r)->ItemIndex)->FIcon)))
            return false;
    return true;
}

int IconsPending(const TDKMenuItem* item) {
    int n = 0;
    for (int i = 0; i < item->Count(); ++i) n += IsShellIconPending(reinterpret_cast<INT_PTR>(item->GetItem(i)->FIcon));
    return n;
}

// The icon strips of a window's rows as its picture holds them.
std::vector<DWORD> IconStrips(const TDKMenuItem* window) {
    std::vector<DWORD> px;
    for (int r = 0; r < window->RowCount(); ++r) {
        RECT b = window->RowBounds(r), icon = window->RowIconRect(r);
        for (int y = icon.top; y < icon.top + 20; ++y)
            for (int x = b.left + 2; x < b.left + 26; ++x) px.push_back(window->PicturePixel(x, y));
    }
    return px;
}

// Files whose icons are each file's own, and files and folders that share their type's icon.
void MakeMixedFolder(const TempDir& dir) {
    const std::wstring images = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\";
    for (int i = 0; i < 6; ++i) {
        const std::wstring n = std::to_wstring(i);
        CopyFileW((images + (i % 2 ? L"folder.ico" : L"favorites.ico")).c_str(), (dir / (L"pic" + n + L".orvicon")).c_str(),
                  FALSE);
        MakeFile(dir / (L"prog" + n + L".exe"));
        MakeFile(dir / (L"text" + n + L".txt"));
    }
    CreateDirectoryW((dir / L"folder").c_str(), nullptr);
    MakeShortcut(dir / L"to pic.lnk", dir / L"pic1.orvicon");
}

// Icons that a paint leaves for later come after the window shows, each the icon the shell gives
// its own entry's full list, and each painted in its own row.
TEST_F(ShellFolder, IconsLookedUpAfterTheWindowShowsAreTheShellsOwn) {
    TestFileTypes types;
    MakeMixedFolder(dir);
    IconsLater later;
    root->ExposeFolder(dir.Path(), false, 224, 1);
    ASSERT_EQ(root->Count(), 20);
    root->ShowAt(100, 100);
    ASSERT_EQ(root->RowCount(), 20);
    EXPECT_EQ(IconsPending(root), 20);
    const std::vector<DWORD> shown = IconStrips(root);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return IconsKnown(root); }, 20000));
    for (int i = 0; i < root->Count(); ++i) {
        TDKMenuItem* c = root->GetItem(i);
        PIDLPtr parent, full;
        c->GetFullPIDL(parent, full);
        EXPECT_EQ(reinterpret_cast<INT_PTR>(c->FIcon), GetShellIconIndex(full.get(), false, false)) << i;
    }
    const std::vector<DWORD> late = IconStrips(root);
    EXPECT_NE(late, shown);
    root->UpdateWindow(-1);  // every row painted anew with the icons known
    EXPECT_EQ(IconStrips(root), late);
    root->CloseWindow();
}

// Rows made anew, taken away or filtered out before their icons come: the answers reach their
// entries' rows as they are then, and leave the entries that went alone.
TEST_F(ShellFolder, RowsChangedBeforeTheirIconsCome) {
    TestFileTypes types;
    MakeMixedFolder(dir);
    IconsLater later;
    root->SetFiltered(true);
    root->ExposeFolder(dir.Path(), false, 224, 1);
    root->ShowAt(100, 100);
    root->Exchange(1, root->Count() - 1);
    root->Delete(root->GetItem(2));
    root->Exchange(0, 5);
    ASSERT_EQ(root->RowCount(), 19);
    root->Filter(L"p", nullptr);  // the programs, pictures and the shortcut stay
    ASSERT_EQ(root->RowCount(), 12);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return RowIconsKnown(root); }, 20000));
    const std::vector<DWORD> late = IconStrips(root);
    root->UpdateWindow(-1);
    EXPECT_EQ(IconStrips(root), late);
    root->CloseWindow();
}

// A window closed before its icons come is left as it was, and the icons it asked for are not
// looked up; a menu freed meanwhile is not reached either. (The worker answers in order: once a
// later window has its icons, every earlier ask has been answered.)
TEST_F(ShellFolder, WindowsClosedBeforeTheirIconsAreLeftAlone) {
    TestFileTypes types;
    MakeMixedFolder(dir);
    TempDir many{L"shellmany"}, few{L"shellfew"};
    for (int i = 0; i < 300; ++i) MakeFile(many / (L"program " + std::to_wstring(i) + L".exe"));
    MakeFile(few / L"one.exe");
    MakeFile(few / L"two.exe");
    IconsLater later;
    root->ExposeFolder(dir.Path(), false, 224, 1);
    // A window whose icons, asked first, keep the worker busy while the one under test opens and
    // closes.
    TPlainMenu busy;
    busy.RootItem()->ExposeFolder(many.Path(), false, 224, 1);
    busy.RootItem()->ShowAt(0, 21);
    auto flush = [&] {
        TPlainMenu m;
        m.RootItem()->ExposeFolder(few.Path(), false, 224, 1);
        m.RootItem()->ShowAt(900, 100);
        return testing_support::WaitUntil([&] { return IconsKnown(m.RootItem()); }, 30000);
    };
    root->ShowAt(100, 100);
    const std::vector<DWORD> shown = IconStrips(root);
    root->CloseWindow();
    ASSERT_TRUE(flush());
    EXPECT_GT(IconsPending(root), 0);  // asks still waiting as the window closed were dropped
    EXPECT_EQ(IconStrips(root), shown);

    root->ShowAt(100, 100);
    menu.reset();
    ASSERT_TRUE(flush());
}

TEST_F(ShellFolder, UnparsablePathGivesNoChildren) {
    root->ExposeFolder(dir / L"missing\\nowhere", false, 224, 1);
    EXPECT_EQ(root->Count(), 0);
    EXPECT_FALSE(root->IsFile());
}

// Menus are built on worker threads; the GUI thread then uses only the id lists.
TEST_F(ShellFolder, ExposedOnAWorkerThreadUsableOnTheGuiThread) {
    MakeFile(dir / L"doc.txt");
    CreateDirectoryW((dir / L"inner").c_str(), nullptr);
    MakeFile(dir / L"inner\\deep.txt");
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        root->ExposeFolder(dir.Path(), true, 224, 1);
        CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(root->FCurrIShellFolder.get(), nullptr);
    ASSERT_EQ(Captions(root), (std::vector<std::wstring>{L"inner", L"doc.txt"}));
    TDKMenuItem* deep = root->GetItem(0)->GetItem(0);
    EXPECT_EQ(deep->GetItem(0), nullptr);
    EXPECT_EQ(Lower(deep->GetFileName()), Lower(dir / L"inner\\deep.txt"));
    EXPECT_NE(deep->ContextMenu(), nullptr);
    EXPECT_NE(root->GetItem(1)->ContextMenu(), nullptr);
}

// Clicking a shell file starts it through its id list, in its folder, and records the launch.
TEST_F(ShellFolder, ClickStartsTheFileInItsFolderAndRecordsIt) {
    std::wstring bin = dir / L"bin";
    CreateDirectoryW(bin.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((testing_support::BinDir() + L"\\startup_probe.exe").c_str(), (bin + L"\\probe.exe").c_str(),
                          FALSE));
    SetEnvironmentVariableW(L"ORV_PROBE_DIR", gui::ExcludeTrailingBackslash(dir.Path()).c_str());
    TempDir data{L"shelldb"};
    auto saved = std::move(DKData);
    DKData = std::make_unique<TDKData>(data / L"dk.pdb");

    root->ExposeFolder(dir.Path(), false, 224, 1);
    TDKMenuItem* b = root->FindItem(std::wstring(L"bin"));
    ASSERT_NE(b, nullptr);
    b->DoExposeItemIDList(b);
    TDKMenuItem* probe = b->FindItem(std::wstring(L"probe.exe"));
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(static_cast<bool>(probe->FOnClick));
    probe->FOnClick(probe);

    std::wstring started = dir / L"probe.started";
    EXPECT_TRUE(testing_support::WaitUntil([&] { return gui::FileExists(started); }, 10000));
    std::string text = testing_support::ReadFileBytes(started);
    std::wstring all(reinterpret_cast<const wchar_t*>(text.data()), text.size() / sizeof(wchar_t));
    std::wstring cwd = all.substr(0, all.find(L'\n'));
    EXPECT_EQ(NoSlash(cwd), NoSlash(bin));

    auto rows = DKData->RecentRows(0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Caption, L"probe.exe");
    EXPECT_EQ(rows[0].Path, Lower(bin + L"\\probe.exe"));
    DKData = std::move(saved);
    SetEnvironmentVariableW(L"ORV_PROBE_DIR", nullptr);
}

}  // namespace
