// The Files menu on the test prefix's real drives and folders, with a real dk.pdb: the drive
// list and its rebuild on device messages, the file and folder commands, renaming, the
// Total Commander lookup and the path box.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>
#include <shlobj.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "settings/DKLog.h"
#include "Application.h"
#include "settings/Configs.h"
#include "DataTestSupport.h"
#include "MenuTestSupport.h"
#include "FilesMenu.h"
#include "Registry.h"
#include "SysUtils.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFileBytes;

namespace {

const wchar_t* const kTCKey = L"Software\\Ghisler\\Total Commander";

std::wstring Lower(const std::wstring& s) { return gui::AnsiLowerCase(s); }
std::wstring NoSlash(const std::wstring& p) { return Lower(gui::ExcludeTrailingBackslash(p)); }

using testing_support::Captions;

std::vector<std::wstring> Head(const TDKMenuItem* item, size_t n) {
    std::vector<std::wstring> all = Captions(item);
    if (all.size() > n) all.resize(n);
    return all;
}

// The names in a folder, "." and ".." left out.
std::vector<std::wstring> Names(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) out.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return out;
}

void Expose(TDKMenuItem* item) {
    if (item->FOnBeforExpose) item->FOnBeforExpose(item);
}

void Click(TDKMenuItem* item, const std::wstring& caption) {
    TDKMenuItem* c = item->FindItem(caption);
    ASSERT_NE(c, nullptr) << "no command " << gui::ToUtf8(caption);
    ASSERT_TRUE(c->FOnClick);
    c->FOnClick(c);
}

// The drive items: the root's children between "All Files" and the filter title.
std::vector<TDKMenuItem*> Drives(const TDKMenuItem* root) {
    std::vector<TDKMenuItem*> out;
    bool in = false;
    for (int i = 0; i < root->Count(); ++i) {
        TDKMenuItem* c = root->GetItem(i);
        if (c->MIID() == TDKPopupMenu::FilterTitleID) break;
        if (in) out.push_back(c);
        if (c->MIID() == TDKPopupMenu::MainTitleID) in = true;
    }
    return out;
}

TDKMenuItem* DriveItem(const TDKMenuItem* root, wchar_t letter) {
    const std::wstring tag = std::wstring(1, letter) + L":";
    for (TDKMenuItem* d : Drives(root))
        if (d->Caption().find(tag) != std::wstring::npos) return d;
    return nullptr;
}

// Everything after the drives, as the menu must keep it: filter, then statistics.
std::vector<std::wstring> Tail(const TDKMenuItem* root) {
    std::vector<std::wstring> all = Captions(root);
    return std::vector<std::wstring>(all.end() - std::min<size_t>(all.size(), 5), all.end());
}
const std::vector<std::wstring> kTail{L"Filter", L"Type Folder or File Name...", L"Statistics", L"Most Popular",
                                      L"Recent"};

// Opens the menu's way from the drive down to Folder as a user would, one submenu at a time.
TDKMenuItem* Reach(TFilesMenu& m, const std::wstring& Folder) {
    std::wstring target = NoSlash(Folder);
    TDKMenuItem* item = DriveItem(m.Items(), static_cast<wchar_t>(towupper(target[0])));
    while (item) {
        Expose(item);
        std::wstring here = NoSlash(item->GetFileName());
        if (here == target) return item;
        TDKMenuItem* next = nullptr;
        for (int i = 0; i < item->Count() && !next; ++i) {
            TDKMenuItem* c = item->GetItem(i);
            if (!c->Folder()) continue;
            std::wstring p = NoSlash(c->GetFileName());
            if (target == p || target.rfind(p + L"\\", 0) == 0) next = c;
        }
        EXPECT_NE(next, nullptr) << "no way below " << gui::ToUtf8(here);
        item = next;
    }
    return nullptr;
}

