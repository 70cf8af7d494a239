#include "FilesMenu.h"

#include <dbt.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "settings/DKLog.h"
#include "Application.h"
#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "Registry.h"
#include "SysUtils.h"
#include "bar/TransparentMessage.h"

gui::WindowHandle DeviceListenerWnd;

namespace {

// The menu the device listener refreshes. It is set when construction starts, but the
// listener may touch the menu only once construction has ended (FilesMenuReady): until then
// the tree belongs to the building thread, so a device message is remembered and replayed.
std::recursive_mutex FilesMenuLock;
TFilesMenu* FilesMenuInstance = nullptr;
bool FilesMenuReady = false;
bool FilesMenuRefreshPending = false;
bool FilesMenuRefreshing = false;

TFilesWinExecFunc& WinExecStart() {
    static TFilesWinExecFunc f;
    return f;
}

TFilesShellExecFunc& TotalCommanderStart() {
    static TFilesShellExecFunc f;
    return f;
}

TFilesListDrivesFunc& DriveListing() {
    static TFilesListDrivesFunc f;
    return f;
}

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

// Folder + "\" + name, without doubling the backslash of a drive's root.
std::wstring JoinPath(const std::wstring& Folder, const std::wstring& Name) {
    return gui::IncludeTrailingBackslash(Folder) + Name;
}

// A name the shell can give a file inside its own folder: no separators, no wildcards, not
// "." or "..", not blank. Anything else would move the file elsewhere or fail.
bool IsPlainFileName(const std::wstring& Name) {
    std::wstring t = gui::Trim(Name);
    if (t.empty() || t == L"." || t == L"..") return false;
    return Name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

std::wstring ReadInstallDir(HKEY Root) {
    gui::Registry reg(Root, KEY_READ);
    if (!reg.OpenKeyReadOnly(L"Software\\Ghisler\\Total Commander")) return {};
    try {
        return reg.ReadString(L"InstallDir");
    } catch (const std::exception&) {
        return {};  // a missing or odd value counts as empty
    }
}

// Where Total Commander is looked for last: its usual folder.
const std::wstring kTotalCommanderFolderExe = L"c:\\Program Files\\Total Commander\\TotalCmd.exe";

// The running Total Commander, else its registered installation, else the usual folder.
std::wstring FindTotalCommander() {
    if (HWND tc = FindWindowW(L"TTOTAL_CMD", nullptr)) {
        std::wstring exe = GetWindowExeName(tc);
        if (!exe.empty()) return exe;
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring dir = ReadInstallDir(root);
        if (!dir.empty()) return dir + L"\\TotalCmd.exe";
    }
    return gui::FileExists(kTotalCommanderFolderExe) ? kTotalCommanderFolderExe : std::wstring();
}

// The item id list of a special folder, or an exception naming it.
PIDLPtr SpecialFolder(int Csidl) {
    LPITEMIDLIST p = nullptr;
    HRESULT hr = SHGetSpecialFolderLocation(gui::App().Handle(), Csidl, &p);
    if (FAILED(hr) || !p) throw std::runtime_error("special folder " + std::to_string(Csidl) + " is not available");
    return PIDLPtr(p);
}

// Refreshes the published menu on the GUI thread; defers while it is still being built and
// while a refresh is already running further up this thread's stack.
void RefreshInstance() {
    std::lock_guard<std::recursive_mutex> g(FilesMenuLock);
    if (!FilesMenuInstance) return;
    if (!FilesMenuReady || FilesMenuRefreshing) {
        FilesMenuRefreshPending = true;
        return;
    }
    // A refresh that fails must not leave every later device event waiting for it.
    struct Refreshing {
        Refreshing() { FilesMenuRefreshing = true; }
        ~Refreshing() { FilesMenuRefreshing = false; }
    } refreshing;
    do {
        FilesMenuRefreshPending = false;
        FilesMenuInstance->RefreshDrives();
    } while (FilesMenuRefreshPending && FilesMenuInstance);
}

std::wstring Hex4(UINT_PTR v) {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"%4X", static_cast<unsigned>(v));
    return buf;
}

}  // namespace

// ---- module start and end ----

void InitializeFilesMenu() {
    DeviceListenerWnd.reset(CreateUtilityWindow(L"FShellTrayHnd", gui::GuardedProc<FilesWndProc>));
}

void FinalizeFilesMenu() {
    DeviceListenerWnd.reset();
}

LRESULT CALLBACK FilesWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    Log(1, L"(f1) ( Hwn: 0x" + Hex4(reinterpret_cast<UINT_PTR>(Wnd)) + L", Msg: 0x" + Hex4(Msg) + L", Wpr: 0x" +
               Hex4(WParam) + L", Lpr: 0x" + Hex4(static_cast<UINT_PTR>(LParam)) + L" )");
    LRESULT result = DefWindowProcW(Wnd, Msg, WParam, LParam);
    bool device = Msg == WM_DEVICECHANGE && (WParam == DBT_DEVICEARRIVAL || WParam == DBT_DEVICEREMOVECOMPLETE);
    if (device || Msg == WM_FILES_DEFERRED_REFRESH) {
        try {
            RefreshInstance();
        } catch (const std::exception& e) {
            Log(4, L"(f4) " + What(e));
        }
    }
    return result;
}

