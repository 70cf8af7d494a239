// The menu window of an item: creation, rows, layout, drawing resources, closing.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <unordered_map>

#include "settings/DKLog.h"
#include "Application.h"
#include "bar/BarLayout.h"
#include "settings/Configs.h"
#include "util/DKUtils.h"
#include "Handles.h"
#include "menu/MenuForm.h"
#include "menu/MenuLayout.h"
#include "menu/ShellIcon.h"
#include "Subclass.h"
#include "SysUtils.h"

namespace menu_window {

namespace {
int g_depth = 0;
std::vector<std::function<void()>>& Pending() {
    static std::vector<std::function<void()>> v;
    return v;
}
std::map<HWND, TDKMenuItem*>& Lists() {
    static std::map<HWND, TDKMenuItem*> m;
    return m;
}
}  // namespace

HandlerScope::HandlerScope() { ++g_depth; }

HandlerScope::~HandlerScope() {
    if (--g_depth == 0) {
        // Freeing may run handlers of its own (destroying windows); those add to the list.
        ++g_depth;
        TrimKeptWindows();
        while (!Pending().empty()) {
            auto work = std::move(Pending());
            Pending().clear();
            for (auto& f : work) f();
        }
        --g_depth;
    }
}

int HandlerDepth() { return g_depth; }

void DeferFree(std::function<void()> free) {
    if (g_depth > 0) Pending().push_back(std::move(free));
    else free();
}

LRESULT ListDirect(HWND list, UINT msg, WPARAM wp, LPARAM lp) { return gui::CallOriginal(list, msg, wp, lp); }

std::vector<const TDKMenuItem*>& KeepOpen() {
    static std::vector<const TDKMenuItem*> v;
    return v;
}

void RegisterList(HWND list, TDKMenuItem* item) { Lists()[list] = item; }
void UnregisterList(HWND list) { Lists().erase(list); }

std::vector<TDKMenuItem*> ShownWindows() {
    std::vector<TDKMenuItem*> v;
    for (const auto& [list, item] : Lists())
        if (item->Form() && item->Form()->Visible()) v.push_back(item);
    return v;
}

}  // namespace menu_window

using namespace menu_window;

TDKMenuItem* MenuItemOfList(HWND hwnd) {
    auto it = Lists().find(hwnd);
    return it == Lists().end() ? nullptr : it->second;
}

namespace {
std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

const gui::WindowClass kFormClass{L"TDKMenuForm", CS_DBLCLKS};

// The list's font: "Times New Roman", 11 points; captions are measured with it.
HFONT ListFont() {
    static HFONT font = [] {
        int h = -MulDiv(11, GetDeviceCaps(gui::WindowDC(nullptr).get(), LOGPIXELSY), 72);
        return CreateFontW(h, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH, L"Times New Roman");
    }();
    return font;
}

// Menu windows lie in the work area and below the bar. The bar's height counts even while it
// is slid away (auto-hide leaves the work area's top at 0): it slides back over the menus' top.
menu_layout::Area MenuArea() {
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return menu_layout::Area{static_cast<int>(work.left), std::max(static_cast<int>(work.top), BAR_HEIGHT),
                             static_cast<int>(work.right), static_cast<int>(work.bottom)};
}

// Widths of captions in the list's font, measured once: a memory DC needs no round trip to
// the server as the screen's DC does, and most captions are measured again at each fill.
int CaptionWidth(const std::wstring& s) {
    static HDC dc = [] {
        HDC d = CreateCompatibleDC(nullptr);
        SelectObject(d, ListFont());
        return d;
    }();
    static std::unordered_map<std::wstring, int> widths;
    auto it = widths.find(s);
    if (it != widths.end()) return it->second;
    if (widths.size() >= 20000) widths.clear();  // a few big folders' names
    SIZE size{};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    widths.emplace(s, static_cast<int>(size.cx));
    return static_cast<int>(size.cx);
}
// Type-ahead of the list: the first row from iStart whose text starts with the typed text.
LRESULT FindRowByPrefix(const TDKMenuItem* item, const NMLVFINDITEMW& find) {
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    int n = item->RowCount(), len = lstrlenW(find.lvfi.psz);
    if (n <= 0 || len == 0) return -1;
    int start = std::clamp(find.iStart, 0, n - 1);
    int span = (find.lvfi.flags & LVFI_WRAP) ? n : n - start;
    for (int k = 0; k < span; ++k) {
        int r = (start + k) % n;
        const std::wstring& t = item->RowData(r)->Text;
        if (static_cast<int>(t.size()) >= len &&
            CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, t.c_str(), len, find.lvfi.psz, len) == CSTR_EQUAL)
            return r;
    }
    return -1;
}

