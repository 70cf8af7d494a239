// The menu item's shell side: filling items from shell folders, opening shell files, the
// item's shell context menu, and the watcher that closes a shown folder's window on a change.
//
// Threads: menus are built on worker threads (their own COM apartment), the windows live on the
// GUI thread. Only item id lists travel between them. A bound folder or context menu remembers
// the thread that made it and is used on that thread only; another thread binds its own from the
// id lists. A folder bound off the GUI thread is released before ExposeFolder returns.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "settings/DKLog.h"
#include "Application.h"
#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "menu/ShellIcon.h"
#include "SysUtils.h"
#include "Thread.h"

namespace {

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

template <class T>
using ComRef = gui::ComPtr<T>;

// The desktop folder for the calling thread's apartment.
bool Desktop(ComRef<IShellFolder>& out) { return SUCCEEDED(SHGetDesktopFolder(out.put())) && out; }

bool IsEmptyPIDL(LPCITEMIDLIST list) { return list && list->mkid.cb == 0; }

std::wstring ParsingName(LPCITEMIDLIST full) {
    if (!full) return L"";
    ComRef<IShellFolder> desktop;
    if (!Desktop(desktop)) return L"";
    return GetDisplayName(desktop.get(), full, true);
}

HWND AppWindow() { return gui::App().Handle(); }

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

int CompareStr(std::wstring_view a, std::wstring_view b) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// What the folder order looks at, made once per item: a sort of thousands of entries would
// otherwise lower-case both captions at every comparison.
struct TSortKey {
    bool Folder;
    std::wstring Text;  // the lower-cased caption
    size_t Dot;         // where its extension starts (its length when it has none)

    explicit TSortKey(const TDKMenuItem* item) : Folder(item->Folder()), Text(Lower(item->Caption())) {
        Dot = Text.rfind(L'.');
        if (Dot == std::wstring::npos) Dot = Text.size();
    }
    std::wstring_view Extension() const { return std::wstring_view(Text).substr(Dot); }
};

// Folders first; files by extension; then by caption.
int CompareKeys(const TSortKey& a, const TSortKey& b) {
    if (a.Folder != b.Folder) return a.Folder ? -1 : 1;
    if (!a.Folder) {
        int c = CompareStr(a.Extension(), b.Extension());
        if (c != 0) return c;
    }
    return CompareStr(a.Text, b.Text);
}

constexpr SHCONTF kAllEntries = 224;  // folders, non-folders, hidden

}  // namespace

// ---- folder watcher ----

// What the item and its watcher share. Item is read and cleared on the GUI thread only; Stop is
// set when the item lets go, which wakes the watcher at once.
struct TMonDirLink {
    TDKMenuItem* Item = nullptr;
    gui::KernelHandle Stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool Stopped() const { return !Stop || WaitForSingleObject(Stop.get(), 0) == WAIT_OBJECT_0; }
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
        gui::ChangeNotificationHandle notification(FindFirstChangeNotificationW(
            FPath.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME));
        HANDLE h = notification.get();
        while (!Terminated() && !FLink->Stopped()) {
            if (h == INVALID_HANDLE_VALUE || !h) {
                // No file-system folder behind the item: only wait for the end.
                WaitForSingleObject(FLink->Stop.get(), 1000);
                continue;
            }
            HANDLE waits[2] = {FLink->Stop.get(), h};
            DWORD r = WaitForMultipleObjects(2, waits, FALSE, 1000);
            if (r == WAIT_OBJECT_0) break;
            if (r == WAIT_OBJECT_0 + 1) {
                Synchronize([this] { FolderChanged(); });
                break;
            }
            if (r == WAIT_FAILED) {
                WaitForSingleObject(FLink->Stop.get(), 1000);
                FindNextChangeNotification(h);
            }
        }
    }