// ---- life ----

void TFilesMenu::SetWinExec(TFilesWinExecFunc f) { WinExecStart() = std::move(f); }
void TFilesMenu::SetTotalCommanderStart(TFilesShellExecFunc f) { TotalCommanderStart() = std::move(f); }
void TFilesMenu::SetDriveListing(TFilesListDrivesFunc f) { DriveListing() = std::move(f); }

TFilesMenu::TFilesMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    {
        std::lock_guard<std::recursive_mutex> g(FilesMenuLock);
        FilesMenuInstance = this;
        FilesMenuReady = false;
        FilesMenuRefreshPending = false;
    }
    try {
        FTCIcon = LoadSmallIconFile(gui::ExeDir() + L"images\\tc.ico");
        TCPath = FindTotalCommander();
        FItems->SetShowFileExt(true);
        LoadFavorites();
        FItems->AddMenuItem(MainTitleID, L"All Files", nullptr, true);
        // A drive listing that fails is logged and the menu is built around what it gave.
        FillDrives();
    } catch (...) {
        // No half-built menu stays reachable from the listener.
        {
            std::lock_guard<std::recursive_mutex> g(FilesMenuLock);
            if (FilesMenuInstance == this) FilesMenuInstance = nullptr;
        }
        throw;
    }
    std::lock_guard<std::recursive_mutex> g(FilesMenuLock);
    if (FilesMenuInstance == this) {
        FilesMenuReady = true;
        // A device came or went while the drives were being listed: list them again, on the
        // listener's thread, which owns the menu from now on.
        if (FilesMenuRefreshPending && DeviceListenerWnd.get())
            PostMessageW(DeviceListenerWnd.get(), WM_FILES_DEFERRED_REFRESH, 0, 0);
    }
}

TFilesMenu::~TFilesMenu() {
    {
        std::lock_guard<std::recursive_mutex> g(FilesMenuLock);
        if (FilesMenuInstance == this) {
            FilesMenuInstance = nullptr;
            FilesMenuReady = false;
            FilesMenuRefreshPending = false;
        }
    }
}

// ---- drives ----

void TFilesMenu::RefreshDrives() {
    try {
        FillDrives();
    } catch (const std::exception& e) {
        Log(4, L"(f4) " + What(e));
    }
}

void TFilesMenu::FillDrives() {
    TDKMenuItem* title = FItems->FindItem(MainTitleID);
    if (!title) throw std::runtime_error("the \"All Files\" title is missing");
    const int first = title->Index() + 1;
    for (int i = FItems->Count() - 1; i >= first; --i) FItems->Delete(FItems->GetItem(i));

    // The items above stand aside while the drives are listed: a favourite that bears a
    // drive's name would otherwise be taken for that drive and filled in its place.
    std::vector<TDKMenuItem*>& children = *FItems->FItems;
    FItems->ReleaseWindowResources();
    std::vector<TDKMenuItem*> head(children.begin(), children.begin() + first);
    children.erase(children.begin(), children.begin() + first);
    struct PutBack {
        TDKMenuItem* root;
        std::vector<TDKMenuItem*>& children;
        std::vector<TDKMenuItem*>& head;
        ~PutBack() {
            root->ReleaseWindowResources();
            children.insert(children.begin(), head.begin(), head.end());
            try {
                root->FillListView();
            } catch (const std::exception& e) {
                Log(4, L"(f4) " + What(e));
            }
        }
    };
    // A listing that fails keeps the drives it gave; the walk, the filter and the statistics
    // still follow, so the menu is whole and the next device change lists the drives again.
    try {
        PutBack putBack{FItems, children, head};
        PIDLPtr drives = SpecialFolder(CSIDL_DRIVES);
        if (DriveListing())
            DriveListing()(FItems, drives.get());
        else
            FItems->ExposeFolder(drives.get(), false, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, 0);
    } catch (const std::exception& e) {
        Log(4, L"(f4) " + What(e));
    }

    for (int i = first; i < FItems->Count();) {
        TDKMenuItem* c = FItems->GetItem(i);
        if (c->Caption().find(L':') != std::wstring::npos) {
            c->FOnAfterExpose = [this](TDKMenuItem* s) { AfterExposeFolder(s); };
            ++i;
        } else {
            FItems->Delete(c);
        }
    }
    AddFilter(L"Type Folder or File Name...");
    AddStatistics();
}

// ---- commands of files and folders ----