// A drive letter of our own for a while: defined over a folder, taken away at the end.
class TempDrive {
public:
    explicit TempDrive(const std::wstring& target) {
        DWORD used = GetLogicalDrives();
        for (wchar_t l = L'W'; l > L'M'; --l)
            if (!(used & (1u << (l - L'A')))) {
                letter = l;
                break;
            }
        if (letter && !DefineDosDeviceW(0, Name().c_str(), target.c_str())) letter = 0;
        if (letter) target_ = target;
    }
    ~TempDrive() { Remove(); }
    void Remove() {
        if (letter) DefineDosDeviceW(DDD_REMOVE_DEFINITION, Name().c_str(), target_.c_str());
        removed = true;
    }
    std::wstring Name() const { return std::wstring(1, letter) + L":"; }
    wchar_t letter = 0;
    bool removed = false;

private:
    std::wstring target_;
};

// Device events reach the listener the way the system broadcasts them: sent from another
// thread (a message carrying a pointer cannot be posted), while this thread pumps.
void SendFromOutside(WPARAM event, LPARAM data) {
    HWND wnd = FindWindowW(L"FShellTrayHnd", nullptr);
    ASSERT_NE(wnd, nullptr);
    std::atomic<bool> delivered{false};
    std::thread sender([&] {
        SendMessageW(wnd, WM_DEVICECHANGE, event, data);
        delivered = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return delivered.load(); }, 5000));
    sender.join();
}

void SendVolumeEvent(WPARAM event, wchar_t letter) {
    DEV_BROADCAST_VOLUME v{};
    v.dbcv_size = sizeof(v);
    v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    v.dbcv_unitmask = 1u << (letter - L'A');
    SendFromOutside(event, reinterpret_cast<LPARAM>(&v));
}

class FilesMenuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeFilesMenu(); }
    static void TearDownTestSuite() { FinalizeFilesMenu(); }

    void SetUp() override {
        SaveTCKey();
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        TFilesMenu::SetWinExec([this](const std::string& cmd, UINT show) { execs.push_back({cmd, show}); });
        TFilesMenu::SetTotalCommanderStart(
            [this](const std::wstring& f, const std::wstring& p) { tcStarts.push_back({f, p}); });
        TDKPopupMenu::SetShellExecute([](const std::wstring&, const std::wstring&, const std::wstring&) {});
    }
    void TearDown() override {
        menu.reset();
        TFilesMenu::SetWinExec(nullptr);
        TFilesMenu::SetTotalCommanderStart(nullptr);
        TDKPopupMenu::SetShellExecute(nullptr);
        DKData.reset();
        RestoreTCKey();
    }
    TFilesMenu& NewMenu() {
        menu.reset();
        menu = std::make_unique<TFilesMenu>(TMenuOwner{L"Files", 1, RGB(200, 160, 60), nullptr});
        return *menu;
    }
    // The test prefix may know a Total Commander of its own; every test starts without one.
    void SaveTCKey() {
        gui::Registry reg(HKEY_CURRENT_USER, KEY_READ);
        hadTC = reg.OpenKeyReadOnly(kTCKey) && reg.ValueExists(L"InstallDir");
        if (hadTC) oldTC = reg.ReadString(L"InstallDir");
        gui::Registry w(HKEY_CURRENT_USER);
        if (w.OpenKey(kTCKey, false)) w.DeleteValue(L"InstallDir");
    }
    void RestoreTCKey() {
        gui::Registry w(HKEY_CURRENT_USER);
        if (hadTC) {
            if (w.OpenKey(kTCKey, true)) w.WriteString(L"InstallDir", oldTC);
        } else if (w.OpenKey(kTCKey, false)) {
            w.DeleteValue(L"InstallDir");
        }
    }

    TempDir dir{L"files"};
    std::unique_ptr<TFilesMenu> menu;
    std::vector<std::pair<std::string, UINT>> execs;
    std::vector<std::pair<std::wstring, std::wstring>> tcStarts;
    bool hadTC = false;
    std::wstring oldTC;
};

}  // namespace