private:
    // GUI thread.
    void FolderChanged() {
        TDKMenuItem* item = FLink->Item;
        if (!item || FLink->Stopped()) return;
        item->CloseWindow();
        // While the filter box holds text, the way to its match opens again over what the
        // folder now holds.
        if (TDKPopupMenu* menu = item->FPopupMenu; menu && TDKPopupMenu::Alive(menu)) menu->FilterArrivals();
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
    if (FMonDirLink->Stop) SetEvent(FMonDirLink->Stop.get());
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

namespace {

// Entries asked of a folder's enumerator at a time.
constexpr ULONG kEnumBatch = 64;

// Sub-folders filled at once are spread over a few threads when a menu is built off the GUI
// thread: each entry costs a display-name lookup that waits on the system, and a Start Menu
// holds thousands of them. The tree is the same as when filled in one go.
constexpr size_t kFillThreads = 4;
thread_local bool tFillWorker = false;  // this thread already fills for a pool

// A sub-folder item and the folders (absolute lists) to fill it from, in order.
struct TSubFolderFill {
    TDKMenuItem* Child;
    std::vector<PIDLPtr> Lists;
};

// ---- icons shared by a file type ----

// A type's icon, looked up for the first of its rows painted and taken by the others. Each
// ExposeFolder call starts a generation in which the types are judged and looked up afresh, so
// a changed association shows as soon as a folder is read again.
struct TTypeIcon {
    unsigned Generation = 0;
    bool Shared = false;
    int Index = -1;  // not looked up yet
};

struct TTypeIcons {
    std::mutex Lock;
    std::unordered_map<std::wstring, size_t> Slots;  // by lower-cased extension
    std::vector<TTypeIcon> Icons;                    // items hold slot numbers: never removed
};

// Never destroyed: a menu-building thread may still fill while the process ends.
TTypeIcons& TypeIcons() {
    static TTypeIcons* types = new TTypeIcons();
    return *types;
}

std::atomic<unsigned> gFillGeneration{0};

INT_PTR SlotToIcon(size_t slot) { return ShellIconPending - 1 - static_cast<INT_PTR>(slot); }

// The key of plain folders among the extensions (no file name holds a backslash).
const std::wstring kFolderType = L"\\";

// The pending FIcon of a file with this lower-cased extension, or of a plain folder.
INT_PTR TypeIconFor(const std::wstring& extension, unsigned generation) {
    TTypeIcons& types = TypeIcons();
    size_t slot;
    {
        std::lock_guard<std::mutex> lock(types.Lock);
        auto found = types.Slots.find(extension);
        if (found == types.Slots.end()) {
            found = types.Slots.emplace(extension, types.Icons.size()).first;
            types.Icons.emplace_back();
        }
        slot = found->second;
        const TTypeIcon& type = types.Icons[slot];
        if (type.Generation == generation) return type.Shared ? SlotToIcon(slot) : ShellIconPending;
    }
    // The registry is read outside the lock; a fill of the same generation elsewhere judges alike.
    const bool shared = extension == kFolderType ? FolderTypeIconIsShared() : TypeIconIsShared(extension);
    std::lock_guard<std::mutex> lock(types.Lock);
    TTypeIcon& type = types.Icons[slot];
    if (type.Generation != generation) type = TTypeIcon{generation, shared, -1};
    return type.Shared ? SlotToIcon(slot) : ShellIconPending;
}

// ---- captions of plain files ----

// What one fill learns once and reuses: a file-system file's display name is its file name, with
// the extension hidden or not by the extension alone, unless a desktop.ini beside it names it.
// So the shell is asked once per extension and the other files follow; anything else still gets
// the shell's own answer.
class TFillNames {
public:
    explicit TFillNames(unsigned generation) : FGeneration(generation) {}

    // Path: the parsing name of a file-system file, empty for any other entry.
    std::wstring Caption(IShellFolder* folder, LPCITEMIDLIST entry, const std::wstring& path) {
        const size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos || slash == 0 || slash + 1 >= path.size())
            return GetDisplayName(folder, entry, false);
        const std::wstring name = path.substr(slash + 1);
        const size_t dot = name.rfind(L'.');
        // A name that is all extension is the shell's own affair.
        if (dot == 0 || !PlainFolder(path.substr(0, slash))) return GetDisplayName(folder, entry, false);
        const std::wstring ext = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
        auto known = FRules.find(ext);
        if (known == FRules.end()) {
            std::wstring shown = GetDisplayName(folder, entry, false);
            Rule rule = Rule::Ask;
            if (shown == name)
                rule = Rule::Shown;
            else if (dot != std::wstring::npos && shown == name.substr(0, dot))
                rule = Rule::Hidden;
            FRules.emplace(ext, rule);
            return shown;
        }
        switch (known->second) {
        case Rule::Shown:
            return name;
        case Rule::Hidden:
            return name.substr(0, dot);
        default:
            return GetDisplayName(folder, entry, false);
        }
    }

    // The pending FIcon of a new entry: a file-system file (path as for Caption), a folder (its
    // parsing name), or anything else (no path).
    INT_PTR PendingIcon(const std::wstring& path, bool folder) {
        if (path.empty() || (folder && !(OnFixedDrive(path) && FolderIconIsPlain(path)))) return ShellIconPending;
        const size_t slash = path.rfind(L'\\');
        const size_t dot = path.rfind(L'.');
        const bool none = dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash);
        const std::wstring ext = folder ? kFolderType : none ? std::wstring() : Lower(path.substr(dot));
        auto known = FIcons.find(ext);
        if (known == FIcons.end()) known = FIcons.emplace(ext, TypeIconFor(ext, FGeneration)).first;
        return known->second;
    }

private:
    enum class Rule { Shown, Hidden, Ask };

    bool PlainFolder(const std::wstring& dir) {
        auto known = FPlainFolders.find(dir);
        if (known == FPlainFolders.end()) {
            known = FPlainFolders.emplace(dir, !HasDesktopIni(dir)).first;
        }
        return known->second;
    }

    // A folder is looked at only where that costs no trip over a network or to a slow medium.
    bool OnFixedDrive(const std::wstring& path) {
        if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
        const std::wstring root = Lower(path.substr(0, 3));
        auto known = FFixedDrives.find(root);
        if (known == FFixedDrives.end())
            known = FFixedDrives.emplace(root, GetDriveTypeW(root.c_str()) == DRIVE_FIXED).first;
        return known->second;
    }

    unsigned FGeneration;
    std::unordered_map<std::wstring, bool> FFixedDrives;  // by drive root: a fixed disk
    std::unordered_map<std::wstring, Rule> FRules;          // by the name's text from its last dot
    std::unordered_map<std::wstring, bool> FPlainFolders;  // folder path: no desktop.ini in it
    std::unordered_map<std::wstring, INT_PTR> FIcons;      // by lower-cased extension
};

