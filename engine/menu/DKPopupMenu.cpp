// The popup-menu base: favourites and groups, filter box, statistics section, running items,
// popularity order, showing and hiding, and saving the stored items when the menu goes.
#include <algorithm>
#include <mutex>
#include <set>
#include <unordered_set>
#include <unordered_map>

#include "settings/DKLog.h"
#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "menu/MenuForm.h"
#include "menu/ShellIcon.h"
#include "SysUtils.h"


namespace {

std::mutex g_liveLock;
std::set<const TDKPopupMenu*>& LiveMenus() {
    static std::set<const TDKPopupMenu*> s;
    return s;
}

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

TShellExecuteFunc& ShellStart() {
    static TShellExecuteFunc f;
    return f;
}

HICON LoadIconFile(const std::wstring& file) {
    return static_cast<HICON>(LoadImageW(nullptr, file.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
}

// The absolute item id list of a display name, or null when the shell does not know it.
LPITEMIDLIST ParsePath(const std::wstring& path) {
    IShellFolder* desktop = DesktopFolder();
    if (!desktop || path.empty()) return nullptr;
    std::wstring buf = path;
    LPITEMIDLIST pidl = nullptr;
    ULONG eaten = 0, attrs = 0;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, buf.data(), &eaten, &pidl, &attrs))) return nullptr;
    return pidl;
}

void SetPIDL(TDKMenuItem* item, LPITEMIDLIST pidl) {
    PIDLPtr old(std::exchange(item->FPIDL, pidl));
}

// A stored file's id list, parsed from its path on first use; its icon, still to be looked up
// by name, is looked up first (with an id list the look-up would read the file instead).
void ParseStoredPath(TDKMenuItem* item) {
    if (item->FPIDL || gui::Trim(item->ExecPath()).empty()) return;
    if (item->FIconInGlobList) ShellIconIndex(item);
    SetPIDL(item, ParsePath(item->ExecPath()));
}

bool AskIsDirectory(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Which stored paths name folders, while a menu's stored items are prepared. A folder that
// holds many of them is listed once instead of being asked about each: a menu may store many
// thousands of files, and under Wine a name missing from a large folder costs a scan of it.
class TStoredFolders {
public:
    bool IsDirectory(const std::wstring& path) {
        std::wstring dir, name;
        if (!Split(path, dir, name)) return AskIsDirectory(path);
        TFolder& folder = Folder(dir);
        if (!folder.Met) {
            folder.Met = true;
            // A folder met for the first time: once many of its siblings were met, their parent
            // is listed and tells whether it exists.
            std::wstring up, own;
            if (Split(dir, up, own)) {
                TFolder& parent = Folder(up);
                if (parent.Listed || Listing(up, parent)) folder.Listed = !parent.Folders.count(gui::AnsiLowerCase(own));
            }
        }
        if (!folder.Listed && !Listing(dir, folder)) {
            DWORD a = GetFileAttributesW(path.c_str());
            // No such folder: nothing else in it is asked about.
            if (a == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_PATH_NOT_FOUND) folder.Listed = true;
            return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
        }
        return folder.Folders.count(gui::AnsiLowerCase(name)) != 0;
    }

private:
    static constexpr int kAskedBeforeListing = 16;
    struct TFolder {
        int Asked = 0;
        bool Met = false, Listed = false, Unlistable = false;
        std::unordered_set<std::wstring> Folders;  // lower-cased names of its subfolders
    };

    // A drive path's folder and last name; false for any other form (those are asked as they
    // are: short names, trailing dots and blanks, forward slashes and UNC paths).
    static bool Split(const std::wstring& path, std::wstring& dir, std::wstring& name) {
        const size_t slash = path.rfind(L'\\');
        if (path.size() <= 3 || !iswalpha(path[0]) || path.compare(1, 2, L":\\") != 0 || slash == std::wstring::npos ||
            slash + 1 >= path.size() || path.find_first_of(L"/~") != std::wstring::npos || path.back() == L'.' ||
            path.back() == L' ')
            return false;
        dir = path.substr(0, slash);
        name = path.substr(slash + 1);
        return true;
    }

    TFolder& Folder(const std::wstring& dir) { return FFolders[gui::AnsiLowerCase(dir)]; }

    // Counts one more question about the folder and lists it once they are many; whether it is
    // listed now.
    static bool Listing(const std::wstring& dir, TFolder& folder) {
        if (folder.Listed || folder.Unlistable || ++folder.Asked <= kAskedBeforeListing) return folder.Listed;
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                    FIND_FIRST_EX_LARGE_FETCH);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD e = GetLastError();
            // A folder that is not there holds no folders; any other refusal is asked path by path.
            folder.Listed = e == ERROR_PATH_NOT_FOUND || e == ERROR_FILE_NOT_FOUND;
            folder.Unlistable = !folder.Listed;
            return folder.Listed;
        }
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folder.Folders.insert(gui::AnsiLowerCase(data.cFileName));
        } while (FindNextFileW(h, &data));
        FindClose(h);
        return folder.Listed = true;
    }

    // References to its elements stay valid while others are added.
    std::unordered_map<std::wstring, TFolder> FFolders;
};