TEST_F(FilesMenuTest, DrivesWithAColonStandBetweenTitleAndFilter) {
    TFilesMenu& m = NewMenu();
    TDKMenuItem* root = m.Items();
    EXPECT_TRUE(root->ShowFileExt());
    EXPECT_EQ(Head(root, 2), (std::vector<std::wstring>{L"Favorites", L"All Files"}));
    EXPECT_TRUE(root->GetItem(1)->GroupTitle());
    EXPECT_EQ(root->GetItem(1)->MIID(), TDKPopupMenu::MainTitleID);
    EXPECT_EQ(Tail(root), kTail);

    // Every drive of the prefix, and nothing of the computer folder without a drive letter
    // (Wine lists "Control Panel" there).
    std::vector<TDKMenuItem*> drives = Drives(root);
    DWORD mask = GetLogicalDrives();
    int letters = 0;
    for (int i = 0; i < 26; ++i) letters += (mask >> i) & 1;
    EXPECT_EQ(static_cast<int>(drives.size()), letters);
    ASSERT_NE(DriveItem(root, L'C'), nullptr);
    for (TDKMenuItem* d : drives) {
        EXPECT_NE(d->Caption().find(L':'), std::wstring::npos) << gui::ToUtf8(d->Caption());
        EXPECT_TRUE(d->Folder());
        EXPECT_FALSE(d->Filtered());
        EXPECT_TRUE(static_cast<bool>(d->FOnAfterExpose));
    }
    EXPECT_EQ(NoSlash(DriveItem(root, L'C')->GetFileName()), L"c:");
}

TEST_F(FilesMenuTest, AFailingDriveListingIsLoggedAndTheMenuIsBuiltAroundIt) {
    // The listing gives its drives, then fails: at construction and again at a device change.
    TFilesMenu::SetDriveListing([](TDKMenuItem* root, LPCITEMIDLIST drives) {
        root->ExposeFolder(drives, false, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, 0);
        throw std::runtime_error("drive Z: does not answer");
    });
    data_test::LogCapture log;
    TFilesMenu& m = NewMenu();
    m.RefreshDrives();
    TFilesMenu::SetDriveListing(nullptr);
    EXPECT_NE(DriveItem(m.Items(), L'C'), nullptr);
    EXPECT_EQ(Tail(m.Items()), kTail);
    std::string text = log.Text();
    size_t first = text.find("> (f4) drive Z: does not answer");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("> (f4) drive Z: does not answer", first + 1), std::string::npos) << text;
}

// Whatever a refresh throws stays inside the listener's window procedure, and the next device
// event still refreshes.
TEST_F(FilesMenuTest, AnyExceptionOfARefreshIsLoggedAndTheNextEventRefreshes) {
    TFilesMenu& m = NewMenu();
    std::string caught;
    gui::App().OnException = [&](const std::string& cls, const std::string&) { caught += cls + ";"; };
    TFilesMenu::SetDriveListing([](TDKMenuItem*, LPCITEMIDLIST) { throw 42; });
    SendFromOutside(DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(caught, "FShellTrayHnd;");
    TFilesMenu::SetDriveListing(nullptr);
    SendFromOutside(DBT_DEVICEARRIVAL, 0);
    gui::App().OnException = nullptr;
    EXPECT_NE(DriveItem(m.Items(), L'C'), nullptr);
    EXPECT_EQ(Tail(m.Items()), kTail);
}

TEST_F(FilesMenuTest, AFavouriteNamedLikeADriveLeavesTheDriveInPlace) {
    {
        TFilesMenu& m = NewMenu();
        TDKMenuItem* c = DriveItem(m.Items(), L'C');
        ASSERT_NE(c, nullptr);
        Expose(c);
        Click(c, L"Add to Favorites");
    }
    TFilesMenu& m = NewMenu();  // the old menu saved its favourite
    TDKMenuItem* root = m.Items();
    ASSERT_GE(root->Count(), 3);
    TDKMenuItem* fav = root->GetItem(1);
    EXPECT_TRUE(fav->IsFavorite());
    EXPECT_EQ(root->GetItem(2)->Caption(), L"All Files");
    TDKMenuItem* drive = DriveItem(root, L'C');
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->Caption(), fav->Caption());
    EXPECT_NE(drive, fav);
    EXPECT_EQ(Tail(root), kTail);
}