void ExposeInto(TDKMenuItem* self, LPCITEMIDLIST PIDL, IShellFolder* Bound, bool ExposeChildren, SHCONTF EnumFlag,
                int SortingType, unsigned Generation);

// Fills every task's item from its folders; the tasks share no item. The first failure is
// passed on once all have ended.
void FillSubFolders(std::vector<TSubFolderFill>& tasks, unsigned Generation) {
    std::atomic<size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    auto work = [&] {
        // Each thread binds its own folders from the id lists.
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const bool wasWorker = tFillWorker;
        tFillWorker = true;
        for (size_t i = next++; i < tasks.size(); i = next++) {
            try {
                for (PIDLPtr& list : tasks[i].Lists)
                    ExposeInto(tasks[i].Child, list.get(), nullptr, true, kAllEntries, 1, Generation);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failureLock);
                if (!failure) failure = std::current_exception();
            }
        }
        tFillWorker = wasWorker;
        if (SUCCEEDED(com)) CoUninitialize();
    };
    std::vector<std::thread> helpers;
    const size_t extra = std::min(tasks.size(), kFillThreads) - 1;
    try {
        for (size_t i = 0; i < extra; ++i) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer helpers: the calling thread takes what they would have done.
    }
    work();
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
}

// ExposeFolder with the folder of PIDL already bound when Bound is given (a sub-folder is bound
// from its parent's folder by its relative list: binding the absolute list again from the
// desktop walks every level above it once more).
void ExposeInto(TDKMenuItem* self, LPCITEMIDLIST PIDL, IShellFolder* Bound, bool ExposeChildren, SHCONTF EnumFlag,
                int SortingType, unsigned Generation) {
    const int id = self->FPopupMenu ? self->FPopupMenu->FMenuID : 0;
    bool merge = false;
    try {
        self->FIsFolder = true;
        if (!self->FIcon) {
            self->FIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(GetShellIconIndex(PIDL, false, false)));
            self->FIconInGlobList = true;
        }
        // Entries are relative only to the item's own folder. Any other folder merged in (also
        // after an own folder that left no children) gives them absolute lists.
        if (self->FPIDL && PIDL) {
            PIDLPtr parent, own;
            self->GetFullPIDL(parent, own);
            merge = !SamePIDL(own.get(), PIDL);
        }
        if (!self->FPIDL && PIDL) {
            if (self->FExecPath.empty()) self->FExecPath = L"-";
            self->FPIDL = CopyPIDL(PIDL);
        }
    } catch (const std::exception& e) {
        Log(4, L"(c16) " + What(e) + L" / " + std::to_wstring(id) + L" /");
    }
    if (!PIDL) return;

    ComRef<IShellFolder> folder;
    if (Bound) {
        folder = ComRef<IShellFolder>::Share(Bound);
    } else {
        ComRef<IShellFolder> desktop;
        if (!Desktop(desktop)) return;
        if (IsEmptyPIDL(PIDL)) {
            folder = std::move(desktop);
        } else if (FAILED(desktop->BindToObject(PIDL, nullptr, IID_IShellFolder,
                                                reinterpret_cast<void**>(folder.put()))) ||
                   !folder) {
            return;
        }
    }
    // The kept folder is the item's own: its relative children resolve their context menus in
    // it. A second folder merged in is only read.
    if (!merge) {
        self->FCurrIShellFolder = folder;
        self->FShellFolderThread = GetCurrentThreadId();
    }
    // Off the GUI thread only the id lists are kept; the GUI thread binds its own folder.
    struct ReleaseOffGui {
        TDKMenuItem* self;
        ~ReleaseOffGui() {
            if (!gui::App().OnMainThread() && self->FCurrIShellFolder) {
                self->FCurrIShellFolder.reset();
                self->FShellFolderThread = 0;
            }
        }
    } releaseOffGui{self};

    // Only the outermost fill of a worker thread spreads out; the GUI thread keeps the folders it
    // binds, so it fills in one go.
    const bool spread = ExposeChildren && !tFillWorker && !gui::App().OnMainThread();
    std::vector<TSubFolderFill> subFolders;

    // The children by caption, in list order, so a folder of thousands of entries is matched in
    // constant time per entry; whether a child is a folder is read at each match, as it may
    // become one during the fill.
    std::unordered_map<std::wstring, std::vector<TDKMenuItem*>> byCaption;
    if (self->FItems)
        for (TDKMenuItem* c : *self->FItems) byCaption[c->FCaption].push_back(c);

    IShellFolder* sf = folder.get();
    TFillNames names(Generation);
    ComRef<IEnumIDList> en;
    if (sf->EnumObjects(AppWindow(), EnumFlag, en.put()) != S_OK || !en) return;
    LPITEMIDLIST batch[kEnumBatch];
    bool more = true;
    while (more) {
        ULONG got = 0;
        HRESULT hr = en->Next(kEnumBatch, batch, &got);
        if (FAILED(hr)) break;
        if (got > kEnumBatch) got = 0;  // a broken answer: take nothing from it
        more = hr == S_OK && got == kEnumBatch;
        // Each list is owned from here on, even when the loop below leaves early.
        std::vector<PIDLPtr> lists;
        lists.reserve(got);
        for (ULONG i = 0; i < got; ++i) lists.emplace_back(batch[i]);
        for (PIDLPtr& entry : lists) {
            if (!entry) continue;
            // A file-system file's parsing name: cheap, and it tells the caption and icon type.
            const std::wstring path =
                IsFileItem(sf, entry.get()) ? GetDisplayName(sf, entry.get(), true) : std::wstring();
            std::wstring caption;
            if (self->FShowFileExt && !path.empty()) {
                size_t slash = path.rfind(L'\\');
                caption = slash == std::wstring::npos ? path : path.substr(slash + 1);
            } else {
                caption = names.Caption(sf, entry.get(), path);
            }
            const bool isFolder = IsBrowsableFolder(sf, entry.get());
            TDKMenuItem* child = nullptr;
            auto same = byCaption.find(caption);
            if (same != byCaption.end())
                for (TDKMenuItem* c : same->second)
                    if (c->FIsFolder == isFolder) {
                        child = c;
                        break;
                    }
            if (child && !isFolder) continue;  // a file of the same name shows once
            PIDLPtr full(ConcatPIDLs(PIDL, entry.get()));
            if (!full) continue;
            // Bound before the list may move into the child below.
            ComRef<IShellFolder> sub;
            if (isFolder && ExposeChildren && !spread &&
                (FAILED(sf->BindToObject(entry.get(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(sub.put()))) ||
                 !sub))
                sub.reset();
            if (!child) {
                auto fresh = std::make_unique<TDKMenuItem>();
                fresh->FCaption = caption;
                // Looked up when the row is first painted.
                const std::wstring folderPath = isFolder ? GetDisplayName(sf, entry.get(), true) : std::wstring();
                fresh->FIcon = reinterpret_cast<HICON>(names.PendingIcon(isFolder ? folderPath : path, isFolder));
                fresh->FIconInGlobList = true;
                if (merge) {
                    // Its folder is not this item's own folder: the child holds an absolute list.
                    fresh->FPIDL = CopyPIDL(full.get());
                    fresh->FExecPath = L"-";
                } else {
                    fresh->FPIDL = entry.release();
                }
                fresh->FFiltered = self->FFiltered;
                fresh->FIsFavorite = self->FIsFavorite;
                child = fresh.get();
                self->Add(fresh.release());
                byCaption[caption].push_back(child);
            }
            if (!isFolder) {
                child->FOnClick = [child](TDKMenuItem* Sender) { child->DoExecItemIDList(Sender); };
            } else if (ExposeChildren && spread) {
                // Marked a folder now, as its own fill would, so later entries match it as one.
                child->FIsFolder = true;
                auto same = std::find_if(subFolders.begin(), subFolders.end(),
                                         [child](const TSubFolderFill& t) { return t.Child == child; });
                if (same == subFolders.end()) same = subFolders.insert(subFolders.end(), TSubFolderFill{child, {}});
                same->Lists.push_back(std::move(full));
            } else if (ExposeChildren) {
                // A sub-folder that cannot be bound here gets the desktop's try, as before.
                ExposeInto(child, full.get(), sub.get(), true, kAllEntries, 1, Generation);
            } else {
                child->FIsFolder = true;
                child->FOnBeforExpose = [child](TDKMenuItem* Sender) { child->DoExposeItemIDList(Sender); };
                child->FOnAfterExpose = self->FOnAfterExpose;
                // A folder met again in a second folder keeps its one placeholder.
                if (child->Count() == 0) child->AddMenuItem(0, L"Empty");
            }
        }
    }

    if (!subFolders.empty()) FillSubFolders(subFolders, Generation);

    if (SortingType == 1 && self->Count() > 0) {
        try {
            self->ReleaseWindowResources();
            std::vector<std::pair<TSortKey, TDKMenuItem*>> keyed;
            keyed.reserve(self->FItems->size());
            for (TDKMenuItem* c : *self->FItems) keyed.emplace_back(TSortKey(c), c);
            std::stable_sort(keyed.begin(), keyed.end(),
                             [](const auto& a, const auto& b) { return CompareKeys(a.first, b.first) < 0; });
            for (size_t i = 0; i < keyed.size(); ++i) (*self->FItems)[i] = keyed[i].second;
            self->FillListView();
        } catch (const std::exception& e) {
            Log(4, L"(c17) " + What(e) + L" / " + std::to_wstring(id) + L" /");
        }
    }
}

}  // namespace