// The listing of the build running on this thread, if any.
thread_local TStoredFolders* tStoredFolders = nullptr;

bool IsDirectory(const std::wstring& path) {
    return tStoredFolders ? tStoredFolders->IsDirectory(path) : AskIsDirectory(path);
}

// The folder of a file path, without the trailing backslash unless it is a drive's root; none
// for anything else (a URL's leading part is no folder, and an invalid one can fail the start).
std::wstring FileDir(const std::wstring& path) {
    bool drive = path.size() > 2 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    if (!drive && path.rfind(L"\\\\", 0) != 0) return {};
    size_t p = path.find_last_of(L"\\/");
    if (p == std::wstring::npos) return {};
    std::wstring dir = path.substr(0, p);
    if (dir.size() == 2 && dir[1] == L':') dir += L'\\';
    return dir;
}

void SetColorTree(TDKMenuItem* item, COLORREF c) {
    item->FColor = c;
    for (int i = 0; i < item->Count(); ++i) SetColorTree(item->GetItem(i), c);
}

void ShowAll(TDKMenuItem* item) {
    for (int i = 0; i < item->Count(); ++i) {
        TDKMenuItem* c = item->GetItem(i);
        c->FVisible = true;
        ShowAll(c);
    }
}

TDKMenuItem* FindBelow(TDKMenuItem* item, int ID) {
    for (int i = 0; i < item->Count(); ++i) {
        TDKMenuItem* c = item->GetItem(i);
        if (c->MIID() == ID) return c;
        if (TDKMenuItem* hit = FindBelow(c, ID)) return hit;
    }
    return nullptr;
}

}  // namespace

// ---- life ----

TDKPopupMenu::TDKPopupMenu(const TMenuOwner& AOwner) {
    {
        std::lock_guard<std::mutex> g(g_liveLock);
        LiveMenus().insert(this);
    }
    FItems = new TDKMenuItem();
    FDKButton = AOwner.Button;
    FName = AOwner.Caption;
    FMenuID = AOwner.ID;
    FItems->FMIID = -1;
    FItems->FPopupMenu = this;
    FItems->FShowFileExt = false;
    SetColor(AOwner.Color);
    std::wstring images = gui::ExeDir() + L"images\\";
    FFoldIcon.reset(LoadIconFile(images + L"folder.ico"));
    FFavIcon.reset(LoadIconFile(images + L"favorites.ico"));
    FDeleteIcon.reset(LoadIconFile(images + L"crossing.ico"));
}

