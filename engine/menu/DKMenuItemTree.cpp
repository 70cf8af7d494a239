// The menu item tree: construction, children, ids, radio groups, setters.
#include <algorithm>
#include <set>
#include <stdexcept>

#include "settings/DKLog.h"
#include "menu/MenuForm.h"
#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {
std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }
}  // namespace

// ---- item ----

TDKMenuItem::TDKMenuItem() {
    bf.BlendOp = AC_SRC_OVER;
    bf.BlendFlags = 0;
    bf.SourceConstantAlpha = 255;
    bf.AlphaFormat = AC_SRC_ALPHA;
}

TDKMenuItem::~TDKMenuItem() {
    if (FLifeToken) FLifeToken->store(false);
    // The window goes first: its rows point at the children. Only an item with a window touches
    // the process's lists of windows, which belong to the GUI thread: menus are built, and their
    // spare items dropped, on threads of their own, where no item has a window.
    StopFolderWatch();
    if (FForm) {
        CloseWindow();
        DestroyWindowParts();  // a stored item's window is only hidden by CloseWindow
    }
    if (FItems) {
        for (TDKMenuItem* child : *FItems) delete child;
        FItems->clear();
    }
    PIDLPtr owned(std::exchange(FPIDL, nullptr));
    // The open window keeps pictures by handle; a new icon may get this one's number.
    if (FOwnIcon && FOwner) FOwner->FIconPictures.erase(FOwnIcon.get());
    FCurrIShellFolder.reset();
    FContextMenu.reset();
    FItems.reset();
}

std::shared_ptr<const std::atomic<bool>> TDKMenuItem::LifeToken() {
    if (!FLifeToken) FLifeToken = std::make_shared<std::atomic<bool>>(true);
    return FLifeToken;
}

void TDKMenuItem::Add(TDKMenuItem* Item) {
    if (!FItems) FItems = std::make_unique<std::vector<TDKMenuItem*>>();
    Item->FOwner = this;
    Item->FShowFileExt = FShowFileExt;
    Item->FColor = FColor;
    Item->FPopupMenu = FPopupMenu;
    ReleaseWindowResources();
    FItems->push_back(Item);
    FillListView();
}

