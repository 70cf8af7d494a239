// Filtering a menu by the text of its filter box.
#include "menu/DKComponents.h"
#include "menu/MenuForm.h"
#include "SysUtils.h"

namespace {

// Only A to Z are folded: other capitals are compared as they stand.
void FoldAscii(std::wstring& s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
}

// One walk of a tree with a text: the items' visibility, and the best match as the items on the
// way to it (a child of the walked item first, the match last).
struct TFilterWalk {
    std::wstring Text;  // folded
    std::vector<TDKMenuItem*> CurrentPath;
    std::vector<TDKMenuItem*> PrefixPath;
    std::vector<TDKMenuItem*> InnerPath;
    std::wstring Folded;  // reused for every caption

    explicit TFilterWalk(const std::wstring& text) : Text(text) { FoldAscii(Text); }

    // 1-based position of the text in the caption, 0 when absent or the text is empty.
    int MatchPos(const std::wstring& caption) {
        if (Text.empty()) return 0;
        Folded.assign(caption);
        FoldAscii(Folded);
        size_t p = Folded.find(Text);
        return p == std::wstring::npos ? 0 : static_cast<int>(p) + 1;
    }

    bool Children(TDKMenuItem* item, int d, bool& AnyFiltered) {
        bool Result = Text.empty();
        AnyFiltered = false;
        if (!item->FItems) return Result;
        CurrentPath.resize(static_cast<size_t>(d));
        for (TDKMenuItem* C : *item->FItems) {
            AnyFiltered = AnyFiltered || C->FFiltered;
            int P = MatchPos(C->FCaption);
            CurrentPath[static_cast<size_t>(d - 1)] = C;
            bool CHasFiltered = false;
            bool Sub = Children(C, d + 1, CHasFiltered);
            C->FVisible = Sub || Text.empty() || !C->FFiltered || (P > 0 && !CHasFiltered);
            CurrentPath.resize(static_cast<size_t>(d));
            if (C->FVisible) {
                if (C->FFiltered && !CHasFiltered) {
                    if (P == 1 && (PrefixPath.empty() || d < static_cast<int>(PrefixPath.size())))
                        PrefixPath = CurrentPath;
                    if (P > 1 && (InnerPath.empty() || d < static_cast<int>(InnerPath.size())))
                        InnerPath = CurrentPath;
                }
                Result = Result || C->FFiltered;
            }
        }
        return Result;
    }

    const std::vector<TDKMenuItem*>& Run(TDKMenuItem* root) {
        PrefixPath.clear();
        InnerPath.clear();
        bool any = false;
        Children(root, 1, any);
        return PrefixPath.empty() ? InnerPath : PrefixPath;
    }

    // A visible filterable item without filterable children whose caption holds the text.
    bool IsMatch(TDKMenuItem* item) {
        if (!item->FVisible || !item->FFiltered || Text.empty() || MatchPos(item->FCaption) == 0) return false;
        for (int i = 0; i < item->Count(); ++i)
            if (item->GetItem(i)->FFiltered) return false;
        return true;
    }