TDKPopupMenu::~TDKPopupMenu() {
    try {
        TDKPopupMenu::Hide();
    } catch (const std::exception& e) {
        Log(4, L"(c23) " + What(e));
    }
    try {
        if (DKData && DKData->Connected()) DKData->SaveMenu(this);
    } catch (const std::exception& e) {
        // The old rows stay: saving is one transaction.
        Log(4, L"(c24) " + What(e));
    }
    {
        std::lock_guard<std::mutex> g(g_liveLock);
        LiveMenus().erase(this);
    }
    delete FItems;
    FItems = nullptr;
    for (gui::IconHandle* h : {&FFoldIcon, &FFavIcon, &FDeleteIcon}) h->reset();
}

bool TDKPopupMenu::Alive(const TDKPopupMenu* p) {
    std::lock_guard<std::mutex> g(g_liveLock);
    return p && LiveMenus().count(p) != 0;
}

void TDKPopupMenu::SetShellExecute(TShellExecuteFunc f) { ShellStart() = std::move(f); }

// ---- properties ----

bool TDKPopupMenu::Acitve() const {
    HWND h = FItems ? FItems->FormHandle() : nullptr;
    return h && IsWindowVisible(h);
}

COLORREF TDKPopupMenu::Color() const { return FItems ? FItems->Color() : 0; }

void TDKPopupMenu::SetColor(COLORREF v) {
    if (FItems) SetColorTree(FItems, v);
}

TDKMenuItem* TDKPopupMenu::FindItem(int ID) const { return FItems ? FindBelow(FItems, ID) : nullptr; }

// ---- showing ----

void TDKPopupMenu::Popup(int X, int Y) {
    ShowAll(FItems);
    // The box shows what the list shows: nothing typed.
    FFilterText.clear();
    FFilterMatch = nullptr;
    FFilterMatchAlive.reset();
    if (TDKMenuItem* box = FItems->FindItem(FilterEditID)) box->FCaption = FFilterHint;
    FItems->ShowAt(X, Y);
    if (HWND h = FItems->FormHandle()) {
        SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetForegroundWindow(h);
    }
}

void TDKPopupMenu::Hide() {
    // An edit not ended with Enter ends as a cancel, however the menu goes: the row is saved as
    // it was.
    CancelEdits();
    if (Acitve()) FHiddenAt = GetTickCount64();
    if (FItems) {
        FItems->CloseWindow();
        // A hidden menu holds no windows but its stored items'; the next opening makes them anew.
        FreeKeptWindows(FItems);
    }
    if (OnHide) OnHide();
}

// ---- building blocks ----

void TDKPopupMenu::LoadFavorites() {
    TDKMenuItem* title = FItems->AddMenuItem(FavoritesTitleID, L"Favorites", nullptr, true);
    title->AddMenuItem(0, L"Create New Group", [this](TDKMenuItem* s) { CreateGroup(s); }, false, true);
    title->AddMenuItem(0, L"Clear Favorites", [this](TDKMenuItem* s) { ClearFavorites(s); });
    FMaxMIID = DKData ? DKData->FillMenuItem(FItems, FMenuID, -1, -1) : -1;
    TStoredFolders folders;
    tStoredFolders = &folders;
    struct TEnd {
        ~TEnd() { tStoredFolders = nullptr; }
    } end;
    for (int i = 1; i < FItems->Count(); ++i) InitStoredItem(FItems->GetItem(i));
}

void TDKPopupMenu::AddFilter(const std::wstring& Caption) {
    FFilterHint = Caption;
    FItems->AddMenuItem(FilterTitleID, L"Filter", nullptr, true);
    TDKMenuItem* edit = FItems->AddMenuItem(
        FilterEditID, Caption, [this](TDKMenuItem* s) { ExecuteFilterText(s); }, false, false, false, true);
    edit->FOnEditChanged = [this](TDKMenuItem* s, const std::wstring& text) { FilterChanged(s, text); };
}

