// Filtering a menu by the text of its filter box.
#include "DKComponents.h"
#include "MenuForm.h"

namespace {

struct TFilterState {
    std::wstring Text;  // folded
    TDKMenuItem* SearchItem = nullptr;
    std::vector<int> CurrentPath;
    std::vector<int> PrefixPath;
    std::vector<int> InnerPath;
    int SearchRow = -1;
    std::wstring Folded;  // reused for every caption
};

// Only A to Z are folded: other capitals are compared as they stand.
void FoldAscii(std::wstring& s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
}

// 1-based position of the text in the caption, 0 when absent or the text is empty.
int MatchPos(const std::wstring& caption, TFilterState& st) {
    if (st.Text.empty()) return 0;
    st.Folded.assign(caption);
    FoldAscii(st.Folded);
    size_t p = st.Folded.find(st.Text);
    return p == std::wstring::npos ? 0 : static_cast<int>(p) + 1;
}

bool FilterChildren(TDKMenuItem* item, int d, bool& AnyFiltered, TFilterState& st) {
    bool Result = st.Text.empty();
    AnyFiltered = false;
    if (!item->FItems) return Result;
    st.CurrentPath.resize(static_cast<size_t>(d));
    int visible = 0;
    for (TDKMenuItem* C : *item->FItems) {
        AnyFiltered = AnyFiltered || C->FFiltered;
        int P = MatchPos(C->FCaption, st);
        st.CurrentPath[static_cast<size_t>(d - 1)] = visible;
        bool CHasFiltered = false;
        bool Sub = FilterChildren(C, d + 1, CHasFiltered, st);
        C->FVisible = Sub || st.Text.empty() || !C->FFiltered || (P > 0 && !CHasFiltered);
        st.CurrentPath.resize(static_cast<size_t>(d));
        if (C->FVisible) {
            ++visible;
            if (C->FFiltered && !CHasFiltered) {
                if (P == 1 && (st.PrefixPath.empty() || d < static_cast<int>(st.PrefixPath.size())))
                    st.PrefixPath = st.CurrentPath;
                if (P > 1 && (st.InnerPath.empty() || d < static_cast<int>(st.InnerPath.size())))
                    st.InnerPath = st.CurrentPath;
            }
            Result = Result || C->FFiltered;
        }
        if (C == st.SearchItem) st.SearchRow = visible - 1;
    }
    return Result;
}

void SelectRow(TDKMenuItem* item, int row) {
    if (!item->FListView || row < 0 || row >= item->RowCount()) return;
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = 0;
    SendMessageW(item->FListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lv));
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(item->FListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
    // A row in a column scrolled out of the window comes in: its submenu opens beside it.
    SendMessageW(item->FListView, LVM_ENSUREVISIBLE, row, FALSE);
}

// The child shown on a row of the item's window once it is filled: the row-th visible one.
TDKMenuItem* VisibleChild(TDKMenuItem* item, int row) {
    for (int i = 0; i < item->Count(); ++i) {
        TDKMenuItem* c = item->GetItem(i);
        if (c->FVisible && row-- == 0) return c;
    }
    return nullptr;
}

bool Shown(const TDKMenuItem* item) {
    HWND h = item->FormHandle();
    return h && IsWindowVisible(h);
}

}  // namespace

void TDKMenuItem::Filter(const std::wstring& FilterStr, TDKMenuItem* SearchItem) {
    TFilterState st;
    st.Text = FilterStr;
    FoldAscii(st.Text);
    st.SearchItem = SearchItem;
    bool any = false;
    FilterChildren(this, 1, any, st);
    if (!FForm || !FListView) return;

    TDKPopupMenu* menu = FPopupMenu;
    const std::vector<int>& Path = st.PrefixPath.empty() ? st.InnerPath : st.PrefixPath;
    // The submenus along the path stay open through the refills and are filled again in place,
    // rather than closed and opened: one picture each, no window hidden and shown again.
    std::vector<TDKMenuItem*> opened;
    std::vector<std::shared_ptr<const std::atomic<bool>>> alive;  // a submenu's fill may remove items
    for (TDKMenuItem* at = this; opened.size() + 1 < Path.size();) {
        at = VisibleChild(at, Path[opened.size()]);
        if (!at) break;
        opened.push_back(at);
        alive.push_back(at->LifeToken());
    }
    TPresentBatch batch;
    menu_window::KeepOpen().assign(opened.begin(), opened.end());
    struct Forget {
        ~Forget() { menu_window::KeepOpen().clear(); }
    } forget;
    FillListView();

    TDKMenuItem* item = this;
    size_t reached = 0;
    for (size_t i = 0; i < Path.size(); ++i) {
        if (!Shown(item)) break;
        SelectRow(item, Path[i]);
        if (i + 1 == Path.size()) break;
        RECT r{};
        TDKMenuItem* child = item->GetSelectedMi(&r);
        if (!child) break;
        item->OpenChildAt(child, r);
        // A submenu filled on demand may run menu code: go on only while the menu lives.
        if (menu && !TDKPopupMenu::Alive(menu)) return;
        item = child;
        if (reached < opened.size() && opened[reached] == child) ++reached;
    }
    // Where the way ended early, what was kept open for it closes.
    for (size_t k = reached; k < opened.size(); ++k)
        if (*alive[k]) opened[k]->CloseWindow();
    if (Path.empty()) SelectRow(this, st.SearchRow);

    TMenuRowData* d = RowData(st.SearchRow);
    if (!d || !d->Edit || !d->Edit->Handle || d->ItemIndex < 0 || d->ItemIndex >= Count() ||
        (*FItems)[d->ItemIndex] != SearchItem)
        return;
    HWND box = d->Edit->Handle;
    d->Edit->TextColor = 0;
    d->Edit->ShowsHint = FilterStr.empty();
    SetFocus(box);
    if (FilterStr.empty()) {
        int len = GetWindowTextLengthW(box);
        SendMessageW(box, EM_SETSEL, len, 0);  // all selected, the caret at the start
    } else {
        if (gui::WindowText(box) != FilterStr) SetWindowTextW(box, FilterStr.c_str());
        int len = static_cast<int>(FilterStr.size());
        SendMessageW(box, EM_SETSEL, len, len);
    }
    InvalidateRect(box, nullptr, TRUE);
}