    // The matches shown, in the order of their rows: each row before the rows of its submenu.
    void Matches(TDKMenuItem* item, std::vector<TDKMenuItem*>& out) {
        for (int i = 0; i < item->Count(); ++i) {
            TDKMenuItem* c = item->GetItem(i);
            if (!c->FVisible || !c->FFiltered) continue;
            if (IsMatch(c)) out.push_back(c);
            else Matches(c, out);
        }
    }
};

// The items on the way from root to item, item last; empty when item is not below root or is
// hidden by the filter.
std::vector<TDKMenuItem*> WayTo(TDKMenuItem* root, TDKMenuItem* item) {
    std::vector<TDKMenuItem*> way;
    for (TDKMenuItem* p = item; p != root; p = p->FOwner) {
        if (!p || !p->FVisible) return {};
        way.insert(way.begin(), p);
    }
    return way;
}

bool Shown(const TDKMenuItem* item) {
    HWND h = item->FormHandle();
    return h && IsWindowVisible(h);
}

int RowOfChild(const TDKMenuItem* item, const TDKMenuItem* child) {
    for (int r = 0; r < item->RowCount(); ++r)
        if (TMenuRowData* d = item->RowData(r); d && d->Child == child) return r;
    return -1;
}

void SelectRow(TDKMenuItem* item, int row) {
    if (!item->FListView || row < 0 || row >= item->RowCount()) return;
    // Selected already (a key that leaves the way): nothing to repaint.
    bool selected = item->SelectedRow() == row && SendMessageW(item->FListView, LVM_GETSELECTEDCOUNT, 0, 0) == 1;
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = 0;
    if (!selected) {
        SendMessageW(item->FListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lv));
        lv.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(item->FListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
    }
    // A row in a column scrolled out of the window comes in: its submenu opens beside it.
    SendMessageW(item->FListView, LVM_ENSUREVISIBLE, row, FALSE);
}

// Walks root's tree with the text and settles the way to the match: want while it still
// matches, else the best match. Submenus on the way that are not shown open as any opening
// does, which may read their folders afresh: they are run first and what they read is walked
// again, so the way and the rows come from one tree. False when the menu went meanwhile.
bool Settle(TDKMenuItem* root, TFilterWalk& walk, TDKMenuItem*& want, std::vector<TDKMenuItem*>& way) {
    TDKPopupMenu* menu = root->FPopupMenu;
    auto wanted = want ? want->LifeToken() : nullptr;
    std::vector<std::pair<TDKMenuItem*, std::shared_ptr<const std::atomic<bool>>>> exposed;
    for (;;) {
        way = walk.Run(root);
        if (wanted && *wanted && walk.IsMatch(want)) {
            std::vector<TDKMenuItem*> kept = WayTo(root, want);
            if (!kept.empty()) way = kept;
        }
        want = way.empty() ? nullptr : way.back();
        if (!Shown(root)) return true;
        TDKMenuItem* fresh = nullptr;
        for (size_t i = 0; i + 1 < way.size() && !fresh; ++i) {
            TDKMenuItem* at = way[i];
            if (Shown(at) || !at->FOnBeforExpose) continue;
            bool done = std::any_of(exposed.begin(), exposed.end(),
                                    [at](const auto& e) { return e.first == at && *e.second; });
            if (!done) fresh = at;
        }
        if (!fresh) return true;
        exposed.emplace_back(fresh, fresh->LifeToken());
        fresh->FOnBeforExpose(fresh);
        if (menu && !TDKPopupMenu::Alive(menu)) return false;
    }
}

// Fills root's window and the windows on the way in place, with their rows selected along it;
// the last item of the way is selected, not opened. Without a way the row of SearchItem is
// selected. The windows stay where they are and are not closed and opened again: one picture
// each. False when the menu went meanwhile.
bool ShowWay(TDKMenuItem* root, const std::vector<TDKMenuItem*>& way, TDKMenuItem* SearchItem) {
    TDKPopupMenu* menu = root->FPopupMenu;
    std::vector<TDKMenuItem*> opened(way.begin(), way.empty() ? way.end() : way.end() - 1);
    std::vector<std::shared_ptr<const std::atomic<bool>>> alive;  // a submenu's fill may remove items
    for (TDKMenuItem* at : opened) alive.push_back(at->LifeToken());
    TPresentBatch batch;
    menu_window::KeepOpen().assign(opened.begin(), opened.end());
    struct Forget {
        ~Forget() { menu_window::KeepOpen().clear(); }
    } forget;
    root->FillListView();

    TDKMenuItem* item = root;
    size_t reached = 0;
    for (size_t i = 0; i < way.size(); ++i) {
        if (!Shown(item)) break;
        int row = RowOfChild(item, way[i]);
        if (row < 0) break;
        SelectRow(item, row);
        if (i + 1 == way.size()) break;
        item->OpenChildAt(way[i], item->RowBounds(row), false);
        // A submenu's window may run menu code: go on only while the menu lives.
        if (menu && !TDKPopupMenu::Alive(menu)) return false;
        item = way[i];
        ++reached;
    }
    // Where the way ended early, what was kept open for it closes.
    for (size_t k = reached; k < opened.size(); ++k)
        if (*alive[k]) opened[k]->CloseWindow();
    if (way.empty()) SelectRow(root, RowOfChild(root, SearchItem));
    return true;
}

void Choose(TDKPopupMenu* menu, TDKMenuItem* match) {
    if (!menu) return;
    menu->FFilterMatch = match;
    menu->FFilterMatchAlive = match ? match->LifeToken() : nullptr;
}

TDKMenuItem* ChosenMatch(TDKPopupMenu* menu) {
    return menu->FFilterMatch && menu->FFilterMatchAlive && *menu->FFilterMatchAlive ? menu->FFilterMatch : nullptr;
}

}  // namespace