void TDKMenuItem::ExposeFolder(LPCITEMIDLIST PIDL, bool ExposeChildren, SHCONTF EnumFlag, int SortingType) {
    ExposeInto(this, PIDL, nullptr, ExposeChildren, EnumFlag, SortingType, ++gFillGeneration);
}

namespace {

constexpr size_t kNoSlot = static_cast<size_t>(-1);

// The type slot of a pending FIcon, or kNoSlot for an entry with an icon of its own.
size_t SlotOf(INT_PTR value) {
    return value == ShellIconPending ? kNoSlot : static_cast<size_t>(ShellIconPending - 1 - value);
}

// The index looked up for a type's slot in its generation, or -1.
int SlotIndex(size_t slot) {
    if (slot == kNoSlot) return -1;
    TTypeIcons& types = TypeIcons();
    std::lock_guard<std::mutex> lock(types.Lock);
    return slot < types.Icons.size() ? types.Icons[slot].Index : -1;
}

void KeepSlotIndex(size_t slot, int index) {
    if (slot == kNoSlot) return;
    TTypeIcons& types = TypeIcons();
    std::lock_guard<std::mutex> lock(types.Lock);
    if (slot < types.Icons.size()) types.Icons[slot].Index = index;
}

}  // namespace

int ShellIconIndex(TDKMenuItem* Item) {
    INT_PTR value = reinterpret_cast<INT_PTR>(Item->FIcon);
    if (!IsShellIconPending(value)) return static_cast<int>(value);
    const size_t slot = SlotOf(value);
    int index = SlotIndex(slot);
    if (index < 0 && !Item->FPIDL && !Item->ExecPath().empty()) {
        index = TDKData::StatIconIndex(Item->ExecPath());  // a statistics entry: a path, no id list
    } else if (index < 0) {
        PIDLPtr parent, full;
        Item->GetFullPIDL(parent, full);
        index = full ? GetShellIconIndex(full.get(), false, false) : 0;
        if (full) KeepSlotIndex(slot, index);
    }
    Item->FIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(index));
    return index;
}