TEST_F(FilesMenuTest, VolumeArrivalAndRemovalRebuildTheDriveList) {
    TFilesMenu& m = NewMenu();
    TDKMenuItem* root = m.Items();
    TempDir target{L"usb"};

    // Other device events leave the list alone.
    int marker = 0;
    for (TDKMenuItem* d : Drives(root)) d->SetData(&marker);
    ASSERT_EQ(FindWindowW(L"FShellTrayHnd", nullptr), DeviceListenerWnd.get());
    SendVolumeEvent(DBT_DEVICEQUERYREMOVE, L'C');
    SendFromOutside(DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(DriveItem(root, L'C')->Data(), &marker);

    TempDrive stick(gui::ExcludeTrailingBackslash(target.Path()));
    ASSERT_NE(stick.letter, 0) << "no drive letter could be defined";
    ASSERT_EQ(DriveItem(root, stick.letter), nullptr);
    SendVolumeEvent(DBT_DEVICEARRIVAL, stick.letter);
    ASSERT_NE(DriveItem(root, stick.letter), nullptr);
    EXPECT_EQ(DriveItem(root, L'C')->Data(), nullptr);  // rebuilt, not appended to
    EXPECT_EQ(Head(root, 2), (std::vector<std::wstring>{L"Favorites", L"All Files"}));
    EXPECT_EQ(Tail(root), kTail);
    TDKMenuItem* usb = DriveItem(root, stick.letter);
    EXPECT_EQ(NoSlash(usb->GetFileName()), Lower(stick.Name()));
    // Opened on demand like every drive (Wine does not list the content of a letter defined
    // at run time, so the content itself is not looked at).
    EXPECT_EQ(Captions(usb), (std::vector<std::wstring>{L"Empty"}));
    EXPECT_TRUE(usb->FOnBeforExpose && usb->FOnAfterExpose);

    stick.Remove();
    SendVolumeEvent(DBT_DEVICEREMOVECOMPLETE, stick.letter);
    EXPECT_EQ(DriveItem(root, stick.letter), nullptr);
    EXPECT_NE(DriveItem(root, L'C'), nullptr);
    EXPECT_EQ(Tail(root), kTail);
}

TEST_F(FilesMenuTest, DeviceMessagesWaitForTheBuildingThreadAndSkipAFreedMenu) {
    HWND wnd = FindWindowW(L"FShellTrayHnd", nullptr);
    ASSERT_NE(wnd, nullptr);
    DEV_BROADCAST_VOLUME v{sizeof(v), DBT_DEVTYP_VOLUME, 0, 1u << 2, 0};
    bool deferred = false;
    // The messages must meet the construction at least once; the scheduler decides when.
    for (int attempt = 0; attempt < 5 && !deferred; ++attempt) {
        std::atomic<TFilesMenu*> built{nullptr};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // as the menu-building thread does
            built = new TFilesMenu(TMenuOwner{L"Files", 1, RGB(200, 160, 60), nullptr});
            done = true;
        });
        while (!done) {
            SendMessageW(wnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&v));
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        worker.join();
        menu.reset(built.load());
        MSG msg;
        deferred = PeekMessageW(&msg, wnd, WM_FILES_DEFERRED_REFRESH, WM_FILES_DEFERRED_REFRESH, PM_NOREMOVE);
        // Whatever arrived meanwhile, the finished menu is whole.
        TDKMenuItem* root = menu->Items();
        EXPECT_EQ(Head(root, 2), (std::vector<std::wstring>{L"Favorites", L"All Files"}));
        EXPECT_EQ(Tail(root), kTail);
        EXPECT_EQ(Drives(root).size(), static_cast<size_t>(__builtin_popcount(GetLogicalDrives())));
        if (deferred) {
            // The missed event is replayed on this thread once the menu is built.
            int marker = 0;
            for (TDKMenuItem* d : Drives(root)) d->SetData(&marker);
            ASSERT_TRUE(WaitUntil([&] { return DriveItem(root, L'C')->Data() == nullptr; }, 5000));
            EXPECT_EQ(Tail(root), kTail);
        }
        menu.reset();
        WaitUntil([] { return false; }, 50);  // nothing left over for a freed menu
    }
    EXPECT_TRUE(deferred) << "no device message reached the menu while it was being built";
    // After the menu is gone, device messages find nothing to refresh.
    SendMessageW(wnd, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&v));
    SendMessageW(wnd, WM_FILES_DEFERRED_REFRESH, 0, 0);
}