void TDKMenuItem::Filter(const std::wstring& FilterStr, TDKMenuItem* SearchItem) {
    TDKPopupMenu* menu = FPopupMenu;
    if (menu) menu->FFilterText = FilterStr;
    TFilterWalk walk(FilterStr);
    TDKMenuItem* match = nullptr;
    std::vector<TDKMenuItem*> way;
    if (!Settle(this, walk, match, way)) return;
    if (menu && menu->FItems == this) Choose(menu, match);
    if (!FForm || !FListView || !Shown(this)) return;
    if (!ShowWay(this, way, SearchItem)) return;

    int searchRow = RowOfChild(this, SearchItem);
    TMenuRowData* d = RowData(searchRow);
    if (!d || !d->Edit || !d->Edit->Handle()) return;
    HWND box = d->Edit->Handle();
    bool recolour = d->Edit->TextColor != 0;
    d->Edit->TextColor = 0;
    d->Edit->ShowsHint = FilterStr.empty();
    if (GetFocus() != box) SetFocus(box);
    if (FilterStr.empty()) {
        int len = GetWindowTextLengthW(box);
        SendMessageW(box, EM_SETSEL, len, 0);  // all selected, the caret at the start
    } else {
        if (gui::WindowText(box) != FilterStr) SetWindowTextW(box, FilterStr.c_str());
        int len = static_cast<int>(FilterStr.size());
        SendMessageW(box, EM_SETSEL, len, len);
    }
    // The box is painted into the window's picture: its new colour shows with its row.
    if (recolour) UpdateWindow(searchRow, false);
}

void TDKMenuItem::FilterBelow(const std::wstring& FilterStr) {
    TFilterWalk walk(FilterStr);
    bool any = false;
    walk.Children(this, 1, any);
}

// ---- the filter box's keys and rows that come in ----

namespace {

// The menu narrowed again by its text, the way opened to want (or the best match).
void Renarrow(TDKPopupMenu* menu, TDKMenuItem* want) {
    TDKMenuItem* root = menu->FItems;
    TDKMenuItem* box = root ? root->FindItem(TDKPopupMenu::FilterEditID) : nullptr;
    if (!box) return;
    TFilterWalk walk(menu->FFilterText);
    std::vector<TDKMenuItem*> way;
    if (!Settle(root, walk, want, way)) return;
    Choose(menu, want);
    if (Shown(root)) ShowWay(root, way, box);
}

}  // namespace

void TDKPopupMenu::FilterStep(int Delta) {
    if (FFilterText.empty() || !FItems || !Acitve()) return;
    TFilterWalk walk(FFilterText);
    std::vector<TDKMenuItem*> matches;
    walk.Matches(FItems, matches);
    if (matches.empty()) return;
    auto at = std::find(matches.begin(), matches.end(), ChosenMatch(this));
    int i = at == matches.end() ? 0 : static_cast<int>(at - matches.begin()) + Delta;
    i = std::clamp(i, 0, static_cast<int>(matches.size()) - 1);
    Renarrow(this, matches[static_cast<size_t>(i)]);
}

void TDKPopupMenu::FilterSelectMatch() {
    if (FFilterText.empty() || !Acitve()) return;
    Renarrow(this, ChosenMatch(this));
}

void TDKPopupMenu::FilterArrivals() {
    if (FFilterText.empty() || !FItems) return;
    Renarrow(this, ChosenMatch(this));
}
