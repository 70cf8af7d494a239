// The menu item's shell side: filling items from shell folders, opening shell files, the
// item's shell context menu, and the watcher that closes a shown folder's window on a change.
//
// Threads: menus are built on worker threads (their own COM apartment), the windows live on the
// GUI thread. Only item id lists travel between them. A bound folder or context menu remembers
// the thread that made it and is used on that thread only; another thread binds its own from the
// id lists. A folder bound off the GUI thread is released before ExposeFolder returns.
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

#include "Application.h"
#include "DKComponents.h"
#include "DKDataModule.h"
#include "DKUtils.h"
#include "FileUtils.h"
#include "SysUtils.h"
#include "Thread.h"

namespace {

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

// A COM reference released when it goes.
template <class T>
struct ComRef {
    T* p = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
    T* release() {
        T* r = p;
        p = nullptr;
        return r;
    }
};

// The desktop folder for the calling thread's apartment.
bool Desktop(ComRef<IShellFolder>& out) { return SUCCEEDED(SHGetDesktopFolder(out.out())) && out; }

bool IsEmptyPIDL(LPCITEMIDLIST list) { return list && list->mkid.cb == 0; }

std::wstring ParsingName(LPCITEMIDLIST full) {
    if (!full) return L"";
    ComRef<IShellFolder> desktop;
    if (!Desktop(desktop)) return L"";
    return GetDisplayName(desktop.p, full, true);
}

HWND AppWindow() { return gui::App().Handle(); }

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

std::wstring Extension(const std::wstring& caption) {
    size_t dot = caption.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : caption.substr(dot);
}

int CompareStr(const std::wstring& a, const std::wstring& b) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

constexpr SHCONTF kAllEntries = 224;  // folders, non-folders, hidden

}  // namespace

// ---- folder watcher ----

// What the item and its watcher share. Item is read and cleared on the GUI thread only; Stop is
// set when the item lets go, which wakes the watcher at once.
struct TMonDirLink {
    TDKMenuItem* Item = nullptr;
    HANDLE Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TMonDirLink() = default;
    TMonDirLink(const TMonDirLink&) = delete;
    TMonDirLink& operator=(const TMonDirLink&) = delete;
    ~TMonDirLink() {
        if (Stop) CloseHandle(Stop);
    }
    bool Stopped() const { return !Stop || WaitForSingleObject(Stop, 0) == WAIT_OBJECT_0; }
};

class TMonDirThread : public gui::Thread {
public:
    // The path is read on the GUI thread; the watcher never reads the item itself.
    TMonDirThread(std::shared_ptr<TMonDirLink> Link, std::wstring Path)
        : FLink(std::move(Link)), FPath(std::move(Path)) {
        FreeOnTerminate = true;
        Start();
    }

protected:
    void Execute() override {
        HANDLE h = FindFirstChangeNotificationW(FPath.c_str(), FALSE,
                                                FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME);
        struct Closer {
            HANDLE h;
            ~Closer() {
                if (h != INVALID_HANDLE_VALUE && h) FindCloseChangeNotification(h);
            }
        } closer{h};
        while (!Terminated() && !FLink->Stopped()) {
            if (h == INVALID_HANDLE_VALUE || !h) {
                // No file-system folder behind the item: only wait for the end.
                WaitForSingleObject(FLink->Stop, 1000);
                continue;
            }
            HANDLE waits[2] = {FLink->Stop, h};
            DWORD r = WaitForMultipleObjects(2, waits, FALSE, 1000);
            if (r == WAIT_OBJECT_0) break;
            if (r == WAIT_OBJECT_0 + 1) {
                Synchronize([this] { FolderChanged(); });
                break;
            }
            if (r == WAIT_FAILED) {
                WaitForSingleObject(FLink->Stop, 1000);
                FindNextChangeNotification(h);
            }
        }
    }

private:
    // GUI thread.
    void FolderChanged() {
        TDKMenuItem* item = FLink->Item;
        if (item && !FLink->Stopped()) item->CloseWindow();
    }