void TDKPopupMenu::AddStatistics() {
    TDKMenuItem* title = FItems->AddMenuItem(0, L"Statistics", nullptr, true);
    title->AddMenuItem(0, L"Clear " + FName + L" Statistics", [](TDKMenuItem* s) {
        if (DKData) DKData->ClearStat(s);
    });
    TDKMenuItem* popular = FItems->AddMenuItem(MostPopularID, L"Most Popular");
    popular->FIcon = FFoldIcon.get();
    popular->FOnBeforExpose = [](TDKMenuItem* s) {
        if (DKData) DKData->ShowPopularList(s);
    };
    popular->AddMenuItem(0, TDKData::EmptyCaption);
    TDKMenuItem* recent = FItems->AddMenuItem(RecentID, L"Recent");
    recent->FIcon = FFoldIcon.get();
    recent->FOnBeforExpose = [](TDKMenuItem* s) {
        if (DKData) DKData->ShowRecentList(s);
    };
    recent->AddMenuItem(0, TDKData::EmptyCaption);
}

void TDKPopupMenu::AddFavoriteCommands(TDKMenuItem* Item) {
    if (Item->Count() == 0) {
        TDKMenuItem* add = Item->AddMenuItem(0, L"Add to Favorites", [this](TDKMenuItem* s) { AddToFavorites(s); });
        add->SetIcon(FFavIcon.get());
        return;
    }
    int n = Item->Count();
    for (int i = 0; i < n; ++i) AddFavoriteCommands(Item->GetItem(i));
}

void TDKPopupMenu::SortByPopularity() {
    TDKMenuItem* main = FItems->FindItem(MainTitleID);
    int first = main ? main->Index() + 1 : 0;
    // The range closes at the first favourites or filter title after the main section; titles
    // standing before it (the favourites title heads most menus) do not end it.
    int last = FItems->Count() - 1;
    for (int i = first; i < FItems->Count(); ++i) {
        int id = FItems->GetItem(i)->MIID();
        if (id == FavoritesTitleID || id == FilterTitleID) {
            last = i;
            break;
        }
    }
    if (first >= last) return;
    gui::StringList L = DKData ? DKData->GetSortedList(FMenuID) : gui::StringList();
    std::unordered_map<std::wstring, unsigned> rank;
    for (int i = L.Count() - 1; i >= 0; --i)
        if (!gui::Trim(L[i]).empty()) rank[gui::AnsiLowerCase(L[i])] = static_cast<unsigned>(i);
    // Section titles and the filter box keep their places; only the items between them move.
    std::vector<int> slots;
    std::vector<std::pair<unsigned, TDKMenuItem*>> keyed;
    for (int i = first; i <= last; ++i) {
        TDKMenuItem* c = FItems->GetItem(i);
        if (c->GroupTitle() || (c->MIID() >= FavoritesTitleID && c->MIID() <= FilterEditID)) continue;
        auto it = rank.find(gui::AnsiLowerCase(c->ExecPath()));
        slots.push_back(i);
        keyed.emplace_back(it == rank.end() ? 0xFFFFFFFFu : it->second, c);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](auto& a, auto& b) { return a.first < b.first; });
    FItems->ReleaseWindowResources();
    for (size_t k = 0; k < slots.size(); ++k) (*FItems->FItems)[static_cast<size_t>(slots[k])] = keyed[k].second;
    FItems->FillListView();
}

// ---- virtual operations ----

void TDKPopupMenu::ExposeItemMenu(TDKMenuItem* Item) {
    try {
        if (!Item->Folder()) Item->Clear();
        if (!Item->IsFavorite()) {
            TDKMenuItem* add = Item->AddMenuItem(
                0, L"Add to Favorites", [this](TDKMenuItem* s) { AddToFavorites(s); }, false, true);
            add->SetIcon(FFavIcon.get());
        }
        QueryShellCommands(Item);
        if (Item->IsFavorite() && !Item->ExecPath().empty()) {
            Item->AddMenuItem(0, L"Path: " + gui::LowerCase(Item->ExecPath()), nullptr, false, true);
            TDKMenuItem* remove =
                Item->AddMenuItem(0, L"Remove from Favorites", [this](TDKMenuItem* s) { RemoveItem(s); });
            remove->SetIcon(FDeleteIcon.get());
        }
    } catch (const std::exception& e) {
        Log(4, L"(c13) " + What(e));
    }
}