// A list in list mode keeps room below its rows (for a horizontal scroll bar); a window of
// `height` holding `perColumn` rows a column needs a list this much taller. The room is learnt
// from the first list that had to grow, so later lists are made at their height at once.
int g_listRoom = -1;
int ListExtra(int height, int perColumn) {
    return g_listRoom < 0 ? 0 : std::clamp(g_listRoom + perColumn * menu_layout::RowPitch - height, 0, 40);
}

// Hidden windows kept for their next opening, the longest hidden last; beyond the limit the
// oldest goes, so a long session holds a few pictures and not one per submenu ever opened.
constexpr size_t kKeptWindows = 32;
std::vector<TDKMenuItem*>& KeptWindows() {
    static std::vector<TDKMenuItem*> v;
    return v;
}
void Unkeep(TDKMenuItem* item) {
    auto& v = KeptWindows();
    v.erase(std::remove(v.begin(), v.end(), item), v.end());
}

// Work on windows and rows under way (a release, a fill, a closing). A kept window is destroyed
// only when none is: a window closed inside a change of the tree would otherwise push out the
// oldest kept one there and then, which may be the very item whose rows are being changed
// further up (a kept window keeps its rows, so a change to its item closes what its rows
// opened) or the list whose click runs the change.
int g_treeWork = 0;
struct TreeWork {
    TreeWork() { ++g_treeWork; }
    ~TreeWork() {
        if (--g_treeWork == 0 && menu_window::HandlerDepth() == 0) TrimKeptWindows();
    }
    TreeWork(const TreeWork&) = delete;
    TreeWork& operator=(const TreeWork&) = delete;
};
}  // namespace

void menu_window::TrimKeptWindows() {
    static bool trimming = false;
    if (g_treeWork > 0 || trimming) return;
    trimming = true;
    auto& kept = KeptWindows();
    while (kept.size() > kKeptWindows) {
        TDKMenuItem* oldest = kept.back();
        kept.pop_back();
        oldest->DestroyWindowParts();
    }
    trimming = false;
}

LRESULT TMenuForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    HandlerScope scope;
    switch (msg) {
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        TDKMenuItem* item = MenuItemOfList(hdr->hwndFrom);
        if (!item || item != Item) break;
        // The list holds no rows of its own: it asks for them, even while they are filled.
        if (hdr->code == LVN_GETDISPINFOW) {
            auto* di = reinterpret_cast<NMLVDISPINFOW*>(lp);
            TMenuRowData* d = item->RowData(di->item.iItem);
            if ((di->item.mask & LVIF_TEXT) && di->item.pszText && di->item.cchTextMax > 0)
                lstrcpynW(di->item.pszText, d ? d->Text.c_str() : L"", di->item.cchTextMax);
            if (di->item.mask & LVIF_IMAGE) di->item.iImage = 0;
            if (di->item.mask & LVIF_PARAM) di->item.lParam = reinterpret_cast<LPARAM>(d);
            return 0;
        }
        if (hdr->code == LVN_ODFINDITEMW) return FindRowByPrefix(item, *reinterpret_cast<NMLVFINDITEMW*>(lp));
        // A kept window is closed: its list may still have the focus or finish a click that
        // closed it (selecting the pressed row), but nothing it reports acts on the menu.
        if (Filling || Kept) break;
        switch (hdr->code) {
        case NM_CLICK:
            // On Windows the list took the button-up itself: the row's release comes from here.
            PressEndedAtCursor(item, TMouseButton::mbLeft);
            if (MenuItemOfList(hdr->hwndFrom) == item) item->ListClick();
            return 0;
        case NM_RCLICK:
            PressEndedAtCursor(item, TMouseButton::mbRight);
            return 0;
        case NM_DBLCLK:
            item->ListDblClick();
            return 0;
        case LVN_KEYDOWN: {
            auto* kd = reinterpret_cast<NMLVKEYDOWN*>(lp);
            WORD key = kd->wVKey;
            item->ListKeyDown(key, KeyShift());
            return 0;
        }
        case LVN_ITEMCHANGED: {
            auto* nm = reinterpret_cast<NMLISTVIEW*>(lp);
            if (!(nm->uChanged & LVIF_STATE)) return 0;
            bool was = nm->uOldState & LVIS_SELECTED, is = nm->uNewState & LVIS_SELECTED;
            if (nm->iItem < 0) {
                // A change of every row (a list without rows of its own reports one): the row
                // shown as selected is the one that lost it.
                if (!is && item->FSelectedShown >= 0)
                    item->ListSelectItem(item->FSelectedShown, false);
                return 0;
            }
            if (was != is) item->ListSelectItem(nm->iItem, is);
            return 0;
        }
        case LVN_BEGINDRAG:
            return 0;  // drags start from the mouse-move handler
        case LVN_GETINFOTIPW: {
            auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lp);
            std::wstring text = item->ListInfoTip(tip->iItem);
            if (tip->pszText && tip->cchTextMax > 0) lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
            return 0;
        }
        }
        break;
    }
    case WM_ACTIVATE:
        // A window being hidden for later use is closed, not left for another window.
        if (LOWORD(wp) == WA_INACTIVE && Item && !Hiding) Item->FormDeactivate();
        else if (LOWORD(wp) != WA_INACTIVE && Item && Item->FListView) SetFocus(Item->FListView);
        return 0;
    case WM_SETFOCUS:
        if (Item && Item->FListView) SetFocus(Item->FListView);
        return 0;
    }
    return DefaultHandler(msg, wp, lp);
}