    std::shared_ptr<TMonDirLink> FLink;
    std::wstring FPath;
};

void TDKMenuItem::StartFolderWatch() {
    StopFolderWatch();
    auto link = std::make_shared<TMonDirLink>();
    link->Item = this;
    FMonDirLink = link;
    FMonDirThread = new TMonDirThread(link, GetFileName());  // frees itself when it ends
}

void TDKMenuItem::StopFolderWatch() {
    if (!FMonDirLink) return;
    FMonDirLink->Item = nullptr;
    if (FMonDirLink->Stop) SetEvent(FMonDirLink->Stop);
    FMonDirLink.reset();
    FMonDirThread = nullptr;  // the watcher ends on its own and frees itself
}

// ---- id lists and names ----

void TDKMenuItem::GetFullPIDL(PIDLPtr& ParentPIDL, PIDLPtr& FullPIDL) const {
    std::vector<LPCITEMIDLIST> collected;
    const TDKMenuItem* x = this;
    while (x->FExecPath.empty() && x->FOwner) {
        x = x->FOwner;
        collected.push_back(x->FPIDL);
    }
    ParentPIDL.reset();
    if (collected.empty()) {
        FullPIDL.reset(FPIDL ? CopyPIDL(FPIDL) : nullptr);
        return;
    }
    for (auto it = collected.rbegin(); it != collected.rend(); ++it)
        if (*it) ParentPIDL.reset(ConcatPIDLs(ParentPIDL.get(), *it));
    if (!FPIDL)
        FullPIDL.reset(ParentPIDL ? CopyPIDL(ParentPIDL.get()) : nullptr);
    else
        FullPIDL.reset(ConcatPIDLs(ParentPIDL.get(), FPIDL));
}

std::wstring TDKMenuItem::GetFileName() const {
    PIDLPtr parent, full;
    GetFullPIDL(parent, full);
    if (!full) return FExecPath;
    return ParsingName(full.get());
}

// ---- filling from a folder ----

void TDKMenuItem::ExposeFolder(const std::wstring& Path, bool ExposeChildren, SHCONTF EnumFlag, int SortingType) {
    ComRef<IShellFolder> desktop;
    if (!Desktop(desktop)) return;
    LPITEMIDLIST raw = nullptr;
    std::wstring name = Path;
    if (FAILED(desktop->ParseDisplayName(AppWindow(), nullptr, name.data(), nullptr, &raw, nullptr)) || !raw) return;
    PIDLPtr list(raw);
    ExposeFolder(list.get(), ExposeChildren, EnumFlag, SortingType);
}