// ---- icons looked up after their window shows ----
//
// Looking an icon up reads the file (a program's or icon file's own picture): a few ms each under
// some systems, and a window of a big folder shows hundreds of rows. A paint looks icons up itself
// only for a short time; the rest are asked of a worker thread, which hands each index back to the
// GUI thread, where the row is painted again. Only id lists travel to the worker, which looks the
// icon up from the full list on its own. The GUI thread keeps what it asked, so a row painted
// again (the selected row turns every 40 ms) is not asked twice; asks for rows that went (their
// window closed or its rows were made anew) are dropped before they are looked up.

namespace {

using gui::NowMs;

// How long one paint may look icons up itself: a window of a few rows shows whole at once.
double gLookupTime = 25.0;
double gLookupsUntil = 0.0;  // the running paint's end of it

// Answers reach the GUI thread at most this often while more are coming (each may hand a big
// window's picture over once).
constexpr double kAnswerPace = 40.0;

struct TIconAsk {
    PIDLPtr Full;  // made on the GUI thread
    size_t Slot = kNoSlot;
    TDKMenuItem* Item = nullptr;  // read on the GUI thread only
    std::shared_ptr<const std::atomic<bool>> Alive;  // the item's
    std::shared_ptr<std::atomic<bool>> Dropped;      // its window's rows went
    int Row = -1;                                    // where it was, likely still is
    int Index = -1;                                  // the answer; -1 when not looked up
};

struct TIconWorker {
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<std::unique_ptr<TIconAsk>> Asks;
    std::vector<std::unique_ptr<TIconAsk>> Answers;
    double LastPost = 0.0;
    bool Started = false;
};

// Never destroyed: the worker may still wait on it while the process ends.
TIconWorker& IconWorker() {
    static TIconWorker* worker = new TIconWorker();
    return *worker;
}

// GUI thread: what was asked, by item, and the drop flag of each window's asks.
struct TAsked {
    std::weak_ptr<const std::atomic<bool>> Alive;
    std::shared_ptr<std::atomic<bool>> Dropped;
};
std::unordered_map<const TDKMenuItem*, TAsked>& Asked() {
    static std::unordered_map<const TDKMenuItem*, TAsked> asked;
    return asked;
}
std::unordered_map<const TDKMenuItem*, std::shared_ptr<std::atomic<bool>>>& WindowAsks() {
    static std::unordered_map<const TDKMenuItem*, std::shared_ptr<std::atomic<bool>>> asks;
    return asks;
}

// An item at a reused address is another item: its life token tells them apart.
bool AskedAlready(const TDKMenuItem* item, const std::shared_ptr<const std::atomic<bool>>& alive) {
    auto it = Asked().find(item);
    if (it == Asked().end()) return false;
    if (it->second.Alive.lock() == alive && !*it->second.Dropped) return true;
    Asked().erase(it);
    return false;
}

void TakeIconAnswers();

void IconWorkerLoop() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    TIconWorker& w = IconWorker();
    for (;;) {
        std::unique_ptr<TIconAsk> ask;
        {
            std::unique_lock<std::mutex> lock(w.Lock);
            w.Wake.wait(lock, [&] { return !w.Asks.empty(); });
            ask = std::move(w.Asks.front());
            w.Asks.pop_front();
        }
        if (*ask->Alive && !*ask->Dropped) {
            // Another file of the type may have been looked up meanwhile.
            ask->Index = SlotIndex(ask->Slot);
            if (ask->Index < 0) {
                ask->Index = GetShellIconIndex(ask->Full.get(), false, false);
                KeepSlotIndex(ask->Slot, ask->Index);
            }
        }
        bool post;
        {
            std::lock_guard<std::mutex> lock(w.Lock);
            w.Answers.push_back(std::move(ask));
            const double now = NowMs();
            post = w.Asks.empty() || now - w.LastPost >= kAnswerPace;
            if (post) w.LastPost = now;
        }
        if (post) gui::App().Queue(TakeIconAnswers);
    }
}