TEST_F(FilesMenuTest, FolderAndFileCommandsFollowTheContent) {
    std::wstring here = dir / L"tree";
    CreateDirectoryW(here.c_str(), nullptr);
    CreateDirectoryW((here + L"\\sub").c_str(), nullptr);
    WriteFileBytes(here + L"\\a.txt", "alpha");
    WriteFileBytes(here + L"\\gone.txt", "soon gone");
    TFilesMenu& m = NewMenu();
    TDKMenuItem* folder = Reach(m, here);
    ASSERT_NE(folder, nullptr);
    std::vector<std::wstring> list = Captions(folder);
    ASSERT_GT(list.size(), 7u);
    EXPECT_EQ(Head(folder, 7),
              (std::vector<std::wstring>{L"sub", L"a.txt", L"gone.txt", L"Add to Favorites", L"Open in Total Commander",
                                         L"Create a Folder", L"Rename Folder"}));
    ASSERT_NE(m.FTCIcon.get(), nullptr);
    EXPECT_EQ(folder->GetItem(4)->Icon(), m.FTCIcon.get());
    EXPECT_FALSE(folder->GetItem(4)->HasSplitter());

    // A sub-folder behaves alike.
    TDKMenuItem* sub = folder->GetItem(0);
    Expose(sub);
    EXPECT_EQ(Head(sub, 4), (std::vector<std::wstring>{L"Add to Favorites", L"Open in Total Commander",
                                                       L"Create a Folder", L"Rename Folder"}));

    TDKMenuItem* a = folder->GetItem(1);
    EXPECT_EQ(Captions(a), (std::vector<std::wstring>{L"Empty"}));
    Expose(a);
    EXPECT_EQ(Head(a, 3), (std::vector<std::wstring>{L"Add to Favorites", L"Open in Total Commander", L"Rename File"}));

    // A file that went away after listing has nothing to rename.
    TDKMenuItem* gone = folder->GetItem(2);
    DeleteFileW((here + L"\\gone.txt").c_str());
    Expose(gone);
    EXPECT_EQ(Head(gone, 2), (std::vector<std::wstring>{L"Add to Favorites", L"Open in Total Commander"}));
    EXPECT_EQ(gone->FindItem(std::wstring(L"Rename File")), nullptr);

    // A favourite file: its own commands first, Total Commander under a splitter.
    Click(a, L"Add to Favorites");
    TDKMenuItem* fav = m.Items()->GetItem(1);
    ASSERT_TRUE(fav->IsFavorite());
    EXPECT_EQ(Head(fav, 2), (std::vector<std::wstring>{L"Open in Total Commander", L"Rename File"}));
    EXPECT_TRUE(fav->GetItem(0)->HasSplitter());
    EXPECT_EQ(fav->FindItem(std::wstring(L"Add to Favorites")), nullptr);
}

TEST_F(FilesMenuTest, CreateAFolderMakesOneNewFolder) {
    std::wstring here = dir / L"mk";
    CreateDirectoryW(here.c_str(), nullptr);
    TFilesMenu& m = NewMenu();
    TDKMenuItem* folder = Reach(m, here);
    ASSERT_NE(folder, nullptr);
    Click(folder, L"Create a Folder");
    EXPECT_TRUE(gui::DirectoryExists(here + L"\\New Folder"));
    WriteFileBytes(here + L"\\New Folder\\kept.txt", "kept");
    Click(folder, L"Create a Folder");  // exists already: nothing happens
    EXPECT_EQ(ReadFileBytes(here + L"\\New Folder\\kept.txt"), "kept");
    EXPECT_EQ(Names(here), (std::vector<std::wstring>{L"New Folder"}));
}