TMenuForm* TDKMenuItem::Form() const { return FForm && !FForm->Kept ? FForm.get() : nullptr; }

HWND TDKMenuItem::FormHandle() const { return FForm && !FForm->Kept ? FForm->Handle() : nullptr; }

void FreeKeptWindows(const TDKMenuItem* Root) {
    std::vector<TDKMenuItem*> mine;
    for (TDKMenuItem* item : KeptWindows())
        if (item->IsInside(Root)) mine.push_back(item);
    for (TDKMenuItem* item : mine) item->DestroyWindowParts();
}

// ---- rows ----

int TDKMenuItem::RowCount() const { return FListView ? static_cast<int>(FRows.size()) : 0; }

TMenuRowData* TDKMenuItem::RowData(int Row) const {
    if (!FListView || Row < 0 || Row >= static_cast<int>(FRows.size())) return nullptr;
    return FRows[static_cast<size_t>(Row)].get();
}

std::wstring TDKMenuItem::RowText(int Row) const {
    TMenuRowData* d = RowData(Row);
    return d ? d->Text : std::wstring();
}

RECT TDKMenuItem::RowBounds(int Row) const {
    if (Row >= 0 && Row < static_cast<int>(FBoundsCache.size())) return FBoundsCache[Row];
    RECT r{};
    r.left = LVIR_BOUNDS;
    if (FListView) SendMessageW(FListView, LVM_GETITEMRECT, Row, reinterpret_cast<LPARAM>(&r));
    return r;
}

RECT TDKMenuItem::RowIconRect(int Row) const {
    if (Row >= 0 && Row < static_cast<int>(FIconTopCache.size())) {
        RECT b = FBoundsCache[Row];
        return RECT{b.left, FIconTopCache[Row], b.left + 1, FIconTopCache[Row] + 20};
    }
    RECT r{};
    r.left = LVIR_ICON;
    if (FListView) SendMessageW(FListView, LVM_GETITEMRECT, Row, reinterpret_cast<LPARAM>(&r));
    return r;
}