// Hands the ask to the worker; false when no worker can run.
bool SendIconAsk(std::unique_ptr<TIconAsk> ask) {
    TIconWorker& w = IconWorker();
    std::lock_guard<std::mutex> lock(w.Lock);
    if (!w.Started) {
        try {
            std::thread(IconWorkerLoop).detach();
        } catch (const std::system_error&) {
            return false;
        }
        w.Started = true;
    }
    w.Asks.push_back(std::move(ask));
    w.Wake.notify_one();
    return true;
}

// The row of Window that shows Item: Hint when it still does, else found among the rows.
int RowShowing(const TDKMenuItem* Window, const TDKMenuItem* Item, int Hint) {
    auto shows = [&](int r) {
        const TMenuRowData* d = Window->RowData(r);
        return d && d->Child == Item && d->ItemIndex >= 0 && d->ItemIndex < Window->Count() &&
               Window->GetItem(d->ItemIndex) == Item;
    };
    if (shows(Hint)) return Hint;
    for (int r = 0, n = Window->RowCount(); r < n; ++r)
        if (shows(r)) return r;
    return -1;
}

// GUI thread: each answer goes to its item, and the item's row, if it is still shown, is painted
// again; each window hands its picture over once for all of them.
void TakeIconAnswers() {
    std::vector<std::unique_ptr<TIconAsk>> answers;
    {
        TIconWorker& w = IconWorker();
        std::lock_guard<std::mutex> lock(w.Lock);
        answers.swap(w.Answers);
    }
    TPresentBatch batch;
    for (auto& a : answers) {
        auto asked = Asked().find(a->Item);
        if (asked != Asked().end() && asked->second.Dropped == a->Dropped) Asked().erase(asked);
        if (!*a->Alive || a->Index < 0) continue;
        TDKMenuItem* item = a->Item;
        if (!IsShellIconPending(reinterpret_cast<INT_PTR>(item->FIcon))) continue;  // given meanwhile
        item->FIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(a->Index));
        if (TDKMenuItem* window = item->FOwner) {
            try {
                int row = RowShowing(window, item, a->Row);
                if (row >= 0) window->UpdateWindow(row);
            } catch (const std::exception& e) {
                gui::App().HandleException("TDKMenuItem", e);
            }
        }
    }
}

}  // namespace