void TDKPopupMenu::InitStoredItem(TDKMenuItem* Item) {
    Item->FOnClick = nullptr;
    if (Item->Owner())
        Item->SetEdited(false);
    else
        Item->FEdited = false;
    int n = Item->Count();
    for (int i = 0; i < n && i < Item->Count(); ++i) InitStoredItem(Item->GetItem(i));
    if (!gui::Trim(Item->ExecPath()).empty()) {
        Item->SetIsFavorite(true);
        Item->FOnClick = [this](TDKMenuItem* s) { RunItem(s); };
        if (IsDirectory(Item->ExecPath())) {
            SetPIDL(Item, ParsePath(Item->ExecPath()));
            if (Item->FPIDL) Item->ExposeFolder(Item->FPIDL, false, 0xE0, 1);
            // Rows queried while the menu is built belong to the building thread's shell objects:
            // the thread that shows them queries its own when the window opens.
            auto requery = [this](TDKMenuItem* s) {
                if (s->FCommandsThread == GetCurrentThreadId()) return;
                if (s->Folder())
                    for (int i = s->Count() - 1; i >= 0; --i)
                        if (!s->GetItem(i)->IsFile()) s->Delete(s->GetItem(i));
                ExposeItemMenu(s);
            };
            for (int i = 0; i < Item->Count(); ++i) {
                TDKMenuItem* c = Item->GetItem(i);
                if (c->Folder()) {
                    c->FOnAfterExpose = [this](TDKMenuItem* s) { AfterExposeFolder(s); };
                } else {
                    ExposeItemMenu(c);
                    c->FOnBeforExpose = requery;
                }
            }
            ExposeItemMenu(Item);
            Item->FOnBeforExpose = requery;
        } else {
            // A file's id list and icon are made when the user reaches its row: parsing a path
            // costs the shell about a millisecond and an icon is a pair of bitmaps, too much for
            // each of many thousands of stored rows. The icon follows from the name, as before.
            Item->FIcon = reinterpret_cast<HICON>(ShellIconPending);
            Item->FIconInGlobList = true;
            Item->FOnClick = [Item](TDKMenuItem* s) {
                ParseStoredPath(Item);
                Item->DoExecItemIDList(s);
            };
            Item->AddMenuItem(0, TDKData::EmptyCaption);
            Item->FOnBeforExpose = [this](TDKMenuItem* s) {
                ParseStoredPath(s);
                ExposeItemMenu(s);
            };
        }
        return;
    }
    if (!Item->GroupTitle()) Item->FIcon = FFoldIcon.get();
    Item->AddMenuItem(0, L"Create New Subgroup", [this](TDKMenuItem* s) { CreateGroup(s); }, false, true);
    Item->AddMenuItem(0, L"Run All in Group", [this](TDKMenuItem* s) { RunAllInGroup(s); });
    Item->AddMenuItem(0, L"Rename Group", [this](TDKMenuItem* s) { BeginRename(s); });
    Item->AddMenuItem(0, L"Remove Group", [this](TDKMenuItem* s) { RemoveItem(s); });
}

void TDKPopupMenu::BeginRename(TDKMenuItem* Sender) {
    TDKMenuItem* T = Sender->Owner();
    if (!T) return;
    StartEdit(T, [this](TDKMenuItem* s) { EndRename(s); });
}

void TDKPopupMenu::EndRename(TDKMenuItem* Item) {
    ForgetEdit(Item);
    Item->FOnClick = Item->FOldOnClick;
    Item->FOldOnClick = nullptr;
    Item->SetEdited(false);
}

// ---- edits started by a command ----

TDKPopupMenu::TOpenEdit* TDKPopupMenu::OpenEdit(const TDKMenuItem* Item) {
    std::erase_if(FOpenEdits, [](const TOpenEdit& e) { return !*e.Alive || !e.Item->Edited(); });
    for (TOpenEdit& e : FOpenEdits)
        if (e.Item == Item) return &e;
    return nullptr;
}