TEST_F(FilesMenuTest, RenameGoesThroughTheShellAndNeverOverwrites) {
    std::wstring here = dir / L"ren";
    CreateDirectoryW(here.c_str(), nullptr);
    CreateDirectoryW((here + L"\\box").c_str(), nullptr);
    WriteFileBytes(here + L"\\a.txt", "alpha");
    WriteFileBytes(here + L"\\c.txt", "gamma");
    WriteFileBytes(here + L"\\d.txt", "delta");
    TFilesMenu& m = NewMenu();
    TDKMenuItem* folder = Reach(m, here);
    ASSERT_NE(folder, nullptr);
    // Captions follow the edits, so the items are taken before any rename.
    auto item = [&](const std::wstring& caption) {
        for (int i = 0; i < folder->Count(); ++i)
            if (folder->GetItem(i)->Caption() == caption) return folder->GetItem(i);
        ADD_FAILURE() << "no item " << gui::ToUtf8(caption);
        return static_cast<TDKMenuItem*>(nullptr);
    };
    TDKMenuItem *a = item(L"a.txt"), *c = item(L"c.txt"), *d = item(L"d.txt"), *box = item(L"box");
    ASSERT_TRUE(a && c && d && box);
    auto rename = [&](TDKMenuItem* it, const std::wstring& command, const std::wstring& to) {
        Expose(it);
        Click(it, command);
        EXPECT_TRUE(it->Edited());
        it->SetCaption(to);
        ASSERT_TRUE(it->FOnClick);
        it->FOnClick(it);  // Enter in the edit box
        EXPECT_FALSE(it->Edited());
    };

    rename(a, L"Rename File", L"b.txt");
    EXPECT_FALSE(gui::FileExists(here + L"\\a.txt"));
    EXPECT_EQ(ReadFileBytes(here + L"\\b.txt"), "alpha");
    EXPECT_EQ(NoSlash(m.FileToOperate), NoSlash(here + L"\\a.txt"));

    rename(box, L"Rename Folder", L"crate");
    EXPECT_TRUE(gui::DirectoryExists(here + L"\\crate"));
    EXPECT_FALSE(gui::DirectoryExists(here + L"\\box"));

    // Onto an existing name: the target stays as it was; the source keeps its data under its
    // own or a new name. Refused (as Wine does), the row keeps its name and the user is told why.
    testing_support::CloseNotifications();
    rename(c, L"Rename File", L"d.txt");
    EXPECT_EQ(ReadFileBytes(here + L"\\d.txt"), "delta");
    int gammas = 0;
    std::wstring gammaName;
    for (const std::wstring& name : Names(here))
        if (gui::FileExists(here + L"\\" + name) && ReadFileBytes(here + L"\\" + name) == "gamma") {
            ++gammas;
            gammaName = name;
        }
    EXPECT_EQ(gammas, 1);
    RecordProperty("collision_result", gui::ToUtf8(gammaName));
    if (gammaName == L"c.txt") {
        EXPECT_EQ(c->Caption(), L"c.txt");
        EXPECT_EQ(testing_support::NotificationTexts(),
                  std::vector<std::wstring>{L"Could not rename\r\nc.txt\r\nto d.txt\r\n" +
                                            gui::SysErrorMessage(ERROR_ALREADY_EXISTS)});
    } else {
        EXPECT_TRUE(testing_support::NotificationTexts().empty());
    }
    testing_support::CloseNotifications();

    // A typed name that leaves the folder is not a rename; nor is one the file system refuses.
    // The row shows the file's own name again at once.
    rename(d, L"Rename File", L"..\\out.txt");
    EXPECT_EQ(ReadFileBytes(here + L"\\d.txt"), "delta");
    EXPECT_FALSE(gui::FileExists(dir / L"out.txt"));
    EXPECT_EQ(d->Caption(), L"d.txt");
    rename(d, L"Rename File", L"bad<na>me:?*|\".txt");
    EXPECT_EQ(ReadFileBytes(here + L"\\d.txt"), "delta");
    EXPECT_EQ(d->Caption(), L"d.txt");
    const std::wstring invalid = gui::SysErrorMessage(ERROR_INVALID_NAME);
    EXPECT_EQ(testing_support::NotificationTexts(),
              (std::vector<std::wstring>{L"Could not rename\r\nd.txt\r\nto ..\\out.txt\r\n" + invalid,
                                         L"Could not rename\r\nd.txt\r\nto bad<na>me:?*|\".txt\r\n" + invalid}));
    testing_support::CloseNotifications();
}

TEST_F(FilesMenuTest, ARenameThatEndsWithTheMenuHidingLeavesTheFile) {
    std::wstring here = dir / L"keep";
    CreateDirectoryW(here.c_str(), nullptr);
    WriteFileBytes(here + L"\\a.txt", "alpha");
    TFilesMenu& m = NewMenu();
    TDKMenuItem* folder = Reach(m, here);
    ASSERT_NE(folder, nullptr);
    TDKMenuItem* a = folder->FindItem(std::wstring(L"a.txt"));
    ASSERT_NE(a, nullptr);
    Expose(a);
    Click(a, L"Rename File");
    a->SetCaption(L"b.txt");
    m.Hide();
    EXPECT_EQ(a->Caption(), L"a.txt");
    EXPECT_FALSE(a->Edited());
    EXPECT_EQ(Names(here), (std::vector<std::wstring>{L"a.txt"}));
    // Enter after a new start renames.
    Click(a, L"Rename File");
    a->SetCaption(L"b.txt");
    a->FOnClick(a);
    EXPECT_EQ(Names(here), (std::vector<std::wstring>{L"b.txt"}));
}