void TDKMenuItem::ExposeFolder(LPCITEMIDLIST PIDL, bool ExposeChildren, SHCONTF EnumFlag, int SortingType) {
    const int id = MenuIdForLog();
    bool merge = false;
    try {
        FIsFolder = true;
        if (!FIcon) {
            FIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(GetShellIconIndex(PIDL, false, false)));
            FIconInGlobList = true;
        }
        // Children with lists of their own: the item was filled before, from another folder.
        if (FItems)
            merge = std::any_of(FItems->begin(), FItems->end(), [](TDKMenuItem* c) { return c->FPIDL != nullptr; });
        if (!FPIDL && PIDL) {
            if (FExecPath.empty()) FExecPath = L"-";
            FPIDL = CopyPIDL(PIDL);
        }
    } catch (const std::exception& e) {
        Log(4, L"(c16) " + What(e) + L" / " + std::to_wstring(id) + L" /");
    }
    if (!PIDL) return;

    ComRef<IShellFolder> desktop;
    if (!Desktop(desktop)) return;
    ComRef<IShellFolder> folder;
    if (IsEmptyPIDL(PIDL)) {
        folder.p = desktop.p;
        folder.p->AddRef();
    } else if (FAILED(desktop->BindToObject(PIDL, nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.out()))) ||
               !folder) {
        return;
    }
    // The kept folder is the item's own: its relative children resolve their context menus in
    // it. A second folder merged in is only read.
    if (!merge) {
        if (FCurrIShellFolder) FCurrIShellFolder->Release();
        FCurrIShellFolder = folder.p;
        FCurrIShellFolder->AddRef();
        FShellFolderThread = GetCurrentThreadId();
    }
    // Off the GUI thread only the id lists are kept; the GUI thread binds its own folder.
    struct ReleaseOffGui {
        TDKMenuItem* self;
        ~ReleaseOffGui() {
            if (!gui::App().OnMainThread() && self->FCurrIShellFolder) {
                self->FCurrIShellFolder->Release();
                self->FCurrIShellFolder = nullptr;
                self->FShellFolderThread = 0;
            }
        }
    } releaseOffGui{this};

    IShellFolder* sf = folder.p;
    ComRef<IEnumIDList> en;
    if (sf->EnumObjects(AppWindow(), EnumFlag, en.out()) != S_OK || !en) return;
    for (;;) {
        LPITEMIDLIST raw = nullptr;
        if (en->Next(1, &raw, nullptr) != S_OK || !raw) break;
        PIDLPtr entry(raw);
        std::wstring caption;
        if (FShowFileExt && IsFileItem(sf, entry.get())) {
            caption = GetDisplayName(sf, entry.get(), true);
            size_t slash = caption.rfind(L'\\');
            if (slash != std::wstring::npos) caption = caption.substr(slash + 1);
        } else {
            caption = GetDisplayName(sf, entry.get(), false);
        }
        const bool isFolder = IsBrowsableFolder(sf, entry.get());
        TDKMenuItem* child = nullptr;
        if (FItems)
            for (TDKMenuItem* c : *FItems)
                if (c->FCaption == caption && c->FIsFolder == isFolder) {
                    child = c;
                    break;
                }
        if (child && !isFolder) continue;  // a file of the same name shows once
        PIDLPtr full(ConcatPIDLs(PIDL, entry.get()));
        if (!full) continue;
        if (!child) {
            auto fresh = std::make_unique<TDKMenuItem>();
            fresh->FCaption = caption;
            if (merge) {
                // Its folder is not this item's own folder: the child holds an absolute list.
                fresh->FPIDL = CopyPIDL(full.get());
                fresh->FExecPath = L"-";
            } else {
                fresh->FPIDL = entry.release();
            }
            fresh->FIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(GetShellIconIndex(full.get(), false, false)));
            fresh->FIconInGlobList = true;
            fresh->FFiltered = FFiltered;
            fresh->FIsFavorite = FIsFavorite;
            child = fresh.get();
            Add(fresh.release());
        }
        if (!isFolder) {
            child->FOnClick = [child](TDKMenuItem* Sender) { child->DoExecItemIDList(Sender); };
        } else if (ExposeChildren) {
            child->ExposeFolder(full.get(), true, kAllEntries, 1);
        } else {
            child->FIsFolder = true;
            child->FOnBeforExpose = [child](TDKMenuItem* Sender) { child->DoExposeItemIDList(Sender); };
            child->FOnAfterExpose = FOnAfterExpose;
            // A folder met again in a second folder keeps its one placeholder.
            if (child->Count() == 0) child->AddMenuItem(0, L"Empty");
        }
    }

    if (SortingType == 1 && Count() > 0) {
        try {
            ReleaseWindowResources();
            std::stable_sort(FItems->begin(), FItems->end(),
                             [](TDKMenuItem* a, TDKMenuItem* b) { return CompareFolderItems(a, b) < 0; });
            FillListView();
        } catch (const std::exception& e) {
            Log(4, L"(c17) " + What(e) + L" / " + std::to_wstring(id) + L" /");
        }
    }
}