void TDKPopupMenu::StartEdit(TDKMenuItem* Item, TDKNotifyEvent OnEnter) {
    // A second start of the same edit goes back to it: parking its Enter handler would lose the
    // item's own.
    if (OpenEdit(Item)) {
        Item->FocusEditBox();
        return;
    }
    ForgetEdit(Item);
    FOpenEdits.push_back({Item, Item->LifeToken(), Item->Caption(), false});
    Item->SetEdited(true);
    Item->FOldOnClick = Item->FOnClick;
    Item->FOnClick = std::move(OnEnter);
    Item->FocusEditBox();
}

TDKMenuItem* TDKPopupMenu::InsertPrompt(TDKMenuItem* Sender, TDKMenuItem* Parent, int Index, int MIID,
                                        const std::wstring& Prompt, TDKNotifyEvent OnEnter) {
    // The refill of the parent's window leaves the command's submenu open: the command can be
    // used again at once, and the window that was clicked keeps the keyboard's way in.
    menu_window::KeepOpen().assign({Sender->Owner()});
    struct Forget {
        ~Forget() { menu_window::KeepOpen().clear(); }
    } forget;
    TDKMenuItem* row = Parent->InsertMenuItem(Index, MIID, Prompt, std::move(OnEnter), false, false, true, true);
    FOpenEdits.push_back({row, row->LifeToken(), Prompt, true});
    row->FocusEditBox();
    return row;
}

TDKMenuItem* TDKPopupMenu::OpenPrompt(const TDKMenuItem* Parent, const std::wstring& Prompt) {
    OpenEdit(nullptr);  // drops the finished ones
    for (const TOpenEdit& e : FOpenEdits)
        if (e.Prompt && e.Item->Owner() == Parent && e.Caption == Prompt) return e.Item;
    return nullptr;
}

void TDKPopupMenu::ForgetEdit(const TDKMenuItem* Item) {
    std::erase_if(FOpenEdits, [Item](const TOpenEdit& e) { return e.Item == Item; });
}

void TDKPopupMenu::CancelEdits() {
    OpenEdit(nullptr);
    std::vector<TOpenEdit> edits;
    edits.swap(FOpenEdits);
    for (TOpenEdit& e : edits) {
        if (e.Prompt) {
            FOpenEdits.push_back(std::move(e));
            continue;
        }
        TDKMenuItem* T = e.Item;
        T->FOnClick = std::move(T->FOldOnClick);
        T->FOldOnClick = nullptr;
        T->SetCaption(e.Caption);
        T->SetEdited(false);
    }
}

bool TDKPopupMenu::ShowsPrompt(const TDKMenuItem* Item) const {
    for (const TOpenEdit& e : FOpenEdits)
        if (e.Item == Item && *e.Alive) return e.Prompt && Item->Caption() == e.Caption;
    return false;
}

// ---- handlers ----

void TDKPopupMenu::CreateGroup(TDKMenuItem* Sender) {
    TDKMenuItem* O = Sender->Owner();
    if (!O) return;
    TDKMenuItem* parent = O;
    int index = 0;
    if (O->MIID() == FavoritesTitleID) {
        int k = O->Index();
        parent = FItems;
        index = std::min(k == 0 ? k + 1 : k + 2, FItems->Count());
    }
    // One new row at a time in a place: the command goes back to the open one.
    if (TDKMenuItem* open = OpenPrompt(parent, GroupPrompt)) {
        open->FocusEditBox();
        return;
    }
    ++FMaxMIID;
    TDKMenuItem* group =
        InsertPrompt(Sender, parent, index, FMaxMIID, GroupPrompt, [this](TDKMenuItem* s) { InitStoredItem(s); });
    group->SetLoadable(true);
    group->SetDragged(true);
}