void BeginRowIconLookups() { gLookupsUntil = NowMs() + gLookupTime; }

void SetRowIconLookupTime(double Ms) { gLookupTime = Ms; }

int ShellIconIndexForRow(TDKMenuItem* Item, int Row) {
    INT_PTR value = reinterpret_cast<INT_PTR>(Item->FIcon);
    if (!IsShellIconPending(value)) return static_cast<int>(value);
    const size_t slot = SlotOf(value);
    if (int known = SlotIndex(slot); known >= 0) {
        Item->FIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(known));
        return known;
    }
    // Entries without an id list (statistics) and paints off the GUI thread look up at once.
    const bool later = Item->FPIDL && Item->FOwner && gui::App().Initialized() && gui::App().OnMainThread();
    if (!later || NowMs() < gLookupsUntil) return ShellIconIndex(Item);
    auto alive = Item->LifeToken();
    if (AskedAlready(Item, alive)) return -1;
    auto ask = std::make_unique<TIconAsk>();
    PIDLPtr parent;
    Item->GetFullPIDL(parent, ask->Full);
    if (!ask->Full) return ShellIconIndex(Item);
    auto& dropped = WindowAsks()[Item->FOwner];
    if (!dropped) dropped = std::make_shared<std::atomic<bool>>(false);
    ask->Slot = slot;
    ask->Item = Item;
    ask->Alive = alive;
    ask->Dropped = dropped;
    ask->Row = Row;
    if (!SendIconAsk(std::move(ask))) return ShellIconIndex(Item);
    Asked()[Item] = TAsked{alive, dropped};
    return -1;
}