void TDKMenuItem::ScrollColumns(int Columns) {
    if (!FListView || FBoundsCache.empty() || Columns == 0 || FColumnWidth <= 0) return;
    const int rows = static_cast<int>(FBoundsCache.size()), W = FColumnWidth;
    int perColumn = 1;
    while (perColumn < rows && FBoundsCache[perColumn].left == FBoundsCache[0].left) ++perColumn;
    RECT client{}, first{LVIR_BOUNDS, 0, 0, 0};
    GetClientRect(FListView, &client);
    ListDirect(FListView, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    const int shown = std::max(1, static_cast<int>(client.right) / W), total = (rows + perColumn - 1) / perColumn;
    const int now = std::max(0, -static_cast<int>(first.left) / W);
    const int target = std::clamp(now + Columns, 0, std::max(0, total - shown));
    if (target != now) {
        // The list scrolls by as little as brings a row in: the top row of the column that is
        // to be the last shown (going on) or the first (going back).
        int column = target > now ? target + shown - 1 : target;
        ListDirect(FListView, LVM_ENSUREVISIBLE, std::min(rows - 1, column * perColumn), FALSE);
    }
    FollowListScroll();
}

void TDKMenuItem::FollowListScroll() {
    if (!FListView || FBoundsCache.empty()) return;
    RECT first{LVIR_BOUNDS, 0, 0, 0};
    ListDirect(FListView, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    int dx = first.left - FBoundsCache[0].left;
    if (dx == 0) return;
    // In list mode every row moves alike.
    for (RECT& b : FBoundsCache) OffsetRect(&b, dx, 0);
    FColumnIndex = std::max(0, -static_cast<int>(first.left) / std::max(1, FColumnWidth));
    // Submenus hang off rows that moved.
    CloseChildWindows();
    for (auto& d : FRows) {
        if (!d->Edit || !d->Edit->Handle()) continue;
        RECT e{};
        GetWindowRect(d->Edit->Handle(), &e);
        MapWindowPoints(nullptr, FListView, reinterpret_cast<POINT*>(&e), 2);
        SetWindowPos(d->Edit->Handle(), nullptr, e.left + dx, e.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!FForm || !FForm->Visible()) return;  // a closing window is painted at its next fill
    PaintAll();
    Present(nullptr);
}

int TDKMenuItem::SelectedRow() const {
    if (!FListView) return -1;
    return static_cast<int>(SendMessageW(FListView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The rows a window is to show and where: children, texts cut to the column, the window's
// place and size. Made before the window exists, so a new one is made at its size.
struct TRowsPlan {
    std::vector<std::unique_ptr<TMenuRowData>> Rows;
    int W = menu_layout::MinColumnWidth;
    int Left = 0, Top = 0, Width = menu_layout::MinColumnWidth, Height = 17;
    bool Leftward = false;
    int PerColumn() const { return std::max(1, (Height - 17) / menu_layout::RowPitch); }
    int ShownColumns() const { return std::max(1, Width / std::max(1, W)); }
};

// ---- ShowAt ----

void TDKMenuItem::ShowAt(int X, int Y, bool Expose) {
    if (!FItems) return;
    int id = MenuIdForLog();
    const menu_layout::Area area = MenuArea();
    try {
        if (Expose && FOnBeforExpose) {
            FOnBeforExpose(this);
            // Entries read afresh while the menu is narrowed are narrowed too.
            if (FPopupMenu && !FPopupMenu->FFilterText.empty() && TDKPopupMenu::Alive(FPopupMenu))
                FilterBelow(FPopupMenu->FFilterText);
        }
        if (!FItems) return;
        int v = 0;
        for (TDKMenuItem* c : *FItems)
            if (c->FVisible) ++v;
        Y = menu_layout::FitTop(Y, v, area);
    } catch (const std::exception& e) {
        Log(4, L"(c8) /" + std::to_wstring(id) + L"/ " + What(e));
    }
    TRowsPlan plan = PlanRows(X, Y, area);
    if (!FForm) {
        try {
            FForm = std::make_unique<TMenuForm>(this);
            // Layered from the start and at its size: each change later costs a new surface.
            if (!FForm->Create(kFormClass, L"f" + std::to_wstring(id), WS_POPUP, WS_EX_LAYERED, plan.Left, plan.Top,
                               plan.Width, plan.Rows.empty() ? plan.Height : plan.Height + 1))
                throw std::runtime_error("the menu window cannot be created");
            HWND h = FForm->Handle();
            LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
            SetLastError(0);
            if (!(ex & WS_EX_LAYERED) && SetWindowLongW(h, GWL_EXSTYLE, ex | WS_EX_LAYERED) == 0 && GetLastError() != 0)
                MessageBoxW(nullptr, gui::SysErrorMessage(GetLastError()).c_str(), L"Orvane", MB_OK);
            FImageList.reset(ImageList_Create(1, 20, ILC_COLOR32, 0, 1));
        } catch (const std::exception& e) {
            Log(4, L"(c14) /" + std::to_wstring(id) + L"/ " + What(e));
        }
        try {
            if (FForm && FForm->Handle()) {
                HWND h = FForm->Handle();
                // Owner data: the list keeps only the number of rows; their texts are ours.
                FListView = CreateWindowExW(0, WC_LISTVIEWW, (L"lv" + std::to_wstring(id)).c_str(),
                                            WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | LVS_LIST | LVS_SINGLESEL |
                                                LVS_SHAREIMAGELISTS | LVS_SHOWSELALWAYS | LVS_OWNERDATA,
                                            0, 0, plan.Width, plan.Height + ListExtra(plan.Height, plan.PerColumn()),
                                            h, nullptr, GetModuleHandleW(nullptr), nullptr);
                if (!FListView) throw std::runtime_error("the menu list cannot be created");
                SendMessageW(FListView, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(FImageList.get()));
                SendMessageW(FListView, WM_SETFONT, reinterpret_cast<WPARAM>(ListFont()), FALSE);
                RegisterList(FListView, this);
                gui::Subclass(FListView, ListProc, reinterpret_cast<DWORD_PTR>(this));
            }
            FHoldMouseTimer = std::make_unique<gui::Timer>(500);
            FHoldMouseTimer->OnTimer = [this] {
                HandlerScope s;
                HoldMouseTimerTick();
            };
            FRotateIconTimer = std::make_unique<gui::Timer>(40);
            FRotateIconTimer->SetShared(true);  // every window's turn on one wake-up
            FRotateIconTimer->OnTimer = [this] {
                HandlerScope s;
                RotateIconTimerTick();
            };
            FUpPopupMenu.reset(CreatePopupMenu());
        } catch (const std::exception& e) {
            Log(4, L"(c3) /" + std::to_wstring(id) + L"/ " + What(e));
        }
    }
    try {
        if (FForm && FForm->Handle()) {
            Unkeep(this);
            FForm->Kept = false;
            bool wasShown = IsWindowVisible(FForm->Handle()) != FALSE;
            // The window gets its picture before it shows: a kept one never shows its old one.
            FillRows(&plan);
            if (FForm && FForm->Handle() && !IsWindowVisible(FForm->Handle())) ShowWindow(FForm->Handle(), SW_SHOWNA);
            // A window filled again where it stands keeps its watcher: each new one is a thread,
            // and the filter fills the windows along its path again at every key.
            if (IsFile() && Folder() && !(wasShown && FMonDirLink)) StartFolderWatch();
        }
    } catch (const std::exception& e) {
        Log(4, L"(c4) /" + std::to_wstring(id) + L"/ " + What(e));
    }
}

// ---- filling ----

void TDKMenuItem::FillListView() {
    if (!FForm || !FListView || !FForm->Visible()) return;
    FillRows();
}

void TDKMenuItem::CloseChildWindows() { CloseWindowsBelow(true); }

// The open windows below this item, deepest first: found among the windows there are, not by
// visiting every item below (a Start Menu holds thousands, and every selection closes).
void TDKMenuItem::CloseWindowsBelow(bool SparePath, const TDKMenuItem* Spared) {
    TreeWork work;
    const auto& keep = KeepOpen();
    std::vector<std::pair<int, TDKMenuItem*>> below;
    for (const auto& [list, item] : Lists()) {
        if (item == this || !item->FForm || !item->FForm->Visible()) continue;
        int depth = 0;
        bool inside = false, spared = false;
        for (const TDKMenuItem* p = item; p && !inside; p = p->FOwner, ++depth) {
            spared = spared || p == Spared || (SparePath && std::find(keep.begin(), keep.end(), p) != keep.end());
            inside = p->FOwner == this;
        }
        if (inside && !spared) below.emplace_back(depth, item);
    }
    std::stable_sort(below.begin(), below.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& [depth, item] : below) item->CloseOwnWindow();
}

void TDKMenuItem::SpareRowEdits() {
    for (auto& d : FRows)
        if (d->Edit) FSpareEdits.push_back(std::move(d->Edit));
}

void TDKMenuItem::DropEdits(std::vector<std::unique_ptr<TMenuEdit>>& Edits) {
    for (auto& e : Edits) {
        if (!e) continue;
        // An edit box may be inside its own handler: it goes when that handler is done.
        std::shared_ptr<TMenuEdit> old(e.release());
        ShowWindow(old->Handle(), SW_HIDE);
        DeferFree([old] {});
    }
    Edits.clear();
}

bool TDKMenuItem::OpeningRow(RECT& Row) const {
    const TMenuForm* form = FOwner ? FOwner->Form() : nullptr;
    if (!form || !form->Handle() || !IsWindowVisible(form->Handle())) return false;
    for (size_t r = 0; r < FOwner->FRows.size(); ++r) {
        if (FOwner->FRows[r]->Child != this) continue;
        RECT w = form->BoundsRect();
        Row = FOwner->RowBounds(static_cast<int>(r));
        OffsetRect(&Row, w.left, w.top);
        return true;
    }
    return false;
}

TRowsPlan TDKMenuItem::PlanRows(int Left, int Top, const menu_layout::Area& Area) const {
    TRowsPlan p;
    std::vector<int> widths;
    if (FItems) {
        for (size_t i = 0; i < FItems->size(); ++i) {
            TDKMenuItem* c = (*FItems)[i];
            if (!c->FVisible) continue;
            auto data = std::make_unique<TMenuRowData>();
            data->ItemIndex = static_cast<int>(i);
            data->Child = c;
            data->Text = c->FCaption;
            widths.push_back(CaptionWidth(c->FCaption));
            p.Rows.push_back(std::move(data));
        }
    }
    // A submenu is placed by the row that opened it, wherever it was asked (a refill asks for
    // where it stands, which may be left of the row).
    RECT row{};
    menu_layout::Opening from;
    bool opened = OpeningRow(row);
    if (opened) from = menu_layout::Opening{static_cast<int>(row.left), static_cast<int>(row.right), FOwner->FOpensLeft};
    p.W = std::min(menu_layout::ColumnWidth(widths), menu_layout::ColumnCap(Area, opened ? &from : nullptr));
    for (size_t r = 0; r < p.Rows.size(); ++r)
        if (widths[r] > p.W - 42) p.Rows[r]->Text = menu_layout::CutCaption(p.Rows[r]->Text, p.W, CaptionWidth);
    auto size = menu_layout::SizeWindow(static_cast<int>(p.Rows.size()), Top, Area);
    auto place = menu_layout::Place(Left, p.W, size.Columns, Area, opened ? &from : nullptr);
    p.Top = Top;
    p.Height = size.Height;
    p.Left = place.Left;
    p.Width = place.Columns * p.W;
    p.Leftward = place.Leftward;
    return p;
}

void TDKMenuItem::FillRows(TRowsPlan* Plan) {
    if (!FForm || !FListView) return;
    TreeWork work;
    int W = menu_layout::MinColumnWidth, width = W, height = 17, left = 0, top = 0;
    bool unchanged = false;
    try {
        FForm->Filling = true;
        CloseChildWindows();
        if (!FForm || !FListView) return;
        TRowsPlan own;
        RECT wr = FForm->BoundsRect();
        if (!Plan) {
            own = PlanRows(wr.left, wr.top, MenuArea());
            Plan = &own;
        }
        std::vector<std::unique_ptr<TMenuRowData>>& rows = Plan->Rows;
        W = Plan->W;
        int row = static_cast<int>(rows.size());
        bool sameRows = row == static_cast<int>(FRows.size()) && W == FColumnWidth;
        for (int r = 0; sameRows && r < row; ++r)
            sameRows = rows[r]->ItemIndex == FRows[r]->ItemIndex && rows[r]->Child == FRows[r]->Child &&
                       rows[r]->Text == FRows[r]->Text;

        // A shown window that keeps its rows and its size keeps its picture and its selection,
        // and is only moved where its place changed: the filter fills the windows on its way
        // again at every key.
        const int planHeight = row > 0 ? Plan->Height + 1 : Plan->Height;
        unchanged = sameRows && IsWindowVisible(FForm->Handle()) && bmp && sz.cx == Plan->Width &&
                    sz.cy == Plan->Height + 1 && wr.right - wr.left == Plan->Width && wr.bottom - wr.top == planHeight;
        if (!unchanged) {
            // No row starts selected, as in a list filled anew.
            LVITEMW none{};
            none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            ListDirect(FListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
            FSelectedShown = -1;
        }
        if (!sameRows) {
            // Edit boxes go with their item to its new row; the rest are taken up below or dropped.
            SpareRowEdits();
            FRows = std::move(rows);
            FIconPictures.clear();
            // The width first: the list sets its scroll range when it learns the count.
            if (W != FColumnWidth) ListDirect(FListView, LVM_SETCOLUMNWIDTH, 0, W);
            FColumnWidth = W;
            ListDirect(FListView, LVM_SETITEMCOUNT, static_cast<WPARAM>(row), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
        }
        left = Plan->Left;
        top = Plan->Top;
        width = Plan->Width;
        height = Plan->Height;
        FOpensLeft = Plan->Leftward;
        int shownColumns = Plan->ShownColumns();
        // A window with rows is as high as its picture (the hand-over sizes it): one pixel more.
        int shownHeight = row > 0 ? height + 1 : height;
        if (wr.left != left || wr.top != top || wr.right - wr.left != width || wr.bottom - wr.top != shownHeight)
            SetWindowPos(FForm->Handle(), nullptr, left, top, width, shownHeight, SWP_NOZORDER | SWP_NOACTIVATE);
        RECT lr{};
        GetWindowRect(FListView, &lr);
        // New rows, or a window about to show, start at the first column.
        bool fromStart = !sameRows || !IsWindowVisible(FForm->Handle());
        RECT first{LVIR_BOUNDS, 0, 0, 0};
        if (row > 0) ListDirect(FListView, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
        if (!sameRows || lr.right - lr.left != width || lr.bottom - lr.top < height || (fromStart && first.left < 0)) {
            // A list in list mode keeps room for a horizontal scroll bar below its rows (the 17 in
            // the height). Where that room differs, the list reaches below the window until each
            // column holds the rows the height was made for.
            int perColumn = Plan->PerColumn(), start = ListExtra(height, perColumn);
            for (int extra = start; extra <= 40; ++extra) {
                if (lr.right - lr.left != width || lr.bottom - lr.top != height + extra) {
                    MoveWindow(FListView, 0, 0, width, height + extra, FALSE);
                    lr = RECT{0, 0, width, height + extra};
                }
                int page = static_cast<int>(ListDirect(FListView, LVM_GETCOUNTPERPAGE, 0, 0));
                if (page / shownColumns >= perColumn) {
                    // A size that failed just before tells the room exactly.
                    if (extra > start) g_listRoom = height + extra - perColumn * menu_layout::RowPitch;
                    break;
                }
            }
            if (fromStart && row > 0) ListDirect(FListView, LVM_ENSUREVISIBLE, 0, FALSE);
            // The rows stay where the list put them until the next fill or scroll.
            FBoundsCache.assign(static_cast<size_t>(row), RECT{});
            FIconTopCache.assign(static_cast<size_t>(row), 0);
            for (int r = 0; r < row; ++r) {
                RECT b{LVIR_BOUNDS}, ic{LVIR_ICON};
                ListDirect(FListView, LVM_GETITEMRECT, r, reinterpret_cast<LPARAM>(&b));
                ListDirect(FListView, LVM_GETITEMRECT, r, reinterpret_cast<LPARAM>(&ic));
                FBoundsCache[static_cast<size_t>(r)] = b;
                FIconTopCache[static_cast<size_t>(r)] = ic.top;
            }
        }
        FColumnIndex = row > 0 && !FBoundsCache.empty() ? std::max(0, -static_cast<int>(FBoundsCache[0].left) / std::max(1, W)) : 0;
        FForm->Filling = false;
    } catch (const std::exception& e) {
        if (FForm) FForm->Filling = false;
        Log(4, L"(c6) / " + FCaption + L" /" + What(e));
    }
    CreateEditBoxes();
    DropEdits(FSpareEdits);
    if (unchanged) {
        // Moved: the turning row is shown again where the window now is at the next turn.
        if (pt1.x != left || pt1.y != top) ParkTurn();
        pt1 = POINT{left, top};  // where the next hand-over puts it
        return;
    }
    // The picture is kept while the window's size stays.
    const bool made = (!bmp || sz.cx != width || sz.cy != height + 1) && MakePicture(width, height + 1);
    pt1 = POINT{left, top};
    pt2 = POINT{0, 0};
    PaintAll(made);
    if (RowCount() > 0) {
        Present(nullptr);
    } else if (FForm && FForm->Handle()) {
        // Nothing to show: a clear picture of the window's own size (a kept one had rows).
        SIZE bare{width, height};
        UpdateLayeredWindow(FForm->Handle(), nullptr, &pt1, &bare, DC.get(), &pt2, 0, &bf, ULW_ALPHA);
        ParkTurn();
    }
}

// Off-screen picture: a top-down premultiplied 32-bit DIB that GDI+ draws on directly. A window
// that shrinks keeps its bitmap while the picture fills a fair part of it: freeing a big one and
// touching a new one's pages cost about as much as painting the rows.
bool TDKMenuItem::MakePicture(int Width, int Height) {
    DIBSECTION ds{};
    const bool keep = bmp && DC && GetObjectW(bmp.get(), sizeof(ds), &ds) && ds.dsBm.bmBits &&
                      ds.dsBm.bmWidth >= Width && ds.dsBm.bmHeight >= Height &&
                      static_cast<long long>(ds.dsBm.bmWidth) * ds.dsBm.bmHeight <= 4LL * Width * Height;
    void* bits = keep ? ds.dsBm.bmBits : nullptr;
    int stride = keep ? ds.dsBm.bmWidth : Width;
    if (!keep) {
        ReleasePicture();
        BITMAPINFO bi = TopDown32(Width, Height);
        bmp.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!bmp) throw std::runtime_error("the menu picture cannot be made");
        DC.reset(CreateCompatibleDC(nullptr));
        bmp_old = static_cast<HBITMAP>(SelectObject(DC.get(), bmp.get()));
        pen = std::make_unique<Gdiplus::Pen>(Gdiplus::Color(255, 0, 0, 0), 1.0f);
        FontFamily = std::make_unique<Gdiplus::FontFamily>(L"Times New Roman");
        Font = std::make_unique<Gdiplus::Font>(FontFamily.get(), 14.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    }
    Graphics.reset();
    BackGround = std::make_unique<Gdiplus::Bitmap>(Width, Height, stride * 4, PixelFormat32bppPARGB,
                                                   static_cast<BYTE*>(bits));
    Graphics = std::make_unique<Gdiplus::Graphics>(BackGround.get());
    Graphics->SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
    brush = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(Config.ActiveScheme().Transparency, 255, 255, 255));
    sz = SIZE{Width, Height};
    return !keep;
}

void TDKMenuItem::ReleasePicture() {
    Font.reset();
    FontFamily.reset();
    brush.reset();
    pen.reset();
    Graphics.reset();
    if (DC) {
        SelectObject(DC.get(), bmp_old);
        DC.reset();
        bmp_old = nullptr;
    }
    BackGround.reset();
    bmp.reset();
    sz = SIZE{0, 0};
}

// ---- ReleaseWindowResources ----

void TDKMenuItem::ReleaseWindowResources() {
    TreeWork work;
    int id = MenuIdForLog();
    try {
        // Rows already gone (a folder refilled entry by entry): nothing below is open either.
        if (FForm && FListView && !FRows.empty()) {
            CancelRowIcons(this);
            FForm->Filling = true;
            CloseChildWindows();
            if (!FForm || !FListView) return;
            SpareRowEdits();
            FRows.clear();
            FBoundsCache.clear();
            FIconTopCache.clear();
            FSelectedShown = -1;
            ListDirect(FListView, LVM_SETITEMCOUNT, 0, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
            FForm->Filling = false;
        }
    } catch (const std::exception& e) {
        if (FForm) FForm->Filling = false;
        Log(4, L"(c18) " + What(e) + L"/ " + std::to_wstring(id) + L" /");
    }
    // The pictures made from the rows' icons go with the rows; the drawing surface stays.
    FIconPictures.clear();
}

// ---- CloseWindow ----

void TDKMenuItem::CloseWindow() {
    TreeWork work;
    CloseWindowsBelow(false);
    CloseOwnWindow();
}

void TDKMenuItem::CloseOwnWindow() {
    TreeWork work;
    StopFolderWatch();
    if (!FForm) return;
    HWND h = FForm->Handle();
    if (!h || !IsWindowVisible(h)) return;
    if (FHoldMouseTimer) FHoldMouseTimer->SetEnabled(false);
    if (FRotateIconTimer) FRotateIconTimer->SetEnabled(false);
    CancelRowIcons(this);
    ParkTurn();
    if (!FDragged) {
        // Stored items' windows keep a drag from them going (out of a group into the window
        // beside it); any other window ends it.
        CancelDrag(this);
        FDragPosition.Row = -1.0f;
    }
    SpareRowEdits();
    DropEdits(FSpareEdits);
    FForm->PendingUps = 0;
    FForm->Hiding = true;
    ShowWindow(h, SW_HIDE);
    if (FForm) FForm->Hiding = false;
    if (FDragged) return;  // stored items keep their window as long as they live
    // Kept for the next opening; the longest hidden beyond the limit goes once the work on the
    // windows is done.
    FForm->Kept = true;
    auto& kept = KeptWindows();
    Unkeep(this);
    kept.insert(kept.begin(), this);
}

void TDKMenuItem::DestroyWindowParts() {
    Unkeep(this);
    CancelPresent();  // a batch ending later finds nothing to hand over
    FTurnWindow.reset();  // before the window that owns it
    if (!FForm) return;
    TreeWork work;
    CancelDrag(this);
    ReleaseWindowResources();
    DropEdits(FSpareEdits);
    FDragPosition.Row = -1.0f;
    FColumnWidth = 0;
    if (FListView) {
        UnregisterList(FListView);
        gui::Unsubclass(FListView);
    }
    FForm->Item = nullptr;
    if (FForm->Handle()) ShowWindow(FForm->Handle(), SW_HIDE);
    // A handler of this very window may be running: free it when that handler is done.
    std::shared_ptr<TMenuForm> form(FForm.release());
    std::shared_ptr<gui::Timer> hold(FHoldMouseTimer.release()), rotate(FRotateIconTimer.release());
    if (hold) hold->SetEnabled(false);
    if (rotate) rotate->SetEnabled(false);
    auto images = std::make_shared<gui::ImageListHandle>(std::move(FImageList));
    auto popup = std::make_shared<gui::MenuHandle>(std::move(FUpPopupMenu));
    FListView = nullptr;
    FSysIconPictures.clear();
    ReleasePicture();
    DeferFree([form, hold, rotate, images, popup]() mutable {
        form.reset();  // destroys the list with the window
        hold.reset();
        rotate.reset();
        images.reset();
        popup.reset();
    });
}