TEST_F(FilesMenuTest, TotalCommanderFoundRunningThenRegisteredThenNot) {
    std::wstring here = dir / L"tc";
    CreateDirectoryW(here.c_str(), nullptr);
    EXPECT_EQ(NewMenu().TCPath, L"");
    // Offered without a Total Commander: it starts nothing and says it was not found.
    TDKMenuItem* folder = Reach(*menu, here);
    ASSERT_NE(folder, nullptr);
    testing_support::CloseNotifications();
    Click(folder, L"Open in Total Commander");
    EXPECT_TRUE(tcStarts.empty());
    EXPECT_EQ(testing_support::NotificationTexts(),
              std::vector<std::wstring>{L"Could not start\r\nTotal Commander\r\n"
                                        L"c:\\Program Files\\Total Commander\\TotalCmd.exe\r\n" +
                                        gui::SysErrorMessage(ERROR_FILE_NOT_FOUND)});
    testing_support::CloseNotifications();

    {
        gui::Registry w(HKEY_CURRENT_USER);
        ASSERT_TRUE(w.OpenKey(kTCKey, true));
        ASSERT_TRUE(w.WriteString(L"InstallDir", L"D:\\Tools\\TC"));
    }
    TFilesMenu& m = NewMenu();
    EXPECT_EQ(m.TCPath, L"D:\\Tools\\TC\\TotalCmd.exe");
    folder = Reach(m, here);
    ASSERT_NE(folder, nullptr);
    Click(folder, L"Open in Total Commander");
    ASSERT_EQ(tcStarts.size(), 1u);
    EXPECT_EQ(tcStarts[0].first, L"D:\\Tools\\TC\\TotalCmd.exe");
    EXPECT_EQ(tcStarts[0].second, L"/O /S /T \"" + folder->GetFileName() + L"\"");

    // A running one wins over the registry.
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TTOTAL_CMD";
    RegisterClassW(&wc);
    HWND tc = CreateWindowExW(0, L"TTOTAL_CMD", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(tc, nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(NewMenu().TCPath, Lower(self));
    DestroyWindow(tc);
}

TEST_F(FilesMenuTest, TypedPathGoesToTheFileBrowser) {
    TFilesMenu& m = NewMenu();
    TDKMenuItem* box = m.FindItem(TDKPopupMenu::FilterEditID);
    ASSERT_NE(box, nullptr);
    box->SetCaption(L"C:\\Windows");
    box->FOnClick(box);
    ASSERT_EQ(execs.size(), 1u);
    EXPECT_EQ(execs[0].first, "explorer.exe \"C:\\Windows\"");
    EXPECT_EQ(execs[0].second, static_cast<UINT>(SW_SHOWNORMAL));
    // A stray quotation mark cannot end the argument early.
    box->SetCaption(L"C:\\Win\" /root,C:\\");
    box->FOnClick(box);
    ASSERT_EQ(execs.size(), 2u);
    EXPECT_EQ(execs[1].first, "explorer.exe \"C:\\Win /root,C:\\\"");
}

TEST_F(FilesMenuTest, ListenerLogsEveryMessageInHex) {
    std::wstring log = LogFileName();
    WriteFileBytes(log, "");
    Config.LogPriority = 1;
    HWND wnd = DeviceListenerWnd.get();
    SendMessageW(wnd, WM_USER + 5, 0x1234, 0xABCDEF);
    Config.LogPriority = 4;
    std::string text = ReadFileBytes(log);
    DeleteFileW(log.c_str());
    char expected[128];
    snprintf(expected, sizeof expected, "(f1) ( Hwn: 0x%4X, Msg: 0x 405, Wpr: 0x1234, Lpr: 0xABCDEF )",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(wnd)));
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}