int TDKMenuItem::CompareFolderItems(const TDKMenuItem* Left, const TDKMenuItem* Right) {
    if (Left->FIsFolder && !Right->FIsFolder) return -1;
    if (Right->FIsFolder && !Left->FIsFolder) return 1;
    if (!Left->FIsFolder) {
        int c = CompareStr(Lower(Extension(Left->FCaption)), Lower(Extension(Right->FCaption)));
        if (c != 0) return c;
    }
    return CompareStr(Lower(Left->FCaption), Lower(Right->FCaption));
}

void TDKMenuItem::DoExposeItemIDList(TDKMenuItem* /*Sender*/) {
    try {
        PIDLPtr parent, full;
        GetFullPIDL(parent, full);
        Clear();
        if (full) ExposeFolder(full.get(), false, kAllEntries, 1);
        if (FOnAfterExpose) FOnAfterExpose(this);
    } catch (const std::exception& e) {
        Log(4, L"(c15) " + What(e) + L" / " + std::to_wstring(MenuIdForLog()) + L" /");
    }
}

// ---- opening a shell file ----

void TDKMenuItem::DoExecItemIDList(TDKMenuItem* /*Sender*/) {
    if (FPopupMenu) FPopupMenu->Hide();
    PIDLPtr parent, full;
    GetFullPIDL(parent, full);
    std::wstring dir = parent ? ParsingName(parent.get()) : std::wstring();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.hwnd = AppWindow();
    info.lpDirectory = parent ? dir.c_str() : nullptr;
    info.nShow = SW_SHOW;
    info.lpIDList = full.get();
    ShellExecuteExW(&info);
    if (DKData) DKData->SaveExecTime(FPopupMenu ? FPopupMenu->FMenuID : 0, FCaption, ParsingName(full.get()), -1);
}

// ---- context menu ----

IContextMenu* TDKMenuItem::GetContextMenu() {
    if (!FPIDL) return nullptr;
    const DWORD thread = GetCurrentThreadId();
    if (FContextMenu && FContextMenuThread == thread) return FContextMenu;

    ComRef<IShellFolder> folder;
    LPCITEMIDLIST child = nullptr;
    PIDLPtr parent, full;
    if (FOwner && FOwner->FCurrIShellFolder && FOwner->FShellFolderThread == thread && FExecPath.empty()) {
        folder.p = FOwner->FCurrIShellFolder;
        folder.p->AddRef();
        child = FPIDL;
    } else {
        // Bound here from the full list, so a relative item works without its owner's folder.
        GetFullPIDL(parent, full);
        if (!full || IsEmptyPIDL(full.get())) return nullptr;
        PIDLPtr folderList(CopyPIDL(full.get()));
        if (!folderList) return nullptr;
        StripLastID(folderList.get());
        ComRef<IShellFolder> desktop;
        if (!Desktop(desktop)) return nullptr;
        if (IsEmptyPIDL(folderList.get())) {
            folder.p = desktop.release();
        } else if (FAILED(desktop->BindToObject(folderList.get(), nullptr, IID_IShellFolder,
                                                reinterpret_cast<void**>(folder.out()))) ||
                   !folder) {
            return nullptr;
        }
        child = GetLastPIDLItem(full.get());
    }
    ComRef<IContextMenu> menu;
    if (FAILED(folder->GetUIObjectOf(AppWindow(), 1, &child, IID_IContextMenu, nullptr,
                                     reinterpret_cast<void**>(menu.out()))) ||
        !menu)
        return nullptr;
    IContextMenu* better = nullptr;
    if (FAILED(menu->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&better))) || !better) {
        better = nullptr;
        if (FAILED(menu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&better)))) better = nullptr;
    }
    if (FContextMenu) FContextMenu->Release();
    // Without the second or third version the plain menu still queries and invokes.
    FContextMenu = better ? better : menu.release();
    FContextMenuThread = thread;
    return FContextMenu;
}