void TDKMenuItem::Insert(int Index, TDKMenuItem* Item) {
    if (!FItems) FItems = std::make_unique<std::vector<TDKMenuItem*>>();
    if (Index < 0 || Index > static_cast<int>(FItems->size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    Item->FOwner = this;
    Item->FColor = FColor;
    Item->FPopupMenu = FPopupMenu;
    ReleaseWindowResources();
    FItems->insert(FItems->begin() + Index, Item);
    FillListView();
}

namespace {
TDKMenuItem* NewItem(int MIID, const std::wstring& Caption, TDKNotifyEvent OnClick, bool GroupTitle,
                     bool HasSplitter, bool Filtered, bool Edited, bool Checked) {
    auto* mi = new TDKMenuItem();
    mi->FMIID = MIID;
    mi->FCaption = Caption;
    mi->FGroupTitle = GroupTitle;
    mi->FHasSplitter = HasSplitter;
    mi->FFiltered = Filtered;
    mi->FEdited = Edited;
    mi->FChecked = Checked;
    mi->FDragged = false;
    mi->FOnClick = std::move(OnClick);
    return mi;
}

// Links a new item with link(item). Once it is in the owner's child list the list owns it, also
// when the refill of the owner's window throws afterwards.
template <class F>
TDKMenuItem* Adopt(TDKMenuItem* owner, std::unique_ptr<TDKMenuItem> mi, F&& link) {
    TDKMenuItem* raw = mi.get();
    try {
        link(raw);
    } catch (...) {
        for (int i = 0; i < owner->Count(); ++i)
            if (owner->GetItem(i) == raw) mi.release();
        throw;
    }
    return mi.release();
}
}  // namespace

TDKMenuItem* TDKMenuItem::AddMenuItem(int MIID, const std::wstring& Caption, TDKNotifyEvent OnClick, bool GroupTitle,
                                      bool HasSplitter, bool Filtered, bool Edited, bool Checked) {
    std::unique_ptr<TDKMenuItem> mi(
        NewItem(MIID, Caption, std::move(OnClick), GroupTitle, HasSplitter, Filtered, Edited, Checked));
    return Adopt(this, std::move(mi), [this](TDKMenuItem* item) { Add(item); });
}

TDKMenuItem* TDKMenuItem::InsertMenuItem(int Index, int MIID, const std::wstring& Caption, TDKNotifyEvent OnClick,
                                         bool GroupTitle, bool HasSplitter, bool Filtered, bool Edited,
                                         bool Checked) {
    std::unique_ptr<TDKMenuItem> mi(
        NewItem(MIID, Caption, std::move(OnClick), GroupTitle, HasSplitter, Filtered, Edited, Checked));
    return Adopt(this, std::move(mi), [this, Index](TDKMenuItem* item) { Insert(Index, item); });
}

void TDKMenuItem::Delete(int aMIID) {
    if (aMIID == -1) {
        try {
            if (!FOwner) return;
            // Id 0 is shared by many items: take a mark of our own so the owner finds us.
            if (FMIID == 0) FMIID = -2;
            FOwner->Delete(FMIID);
        } catch (const std::exception& e) {
            Log(4, L"(c21) " + What(e));
        }
        return;
    }
    try {
        if (!FItems) return;
        auto it = std::find_if(FItems->begin(), FItems->end(), [&](TDKMenuItem* c) { return c->FMIID == aMIID; });
        if (it == FItems->end()) return;
        TDKMenuItem* child = *it;
        ReleaseWindowResources();
        FItems->erase(it);
        child->CloseWindow();
        child->FOwner = nullptr;
        delete child;
        FillListView();
    } catch (const std::exception& e) {
        Log(4, L"(c22) " + What(e));
    }
}

void TDKMenuItem::Delete(TDKMenuItem* Item) {
    if (!Item || Item->FOwner != this || !FItems) return;
    auto it = std::find(FItems->begin(), FItems->end(), Item);
    if (it == FItems->end()) return;
    ReleaseWindowResources();
    FItems->erase(it);
    Item->CloseWindow();
    Item->FOwner = nullptr;
    delete Item;
    FillListView();
}

void TDKMenuItem::DeleteItems(int FirstID, int LastID) {
    TDKMenuItem* first = FindItem(FirstID);
    if (!first) return;
    int p = first->Index();
    // Walks forward to LastID; a run with no LastID after FirstID stops at the end of the list
    // rather than deleting past it.
    while (p < Count()) {
        TDKMenuItem* c = GetItem(p);
        bool last = c->FMIID == LastID;
        c->Delete(-1);
        if (last) break;
        if (p < Count() && GetItem(p) == c) break;  // the removal failed; do not spin
    }
}

void TDKMenuItem::Clear() {
    while (Count() > 0) {
        TDKMenuItem* first = GetItem(0);
        first->Delete(-1);
        if (Count() > 0 && GetItem(0) == first) break;  // removal failed
    }
}

void TDKMenuItem::Exchange(int Index1, int Index2) {
    if (Index1 < 0 || Index2 < 0 || Index1 >= Count() || Index2 >= Count())
        throw std::out_of_range("List index out of bounds");
    ReleaseWindowResources();
    std::swap((*FItems)[Index1], (*FItems)[Index2]);
    FillListView();
}

int TDKMenuItem::Index() const {
    if (!FOwner || !FOwner->FItems) return -1;
    auto& v = *FOwner->FItems;
    auto it = std::find(v.begin(), v.end(), this);
    return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TDKMenuItem* TDKMenuItem::GetItem(int Index) const {
    if (!FItems) return nullptr;
    if (Index < 0 || Index >= static_cast<int>(FItems->size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    return (*FItems)[Index];
}

TDKMenuItem* TDKMenuItem::FindItem(const std::wstring& Caption) const {
    if (!FItems) return nullptr;
    for (TDKMenuItem* c : *FItems)
        if (c->FCaption == Caption) return c;
    return nullptr;
}

TDKMenuItem* TDKMenuItem::FindItem(int MIID) const {
    if (!FItems) return nullptr;
    for (TDKMenuItem* c : *FItems)
        if (c->FMIID == MIID) return c;
    return nullptr;
}

int TDKMenuItem::GetRadioBox(int FirstID, int LastID) const {
    TDKMenuItem* first = FindItem(FirstID);
    if (!first) return -1;
    for (int i = first->Index(); i < Count(); ++i) {
        TDKMenuItem* c = (*FItems)[i];
        if (c->FChecked) return i;
        if (c->FMIID == LastID) break;
    }
    return -1;
}

void TDKMenuItem::SetRadioBox(int FirstID, int LastID, int SelectedID) {
    TDKMenuItem* first = FindItem(FirstID);
    if (!first) return;
    for (int i = first->Index(); i < Count(); ++i) {
        TDKMenuItem* c = (*FItems)[i];
        c->SetChecked(c->FMIID == SelectedID);
        if (c->FMIID == LastID) break;
    }
}

bool TDKMenuItem::IsInside(const TDKMenuItem* Item) const {
    for (const TDKMenuItem* p = this; p; p = p->FOwner)
        if (p == Item) return true;
    return false;
}

void TDKMenuItem::SetCaption(const std::wstring& v) {
    try {
        FCaption = v;
        if (FOwner && FOwner->FForm && FOwner->FListView) {
            int index = Index();
            for (int r = 0; r < FOwner->RowCount(); ++r) {
                TMenuRowData* d = FOwner->RowData(r);
                if (d && d->ItemIndex == index) {
                    // The same text again (the filter box hands on what it just set) changes nothing.
                    if (d->Text == FCaption) break;
                    d->Text = FCaption;
                    FOwner->UpdateWindow(r, false);
                    break;
                }
            }
        }
    } catch (const std::exception& e) {
        Log(4, L"(c10) / " + v + L" / " + What(e));
    }
}

void TDKMenuItem::SetChecked(bool v) {
    FChecked = v;
    if (FOwner) FOwner->UpdateWindow(-1, false);
}

void TDKMenuItem::SetIcon(HICON v) {
    FIcon = v;
    if (FOwner) FOwner->UpdateWindow(-1, false);
}

void TDKMenuItem::TakeIcon(gui::IconHandle Icon) {
    // The open window keeps pictures by handle; a new icon may get the old one's number.
    if (FOwnIcon && FOwner) FOwner->FIconPictures.erase(FOwnIcon.get());
    FOwnIcon = std::move(Icon);
    SetIcon(FOwnIcon.get());
}

void TDKMenuItem::SetEdited(bool v) {
    FEdited = v;
    if (FOwner) {
        FOwner->CreateEditBoxes();
        FOwner->UpdateWindow(-1, false);
    }
}

int TDKMenuItem::MenuIdForLog() const { return FPopupMenu ? FPopupMenu->FMenuID : 0; }