void TDKPopupMenu::ClearFavorites(TDKMenuItem* Sender) {
    (void)Sender;
    // From after the favourites title up to the next title (the main title in most menus);
    // a menu without its main title loses nothing else.
    TDKMenuItem* title = FItems->FindItem(FavoritesTitleID);
    int start = title ? title->Index() + 1 : 1;
    while (start < FItems->Count()) {
        TDKMenuItem* c = FItems->GetItem(start);
        if (c->MIID() == MainTitleID || c->GroupTitle()) break;
        c->Delete(-1);
        if (start < FItems->Count() && FItems->GetItem(start) == c) break;  // removal failed
    }
}

void TDKPopupMenu::AddToFavorites(TDKMenuItem* Sender) {
    TDKMenuItem* S = Sender->Owner();
    if (!S) return;
    ++FMaxMIID;
    std::unique_ptr<TDKMenuItem> F(new TDKMenuItem());
    F->FMIID = FMaxMIID;
    F->FCaption = S->Caption();
    F->FIcon = S->Icon();
    F->FColor = FItems->Color();
    F->SetLoadable(true);
    F->SetIsFavorite(true);
    F->FExecPath = S->IsFile() ? S->GetFileName() : S->ExecPath();
    F->FPIDL = ParsePath(F->FExecPath);
    F->SetDragged(true);
    F->SetFiltered(true);
    F->FIconInGlobList = S->FIconInGlobList;
    TDKMenuItem* main = FItems->FindItem(MainTitleID);
    FItems->Insert(main ? main->Index() : FItems->Count(), F.get());
    TDKMenuItem* fav = F.release();
    if (S->Folder())
        fav->ExposeFolder(fav->ExecPath(), false, 0xE0, 1);
    else
        fav->FOnClick = [this](TDKMenuItem* s) { RunItem(s); };
    AfterExposeFolder(fav);
}

void TDKPopupMenu::RemoveItem(TDKMenuItem* Sender) {
    if (TDKMenuItem* O = Sender->Owner()) O->Delete(-1);
}

void TDKPopupMenu::RunItem(TDKMenuItem* Sender) {
    std::wstring P = Sender->ExecPath();
    std::wstring caption = Sender->Caption();
    TDKPopupMenu* menu = Sender->PopupMenu() ? Sender->PopupMenu() : this;
    if (Alive(menu)) menu->Hide();
    if (gui::Trim(P).empty()) return;
    std::wstring params;
    size_t p = P.find(L" /");
    if (p != std::wstring::npos) {
        params = P.substr(p + 1, 100);
        P.resize(p);
    }
    std::wstring dir = FileDir(P);
    if (ShellStart())
        ShellStart()(P, params, dir);
    // What did not start is no launch: the user is told why, and it stays out of the statistics.
    else if (!ShellExecuteOrReport(caption, nullptr, nullptr, P, params, dir, SW_SHOWNORMAL))
        return;
    if (DKData) DKData->SaveExecTime(FMenuID, caption, P, -1);
}

void TDKPopupMenu::RunAllInGroup(TDKMenuItem* Sender) {
    TDKMenuItem* group = Sender->Owner();
    if (!group) return;
    int n = group->Count();
    for (int i = 0; i < n && i < group->Count(); ++i) RunItem(group->GetItem(i));
}

void TDKPopupMenu::AfterExposeFolder(TDKMenuItem* Item) {
    int n = Item->Count();
    for (int i = 0; i < n; ++i) {
        TDKMenuItem* c = Item->GetItem(i);
        if (c->Folder()) continue;
        c->AddMenuItem(0, TDKData::EmptyCaption);
        c->FOnBeforExpose = [this](TDKMenuItem* s) { ExposeItemMenu(s); };
    }
    ExposeItemMenu(Item);
}

void TDKPopupMenu::FilterChanged(TDKMenuItem* Sender, const std::wstring& FilterStr) {
    // Filter sets the box's text itself; that change must not filter again.
    if (FFiltering) return;
    FFiltering = true;
    struct Reset {
        TDKPopupMenu* m;
        ~Reset() {
            if (TDKPopupMenu::Alive(m)) m->FFiltering = false;
        }
    } reset{this};
    TPresentBatch batch;
    Sender->SetCaption(FilterStr);
    FItems->Filter(FilterStr, Sender);
}