void TFilesMenu::ExposeItemMenu(TDKMenuItem* Item) {
    if (!Item) return;
    // A folder's commands follow its content.
    int P = Item->Folder() ? Item->Count() : 0;
    TDKPopupMenu::ExposeItemMenu(Item);
    try {
        if (!Item->IsFavorite()) ++P;
        P = std::min(P, Item->Count());
        TDKMenuItem* tc = Item->InsertMenuItem(
            P, 0, L"Open in Total Commander", [this](TDKMenuItem* s) { OpenInTotalCommanderClick(s); }, false,
            Item->IsFavorite());
        tc->SetIcon(FTCIcon.get());
        std::wstring path = Item->GetFileName();
        if (Item->Folder()) {
            if (gui::DirectoryExists(path)) {
                Item->InsertMenuItem(P + 1, 0, L"Create a Folder", [this](TDKMenuItem* s) { CreateNewFolderClick(s); });
                Item->InsertMenuItem(P + 2, 0, L"Rename Folder", [this](TDKMenuItem* s) { BeginRename(s); });
            }
        } else if (gui::FileExists(path)) {
            Item->InsertMenuItem(P + 1, 0, L"Rename File", [this](TDKMenuItem* s) { BeginRename(s); });
        }
    } catch (const std::exception& e) {
        Log(4, L"(f4) " + What(e));
    }
}

void TFilesMenu::OpenInTotalCommanderClick(TDKMenuItem* Sender) {
    TDKMenuItem* target = Sender ? Sender->Owner() : nullptr;
    if (!target) return;
    // Without Total Commander there is nothing to start (an empty file name would let the
    // shell open whatever it takes for the current folder): the user learns it was not found.
    if (TCPath.empty()) {
        ReportFailedStart(L"Total Commander", kTotalCommanderFolderExe, ERROR_FILE_NOT_FOUND);
        return;
    }
    std::wstring params = L"/O /S /T \"" + target->GetFileName() + L"\"";
    if (TotalCommanderStart())
        TotalCommanderStart()(TCPath, params);
    else
        ShellExecuteOrReport(L"Total Commander", gui::App().Handle(), nullptr, TCPath, params, L"", SW_SHOWNORMAL);
}

void TFilesMenu::CreateNewFolderClick(TDKMenuItem* Sender) {
    TDKMenuItem* folder = Sender ? Sender->Owner() : nullptr;
    if (!folder) return;
    // The name is fixed: when it exists already nothing happens.
    CreateDirectoryW(JoinPath(folder->GetFileName(), L"New Folder").c_str(), nullptr);
}

// ---- renaming ----

void TFilesMenu::BeginRename(TDKMenuItem* Sender) {
    TDKPopupMenu::BeginRename(Sender);
    TDKMenuItem* target = Sender ? Sender->Owner() : nullptr;
    FRenameItem = target;
    FileToOperate = target ? target->GetFileName() : std::wstring();
}

void TFilesMenu::EndRename(TDKMenuItem* Item) {
    if (!Item) return;
    TDKPopupMenu::EndRename(Item);
    // Two renames may be open at once; each ends on its own file.
    std::wstring from = Item == FRenameItem ? FileToOperate : Item->GetFileName();
    if (Item == FRenameItem) FRenameItem = nullptr;
    TDKMenuItem* owner = Item->Owner();
    if (!owner) return;
    // Only an entry of a real folder has a file behind it: a group or a favourite keeps its
    // new caption and nothing on disk changes.
    std::wstring folder = owner->GetFileName();
    if (!gui::DirectoryExists(folder)) return;
    if (from.empty() || GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    std::wstring to = JoinPath(folder, Item->Caption());
    if (to == from) return;
    // A refused name leaves the file as it was, and so the row; the user is told why.
    DWORD error = IsPlainFileName(Item->Caption()) ? 0 : ERROR_INVALID_NAME;
    if (!error) ShellRename(gui::App().Handle(), from, to, true, &error);
    if (!error) return;
    const std::wstring old = gui::ExtractFileName(gui::ExcludeTrailingBackslash(from));
    if (error != ERROR_CANCELLED)
        ReportFailure(L"Could not rename", old, L"to " + Item->Caption(), gui::SysErrorMessage(error));
    Item->SetCaption(old);
}

// ---- path box ----

// Opens the typed path in the system file browser; the menu stays open.
void TFilesMenu::ExecuteFilterText(TDKMenuItem* Item) {
    if (!Item) return;
    // A path holds no quotation marks; one typed would end the argument early.
    std::wstring path = Item->Caption();
    std::erase(path, L'"');
    std::string cmd = gui::ToAnsi(L"explorer.exe \"" + path + L"\"");
    if (WinExecStart())
        WinExecStart()(cmd, SW_SHOWNORMAL);
    else
        WinExecOrReport(path, cmd, SW_SHOWNORMAL);
}