void CancelRowIcons(const TDKMenuItem* Window) {
    auto it = WindowAsks().find(Window);
    if (it == WindowAsks().end()) return;
    const std::shared_ptr<std::atomic<bool>> dropped = std::move(it->second);
    WindowAsks().erase(it);
    dropped->store(true);
    for (auto a = Asked().begin(); a != Asked().end();)
        a = a->second.Dropped == dropped ? Asked().erase(a) : std::next(a);
}

int TDKMenuItem::CompareFolderItems(const TDKMenuItem* Left, const TDKMenuItem* Right) {
    return CompareKeys(TSortKey(Left), TSortKey(Right));
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
    if (!full) {
        // A favourite whose path the shell did not know when the menu was built: started by its
        // path, which tells the user why it does not start (or starts what is there by now).
        if (FPopupMenu && TDKPopupMenu::Alive(FPopupMenu) && !gui::Trim(FExecPath).empty()) FPopupMenu->RunItem(this);
        return;
    }
    std::wstring dir = parent ? ParsingName(parent.get()) : std::wstring();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.hwnd = AppWindow();
    info.lpDirectory = parent ? dir.c_str() : nullptr;
    info.nShow = SW_SHOW;
    info.lpIDList = full.get();
    // The call may run a modal loop in which this item goes (a device change rebuilds the Files
    // menu): the launch record is taken from copies.
    const int menuId = FPopupMenu ? FPopupMenu->FMenuID : 0;
    const std::wstring caption = FCaption, path = ParsingName(full.get());
    if (!ShellExecuteOrReport(caption, path, info)) return;
    if (DKData) DKData->SaveExecTime(menuId, caption, path, -1);
}

// ---- context menu ----

IContextMenu* TDKMenuItem::GetContextMenu() {
    if (!FPIDL) return nullptr;
    const DWORD thread = GetCurrentThreadId();
    if (FContextMenu && FContextMenuThread == thread) return FContextMenu.get();

    ComRef<IShellFolder> folder;
    LPCITEMIDLIST child = nullptr;
    PIDLPtr parent, full;
    if (FOwner && FOwner->FCurrIShellFolder && FOwner->FShellFolderThread == thread && FExecPath.empty()) {
        folder = FOwner->FCurrIShellFolder;
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
            folder = std::move(desktop);
        } else if (FAILED(desktop->BindToObject(folderList.get(), nullptr, IID_IShellFolder,
                                                reinterpret_cast<void**>(folder.put()))) ||
                   !folder) {
            return nullptr;
        }
        child = GetLastPIDLItem(full.get());
    }
    ComRef<IContextMenu> menu;
    if (FAILED(folder->GetUIObjectOf(AppWindow(), 1, &child, IID_IContextMenu, nullptr,
                                     reinterpret_cast<void**>(menu.put()))) ||
        !menu)
        return nullptr;
    IContextMenu* better = nullptr;
    if (FAILED(menu->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&better))) || !better) {
        better = nullptr;
        if (FAILED(menu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&better)))) better = nullptr;
    }
    // Without the second or third version the plain menu still queries and invokes.
    FContextMenu.reset(better ? better : menu.release());
    FContextMenuThread = thread;
    return FContextMenu.get();
}
