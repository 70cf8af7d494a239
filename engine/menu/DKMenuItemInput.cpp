// Mouse, keyboard, timers, drag and drop and in-place editing of the menu windows.
#include <windowsx.h>

#include <cmath>
#include <optional>

#include "settings/DKLog.h"
#include "Application.h"
#include "settings/Configs.h"
#include "util/DKUtils.h"
#include "menu/MenuForm.h"
#include "Subclass.h"
#include "SysUtils.h"

using namespace menu_window;

namespace {
std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

// The list's own mouse-tracking state (for enter and leave).
bool g_listTracking = false;
HWND g_trackedList = nullptr;

void BringToTop(HWND form, bool forKeyboard) {
    // Without SWP_NOACTIVATE: on Windows the window also becomes the active one.
    SetWindowPos(form, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // Keys must reach the window brought forward; Wine does not activate it above.
    if (forKeyboard && GetActiveWindow() != form) {
        SetForegroundWindow(form);
        SetActiveWindow(form);
    }
}

bool AnyWindowActive(TDKMenuItem* item, HWND active) {
    if (item->FForm && item->FForm->Handle() == active) return true;
    for (int i = 0; i < item->Count(); ++i)
        if (AnyWindowActive(item->GetItem(i), active)) return true;
    return false;
}

bool AppActive() {
    HWND fg = GetForegroundWindow();
    DWORD pid = 0;
    if (fg) GetWindowThreadProcessId(fg, &pid);
    return pid == GetCurrentProcessId();
}

unsigned ButtonBit(TMouseButton b) { return 1u << static_cast<unsigned>(b); }

// The drag no longer points into this window: no drop mark, and its clicks count again.
void ClearDropPosition(TDKMenuItem* item) {
    if (!item || item->FDragPosition.Row < 0.0f) return;
    item->FDragPosition.Row = -1.0f;
    item->UpdateWindow(-1, false);
}

// Windows whose rows are made anew at each opening (shell folders, statistics, a favourite's
// commands): an item dropped there would be gone at the next opening.
bool RowsRebuiltOnOpening(const TDKMenuItem* item) { return item->FOnBeforExpose || item->IsFile(); }

// Enter on a child of item's window shown on the row with bounds r: its click, then a left
// press and release at the row's top-right corner.
void EnterOn(TDKMenuItem* item, TDKMenuItem* child, const RECT& r) {
    POINT p{r.right, r.top};
    ClientToScreen(item->FListView, &p);
    // A handler may delete the item (remove from a group or from favourites).
    auto alive = child->LifeToken();
    if (child->FOnClick) child->FOnClick(child);
    if (*alive && child->FOnMouseDown) child->FOnMouseDown(child, TMouseButton::mbLeft, 0, p.x, p.y);
    if (*alive && child->FOnMouseUp) child->FOnMouseUp(child, TMouseButton::mbLeft, 0, p.x, p.y);
}
}  // namespace

namespace menu_window {

DragState& Drag() {
    static DragState d;
    return d;
}

void CancelDrag(TDKMenuItem* source) {
    DragState& d = Drag();
    if (d.Target == source) d.Target = nullptr;
    if (d.Source != source) return;
    TDKMenuItem* target = d.Target;
    d = DragState{};
    source->FDragPosition.Row = -1.0f;
    if (target != source) ClearDropPosition(target);
    if (source->FListView && GetCapture() == source->FListView) ReleaseCapture();
}

// The drag is over, dropped or not: every window it touched goes back to no drag.
void EndDrag(TDKMenuItem* source) {
    TDKMenuItem* target = Drag().Target;
    Drag() = DragState{};
    source->ListEndDrag();
    if (source->FForm) source->FForm->PendingUps &= ~ButtonBit(TMouseButton::mbLeft);  // the drop was its release
    if (target != source) ClearDropPosition(target);
    source->UpdateWindow(-1, false);
}

void PressStarted(TDKMenuItem* item, TMouseButton button) {
    if (item->FForm) item->FForm->PendingUps |= ButtonBit(button);
}

void PressEnded(TDKMenuItem* item, TMouseButton button, TShiftState shift, POINT listPoint) {
    if (!item->FForm || !(item->FForm->PendingUps & ButtonBit(button))) return;
    item->FForm->PendingUps &= ~ButtonBit(button);
    if (button == TMouseButton::mbRight) {
        if (item->FUpPopupMenu) item->UpPopupMenuPopup();
    } else {
        item->ListMouseUp(button, shift, listPoint.x, listPoint.y);
    }
}

void PressEndedAtCursor(TDKMenuItem* item, TMouseButton button) {
    POINT p{};
    GetCursorPos(&p);
    if (item->FListView) ScreenToClient(item->FListView, &p);
    PressEnded(item, button, KeyShift(), p);
}

TShiftState KeyShift() {
    TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    return s;
}

TShiftState MouseShift(WPARAM wp) {
    TShiftState s = KeyShift();
    if (wp & MK_LBUTTON) s |= ssLeft;
    if (wp & MK_RBUTTON) s |= ssRight;
    if (wp & MK_MBUTTON) s |= ssMiddle;
    return s;
}

}  // namespace menu_window

TDKMenuItem* MenuDragSource() { return Drag().Source; }

// ---- lookups ----

int TDKMenuItem::RowAt(int X, int Y) const {
    // The whole width of a row counts, not only its icon and text as the list's own hit test.
    POINT p{X, Y};
    int n = RowCount();
    for (int r = 0; r < n; ++r) {
        RECT b = RowBounds(r);
        if (PtInRect(&b, p)) return r;
    }
    return -1;
}

TDKMenuItem* TDKMenuItem::ItemAtCursor(RECT* BoundRect) {
    if (!FForm || !FListView || !IsWindowVisible(FForm->Handle())) return nullptr;
    POINT p{};
    GetCursorPos(&p);
    ScreenToClient(FListView, &p);
    int row = RowAt(p.x, p.y);
    if (row < 0) return nullptr;
    TMenuRowData* d = RowData(row);
    if (!d || d->ItemIndex < 0 || d->ItemIndex >= Count()) return nullptr;
    if (BoundRect) *BoundRect = RowBounds(row);
    return (*FItems)[d->ItemIndex];
}

TDKMenuItem* TDKMenuItem::GetSelectedMi(RECT* BoundRect) {
    int row = SelectedRow();
    if (row < 0) return nullptr;
    TMenuRowData* d = RowData(row);
    if (!d || d->ItemIndex < 0 || d->ItemIndex >= Count()) return nullptr;
    if (BoundRect) *BoundRect = RowBounds(row);
    return (*FItems)[d->ItemIndex];
}

void TDKMenuItem::OpenChildAt(TDKMenuItem* Child, const RECT& R, bool Expose) {
    RECT w = FForm->BoundsRect();
    Child->ShowAt(w.left + R.right - 50, w.top + R.top + 1, Expose);
}

// ---- click, keys, selection ----

void TDKMenuItem::ListClick() {
    try {
        if (FHoldMouseTimer) FHoldMouseTimer->SetEnabled(false);
        if (FDragPosition.Row >= 0.0f) return;
        RECT r{};
        TDKMenuItem* child = ItemAtCursor(&r);
        if (!child) return;
        if (child->FItems && (!child->FForm || !child->FForm->Visible())) OpenChildAt(child, r);
        if (!child->FEdited && child->FOnClick) child->FOnClick(child);
    } catch (const std::exception& e) {
        Log(4, L"(c20) " + What(e));
    }
}

void TDKMenuItem::ListDblClick() {
    TDKMenuItem* child = ItemAtCursor();
    if (child && !child->FEdited && child->FOnDblClick) child->FOnDblClick(child);
}

void TDKMenuItem::ListKeyDown(WORD& Key, TShiftState Shift) {
    (void)Shift;
    RECT r{};
    TDKMenuItem* child = GetSelectedMi(&r);
    if (!child) return;
    switch (Key) {
    case VK_RETURN: {
        if (!child->FEdited && child->FForm && child->FForm->Visible() && child->SelectedRow() >= 0) {
            child->ListKeyDown(Key, Shift);
            return;
        }
        EnterOn(this, child, r);
        break;
    }
    case VK_ESCAPE:
        if (FPopupMenu) FPopupMenu->Hide();
        break;
    case VK_LEFT:
        if (FOwner) {
            TDKMenuItem* owner = FOwner;
            CloseWindow();
            if (owner->FForm && owner->FForm->Handle()) {
                BringToTop(owner->FForm->Handle(), true);
                if (owner->FListView) SetFocus(owner->FListView);
            }
        }
        break;
    case VK_RIGHT:
        if (child->FItems) {
            OpenChildAt(child, r);
            if (child->FForm && child->FForm->Visible()) {
                BringToTop(child->FForm->Handle(), true);
                if (child->FListView) SetFocus(child->FListView);
            }
        }
        break;
    }
}

void TDKMenuItem::ListSelectItem(int Row, bool Selected) {
    if (!Selected) {
        if (Row == FSelectedShown) FSelectedShown = -1;
        UpdateWindow(Row, false);
        return;
    }
    FSelectedShown = Row;
    std::wstring text = RowText(Row);
    TDKMenuItem* child = nullptr;
    try {
        TMenuRowData* d = RowData(Row);
        if (d && d->ItemIndex >= 0 && d->ItemIndex < Count()) child = (*FItems)[d->ItemIndex];
        // The other rows' submenus close: found among the windows there are, not by asking each
        // of a big folder's entries.
        CloseWindowsBelow(false, child);
        if (FRotateIconTimer)
            FRotateIconTimer->SetEnabled(child && (child->FIcon || child->FIconInGlobList || child->FChecked ||
                                                   child->FEdited));
    } catch (const std::exception& e) {
        Log(4, L"(c19) " + What(e) + L" / " + text + L" /");
    }
    try {
        if (FHoldMouseTimer) FHoldMouseTimer->SetEnabled(true);
        FRotateDegree = 0;
        UpdateWindow(Row, false);
    } catch (const std::exception& e) {
        Log(4, L"(c2) " + What(e) + L" / " + text + L" /");
    }
}

// ---- mouse ----

void TDKMenuItem::ListMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TDKMenuItem* child = ItemAtCursor();
    if (!child || !child->FOnMouseDown) return;
    POINT p{X, Y};
    ClientToScreen(FListView, &p);
    child->FOnMouseDown(child, Button, Shift, p.x, p.y);
}

void TDKMenuItem::ListMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TDKMenuItem* child = ItemAtCursor();
    if (!child || !child->FOnMouseUp) return;
    POINT p{X, Y};
    ClientToScreen(FListView, &p);
    child->FOnMouseUp(child, Button, Shift, p.x, p.y);
}

void TDKMenuItem::ListMouseMove(TShiftState Shift, int X, int Y) {
    if (Config.KeyBoardMode) return;
    TDKMenuItem* child = ItemAtCursor();
    if (!child) return;
    int row = RowAt(X, Y);
    if (row >= 0 && row != SelectedRow()) {
        // The row that loses the selection and the one that gets it reach the screen together:
        // each hand-over costs the system the whole window, however little changed.
        TPresentBatch batch;
        LVITEMW lv{};
        lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        lv.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(FListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
    }
    if (child->FOnMouseMove) {
        POINT p{X, Y};
        ClientToScreen(FListView, &p);
        child->FOnMouseMove(child, Shift, p.x, p.y);
    }
    if (child->FDragged && (Shift & ssLeft) && !Drag().Source && FListView) {
        // Drag start: no movement threshold.
        FDragPosition.Row = static_cast<float>(SelectedRow());
        Drag() = DragState{this, nullptr, false};
        SetCapture(FListView);
    }
}

void TDKMenuItem::ListMouseEnter() {
    if (Config.KeyBoardMode) return;
    if (FForm && FForm->Visible()) BringToTop(FForm->Handle(), false);
}

void TDKMenuItem::ListMouseLeave() {
    if (Drag().Source) return;
    int row = SelectedRow();
    if (row >= 0) UpdateWindow(row, false);
}

std::wstring TDKMenuItem::ListInfoTip(int Row) {
    TDKMenuItem* child = ItemAtCursor();
    if (!child) return L"";
    return child->FCaption != RowText(Row) ? child->FCaption : L"";
}

void TDKMenuItem::UpPopupMenuPopup() {
    POINT p{};
    GetCursorPos(&p);
    ScreenToClient(FListView, &p);
    ListMouseUp(TMouseButton::mbRight, 0, p.x, p.y);
}

// ---- drag and drop ----

void TDKMenuItem::ListDragOver(TDKMenuItem* Source, int X, int Y, bool& Accept) {
    if (RowsRebuiltOnOpening(this)) {
        Accept = false;
        ClearDropPosition(this);
        return;
    }
    RECT r{};
    TDKMenuItem* O = ItemAtCursor(&r);
    // Position from the cursor, the same point that found the row.
    POINT cur{};
    GetCursorPos(&cur);
    ScreenToClient(FListView, &cur);
    X = cur.x;
    Y = cur.y;
    TDKMenuItem* S = Source ? Source->GetSelectedMi(nullptr) : nullptr;
    if (!O || !S) return;  // position and acceptance stay as they were
    float before = FDragPosition.Row;
    FDragPosition.Row = static_cast<float>(O->Index()) + static_cast<float>(Y - r.top) / static_cast<float>(r.bottom - r.top);
    // The mark moves: the row it leaves is painted without it.
    if (before >= 0.0f && static_cast<int>(before) != static_cast<int>(FDragPosition.Row))
        UpdateWindow(static_cast<int>(before), false);
    Accept = (O->FDragged && S->FDragged && O != S) || FDragPosition.Row < 0.5f;
    // A window of the dragged item's own subtree cannot take it: the tree must stay a tree.
    if (IsInside(S)) Accept = false;
    if (Accept) {
        // Treated as selected without moving the list's selection: the source row stays the
        // dragged one.
        int row = RowAt(X, Y);
        if (row >= 0) ListSelectItem(row, true);
    } else {
        FDragPosition.Row = -1.0f;  // no mark where nothing can be dropped
        UpdateWindow(-1, false);
    }
}

void TDKMenuItem::ListDragDrop(TDKMenuItem* Source, int X, int Y) {
    (void)X;
    (void)Y;
    if (!Source || !Source->FListView || !FListView) return;
    int p = static_cast<int>(std::nearbyint(FDragPosition.Row));  // halves to even
    if (p < 0) p = 0;
    int srow = Source->SelectedRow();
    TMenuRowData* d = Source->RowData(srow);
    if (srow < 0 || !d || d->ItemIndex < 0 || d->ItemIndex >= Source->Count()) return;
    int s = d->ItemIndex;
    TDKMenuItem* S = (*Source->FItems)[s];
    if (IsInside(S) || RowsRebuiltOnOpening(this)) {
        FDragPosition.Row = -1.0f;
        UpdateWindow(-1, false);
        return;
    }
    if (Source == this) {
        ReleaseWindowResources();
        if (p > s) --p;
        p = std::min(p, Count() - 1);
        FItems->erase(FItems->begin() + s);
        FItems->insert(FItems->begin() + p, S);
    } else {
        Source->ReleaseWindowResources();
        ReleaseWindowResources();
        if (!FItems) FItems = std::make_unique<std::vector<TDKMenuItem*>>();
        p = std::min(p, Count());
        S->FOwner = this;
        FItems->insert(FItems->begin() + p, S);
        Source->FItems->erase(Source->FItems->begin() + s);
    }
    FDragPosition.Row = -1.0f;
    FillListView();
    if (Source != this) Source->FillListView();
}

void TDKMenuItem::ListEndDrag() { FDragPosition.Row = -1.0f; }

// ---- timers and activation ----

void TDKMenuItem::HoldMouseTimerTick() {
    try {
        if (FHoldMouseTimer) FHoldMouseTimer->SetEnabled(false);
        if (Config.KeyBoardMode) return;
        RECT r{};
        TDKMenuItem* child = ItemAtCursor(&r);
        if (child && child->FItems && (!child->FForm || !child->FForm->Visible())) OpenChildAt(child, r);
    } catch (const std::exception& e) {
        Log(4, L"(c1) " + What(e));
    }
}

void TDKMenuItem::RotateIconTimerTick() {
    try {
        if (!FGlassMode || !FListView) return;
        int row = SelectedRow();
        if (row < 0) return;
        if (!RowInPicture(row)) {
            // Scrolled out of the window nothing turns; the next selection starts the timer again.
            if (FRotateIconTimer) FRotateIconTimer->SetEnabled(false);
            return;
        }
        UINT interval = FRotateIconTimer ? FRotateIconTimer->Interval() : 40;
        FRotateDegree = static_cast<short>((FRotateDegree + static_cast<int>(interval * 360 / 2000)) % 360);
        TurnRow(row);
    } catch (const std::exception& e) {
        Log(4, L"(c5) " + What(e));
    }
}

void TDKMenuItem::FormDeactivate() {
    FDragPosition.Row = -1.0f;
    TDKPopupMenu* menu = FPopupMenu;
    if (!menu) return;
    // Activation lands on the next window only after this message: decide afterwards.
    gui::App().Queue([menu] {
        if (!TDKPopupMenu::Alive(menu) || !menu->FItems) return;
        HandlerScope scope;
        if (AppActive() && AnyWindowActive(menu->FItems, GetActiveWindow())) return;
        menu->Hide();
    });
}

// ---- edit boxes ----

void TDKMenuItem::CreateEditBoxes() {
    if (!FListView) return;
    std::vector<std::unique_ptr<TMenuEdit>> gone;
    // A box made anew for the item whose box had the keyboard takes it over: rows added above
    // while the user types (a window opening in the Applications menu) do not take the keys.
    HWND focus = GetFocus();
    const TDKMenuItem* typing = nullptr;
    DWORD typingFrom = 0, typingTo = 0;  // its selection (the caret where they meet)
    bool typingHint = false;
    int n = RowCount();
    for (int r = 0; r < n; ++r) {
        TMenuRowData* d = RowData(r);
        if (!d) continue;
        TDKMenuItem* child = d->ItemIndex >= 0 && d->ItemIndex < Count() ? (*FItems)[d->ItemIndex] : nullptr;
        bool wanted = child && child->FEdited;
        // A box stays with its item while the row keeps its place, with its caret and focus.
        // One that would move from under the pointer is made anew: it would report the pointer
        // leaving and give the focus away.
        if (wanted && !d->Edit) {
            auto spare = std::find_if(FSpareEdits.begin(), FSpareEdits.end(),
                                      [child](const std::unique_ptr<TMenuEdit>& e) { return e->Child == child; });
            if (spare != FSpareEdits.end()) {
                d->Edit = std::move(*spare);
                FSpareEdits.erase(spare);
            }
        }
        RECT b = RowBounds(r);
        int x = b.left + 28, y = b.top + 3, w = b.right - b.left - 29, h = b.bottom - b.top - 2;
        if (d->Edit) {
            RECT now{};
            GetWindowRect(d->Edit->Handle(), &now);
            MapWindowPoints(nullptr, FListView, reinterpret_cast<POINT*>(&now), 2);
            bool inPlace = now.left == x && now.top == y && now.right - now.left == w && now.bottom - now.top == h;
            // Away from the pointer a box is moved with its row: it keeps its keyboard and caret.
            if (!inPlace && wanted && !d->Edit->MouseInside && d->Edit->Child == child &&
                gui::WindowText(d->Edit->Handle()) == child->FCaption) {
                SetWindowPos(d->Edit->Handle(), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
                inPlace = true;
            }
            if (!wanted || !inPlace || d->Edit->Child != child || gui::WindowText(d->Edit->Handle()) != child->FCaption) {
                if (wanted && d->Edit->Handle() == focus && d->Edit->Child == child) {
                    typing = child;
                    typingHint = d->Edit->ShowsHint;
                    SendMessageW(d->Edit->Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&typingFrom),
                                 reinterpret_cast<LPARAM>(&typingTo));
                }
                gone.push_back(std::move(d->Edit));
            }
        }
        if (!wanted) continue;
        if (d->Edit) {
            d->Edit->Tag = r;
            continue;
        }
        auto edit = std::make_unique<TMenuEdit>();
        edit->Tag = r;
        edit->Child = child;
        // The filter box shows its hint until something is typed into it.
        edit->ShowsHint = child == typing ? typingHint
                          : child->FMIID == TDKPopupMenu::FilterEditID ? !FPopupMenu || FPopupMenu->FFilterText.empty()
                                                                       : FPopupMenu && FPopupMenu->ShowsPrompt(child);
        edit->Brush.reset(CreateSolidBrush(LightenColor(FColor, 80)));
        edit->Box.reset(CreateWindowExW(0, L"EDIT", child->FCaption.c_str(), WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                                        x, y, w, h, FListView, nullptr, GetModuleHandleW(nullptr), nullptr));
        if (!edit->Handle()) continue;
        SendMessageW(edit->Handle(), WM_SETFONT, SendMessageW(FListView, WM_GETFONT, 0, 0), FALSE);
        // Text first, handlers after: building the box fires no change.
        gui::Subclass(edit->Handle(), EditProc, reinterpret_cast<DWORD_PTR>(edit.get()));
        if (child == typing) {
            SetFocus(edit->Handle());
            SendMessageW(edit->Handle(), EM_SETSEL, typingFrom, typingTo);
        }
        d->Edit = std::move(edit);
    }
    DropEdits(gone);
}

namespace {
// The row record and item of an edit box.
TDKMenuItem* EditOwner(TMenuEdit* edit) { return MenuItemOfList(GetParent(edit->Handle())); }
TDKMenuItem* EditChild(TDKMenuItem* item, TMenuEdit* edit) {
    TMenuRowData* d = item->RowData(edit->Tag);
    if (!d || d->Edit.get() != edit || d->ItemIndex < 0 || d->ItemIndex >= item->Count()) return nullptr;
    return item->GetItem(d->ItemIndex);
}
}  // namespace

void TDKMenuItem::EditChange(TMenuEdit* Edit) {
    TDKMenuItem* child = EditChild(this, Edit);
    if (!child) return;
    TPresentBatch batch;  // a keystroke reaches the screen once
    std::wstring text = gui::WindowText(Edit->Handle());
    Edit->ShowsHint = false;
    child->SetCaption(text);
    if (TMenuRowData* d = RowData(Edit->Tag)) d->Text = child->FCaption;
    if (child->FOnEditChanged) child->FOnEditChanged(child, text);
}

void TDKMenuItem::EditKeyDown(TMenuEdit* Edit, WORD& Key, TShiftState Shift) {
    switch (Key) {
    case VK_RETURN:
        // Enter ends the edit it was typed into, wherever the pointer has moved the selection
        // meanwhile; the filter box's Enter acts on the match it chose.
        if (TDKMenuItem* child = EditChild(this, Edit); child && child->FMIID != TDKPopupMenu::FilterEditID) {
            EnterOn(this, child, RowBounds(Edit->Tag));
            break;
        }
        if (FPopupMenu) FPopupMenu->FilterSelectMatch();
        ListKeyDown(Key, Shift);
        break;
    case VK_UP:
    case VK_DOWN:
        // In the filter box they choose among the matches shown.
        if (TDKMenuItem* child = EditChild(this, Edit);
            child && child->FMIID == TDKPopupMenu::FilterEditID && FPopupMenu && !FPopupMenu->FFilterText.empty()) {
            FPopupMenu->FilterStep(Key == VK_DOWN ? 1 : -1);
            Key = 0;
            break;
        }
        ListKeyDown(Key, Shift);
        break;
    case VK_TAB:
    case VK_ESCAPE:
    case VK_RIGHT:
        ListKeyDown(Key, Shift);
        break;
    }
}

void TDKMenuItem::EditKeyPress(TMenuEdit* Edit, wchar_t& Key) {
    if (Key == 13 || Key == 27) Key = 0;
    // Wherever a click put the caret, a typed character or Backspace takes the whole hint.
    else if (Edit->ShowsHint && (Key >= 32 || Key == 8)) SendMessageW(Edit->Handle(), EM_SETSEL, 0, -1);
}

void TDKMenuItem::EditDblClick(TMenuEdit* Edit) { SendMessageW(Edit->Handle(), EM_SETSEL, 0, -1); }

void TDKMenuItem::EditClick(TMenuEdit* Edit) { (void)Edit; }

void TDKMenuItem::EditMouseEnter(TMenuEdit* Edit) {
    if (Config.KeyBoardMode || !FListView) return;
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED;
    lv.state = 0;
    SendMessageW(FListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lv));
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(FListView, LVM_SETITEMSTATE, Edit->Tag, reinterpret_cast<LPARAM>(&lv));
    if (FRotateIconTimer) FRotateIconTimer->SetEnabled(true);
}

void TDKMenuItem::FocusEditBox() {
    TDKMenuItem* owner = FOwner;
    if (!FEdited || !owner || !owner->FForm || !owner->FListView || !owner->FForm->Visible()) return;
    for (int r = 0; r < owner->RowCount(); ++r) {
        TMenuRowData* d = owner->RowData(r);
        if (!d || !d->Edit || !d->Edit->Handle() || d->ItemIndex < 0 || d->ItemIndex >= owner->Count() ||
            owner->GetItem(d->ItemIndex) != this)
            continue;
        HWND box = d->Edit->Handle();
        d->Edit->ShowsHint = FPopupMenu && FPopupMenu->ShowsPrompt(this);
        // The row's window may not be the one clicked: it takes the keyboard.
        BringToTop(owner->FForm->Handle(), true);
        // The row shows as selected (with its caret) while the submenu of the command stays open
        // for the command's next use: the selection is made without closing other submenus.
        if (owner->SelectedRow() != r) {
            owner->FForm->Filling = true;
            LVITEMW lv{};
            lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(owner->FListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lv));
            lv.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(owner->FListView, LVM_SETITEMSTATE, r, reinterpret_cast<LPARAM>(&lv));
            if (owner->FForm) owner->FForm->Filling = false;
            owner->FSelectedShown = r;
            owner->FRotateDegree = 0;
            owner->UpdateWindow(-1, false);
        }
        if (owner->FRotateIconTimer) owner->FRotateIconTimer->SetEnabled(true);
        SetFocus(box);
        SendMessageW(box, EM_SETSEL, GetWindowTextLengthW(box), 0);  // all selected, the caret at the start
        return;
    }
}

void TDKMenuItem::EditMouseLeave(TMenuEdit* Edit) {
    (void)Edit;
    if (FListView) SetFocus(FListView);
}

// ---- window procedures ----

namespace menu_window {

namespace {
// The list takes only a row's icon and text as the row; the whole width of a row is ours, so a
// button press anywhere on a row is handed to the list at the row's left end.
LPARAM OnRowLabel(TDKMenuItem* item, POINT pt, LPARAM lp) {
    int row = item->RowAt(pt.x, pt.y);
    if (row < 0) return lp;
    RECT b = item->RowBounds(row);
    return MAKELPARAM(b.left + 2, pt.y);
}

// The menu window under a point of the screen, or null.
TDKMenuItem* MenuItemAtPoint(POINT screen) {
    TDKMenuItem* item = nullptr;
    for (HWND h = WindowFromPoint(screen); h && !item; h = GetParent(h)) {
        item = MenuItemOfList(h);
        if (!item)
            if (HWND list = FindWindowExW(h, nullptr, WC_LISTVIEWW, nullptr)) item = MenuItemOfList(list);
    }
    return item;
}

// The wheel turns the columns of the menu window under the pointer, whichever has the focus:
// one column a notch, later columns when turned towards the user.
void WheelColumns(POINT screen, int delta) {
    static TDKMenuItem* last = nullptr;
    static int rest = 0;
    TDKMenuItem* item = MenuItemAtPoint(screen);
    if (item != last) rest = 0;
    last = item;
    if (!item) return;
    rest += delta;
    int notches = rest / WHEEL_DELTA;
    rest -= notches * WHEEL_DELTA;
    if (notches) item->ScrollColumns(-notches);
}

// The record of one of our edit boxes, or null for any other window.
TMenuEdit* EditOfBox(HWND box) { return reinterpret_cast<TMenuEdit*>(gui::SubclassData(box, EditProc)); }

LRESULT ListMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TDKMenuItem* item = MenuItemOfList(hwnd);
    if (!item) return gui::CallOriginal(hwnd, msg, wp, lp);
    POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    DragState& drag = Drag();
    bool dragging = drag.Source == item && GetCapture() == hwnd;
    switch (msg) {
    // The window shows our picture only: the list's own painting would never be seen.
    case WM_PAINT:
        ValidateRect(hwnd, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        if (dragging) {
            POINT sp = pt;
            ClientToScreen(hwnd, &sp);
            HWND under = WindowFromPoint(sp);
            TDKMenuItem* target = nullptr;
            for (HWND h = under; h && !target; h = GetParent(h)) target = MenuItemOfList(h);
            if (target != drag.Target) {
                drag.Accept = false;
                ClearDropPosition(drag.Target);  // the window the drag leaves
            }
            drag.Target = target;
            if (target) {
                POINT tp = sp;
                ScreenToClient(target->FListView, &tp);
                bool accept = drag.Accept;
                target->ListDragOver(item, tp.x, tp.y, accept);
                if (drag.Source == item) drag.Accept = accept;  // the source may have gone meanwhile
            }
            SetCursor(LoadCursorW(nullptr, drag.Target && drag.Accept ? IDC_ARROW : IDC_NO));
            return 0;
        }
        {
            // A move can reach a window that another of ours covers at that point (X stacking
            // under Wine differs from ours); only the window on top takes the mouse.
            POINT sp = pt;
            ClientToScreen(hwnd, &sp);
            HWND top = WindowFromPoint(sp);
            if (top && top != hwnd && !IsChild(hwnd, top) && GetAncestor(top, GA_ROOT) != GetAncestor(hwnd, GA_ROOT))
                return gui::CallOriginal(hwnd, msg, wp, lp);
        }
        if (!g_listTracking || g_trackedList != hwnd) {
            // Tips come with the pointer: the list makes their window when they are turned on,
            // which would cost every menu window's opening as much again as the list itself.
            if (!(ListDirect(hwnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_INFOTIP))
                ListDirect(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
            TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, hwnd, 0};
            TrackMouseEvent(&tme);
            g_listTracking = true;
            g_trackedList = hwnd;
            item->ListMouseEnter();
            if (MenuItemOfList(hwnd) != item) return 0;
        }
        item->ListMouseMove(MouseShift(wp), pt.x, pt.y);
        if (Drag().Source == item) return 0;  // a drag has begun: the list must not track it too
        break;
    case WM_MOUSELEAVE:
        if (g_trackedList == hwnd) {
            g_listTracking = false;
            g_trackedList = nullptr;
        }
        item->ListMouseLeave();
        break;
    case WM_LBUTTONUP:
        if (dragging) {
            TDKMenuItem* target = drag.Target;
            bool accept = drag.Accept;
            POINT sp = pt;
            ClientToScreen(hwnd, &sp);
            if (target && accept && target->FListView) {
                POINT tp = sp;
                ScreenToClient(target->FListView, &tp);
                target->ListDragDrop(item, tp.x, tp.y);
            }
            if (MenuItemOfList(hwnd) == item) {
                EndDrag(item);
                ReleaseCapture();
            }
            return 0;
        }
        PressEnded(item, TMouseButton::mbLeft, MouseShift(wp), pt);
        if (MenuItemOfList(hwnd) != item) return 0;
        return gui::CallOriginal(hwnd, msg, wp, OnRowLabel(item, pt, lp));
    // The list's own handling of a press may take the release out of the queue (its drag
    // detection) and report a click instead: PressEnded gives the row its release either way.
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        PressStarted(item, TMouseButton::mbLeft);
        item->ListMouseDown(TMouseButton::mbLeft, MouseShift(wp) | (msg == WM_LBUTTONDBLCLK ? ssDouble : 0), pt.x,
                            pt.y);
        if (MenuItemOfList(hwnd) != item) return 0;
        return gui::CallOriginal(hwnd, msg, wp, OnRowLabel(item, pt, lp));
    case WM_RBUTTONDOWN:
        PressStarted(item, TMouseButton::mbRight);
        item->ListMouseDown(TMouseButton::mbRight, MouseShift(wp), pt.x, pt.y);
        if (MenuItemOfList(hwnd) != item) return 0;
        return gui::CallOriginal(hwnd, msg, wp, OnRowLabel(item, pt, lp));
    case WM_MBUTTONDOWN:
        PressStarted(item, TMouseButton::mbMiddle);
        item->ListMouseDown(TMouseButton::mbMiddle, MouseShift(wp), pt.x, pt.y);
        break;
    case WM_MBUTTONUP:
        PressEnded(item, TMouseButton::mbMiddle, MouseShift(wp), pt);
        break;
    case WM_RBUTTONUP:
        PressEnded(item, TMouseButton::mbRight, MouseShift(wp), pt);
        return 0;
    case WM_CONTEXTMENU:
        // The list's context menu has no entries: a right click only reaches the row's child.
        PressEndedAtCursor(item, TMouseButton::mbRight);
        return 0;
    case WM_CAPTURECHANGED:
        if (drag.Source == item && reinterpret_cast<HWND>(lp) != hwnd) EndDrag(item);
        break;
    case WM_MOUSEWHEEL:
        WheelColumns(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}, GET_WHEEL_DELTA_WPARAM(wp));
        return 0;
    case WM_NCHITTEST: {
        // The list's scroll bar lies, unseen, in the band below the rows: a press there is a
        // press beside the rows, not a page's scroll.
        LRESULT hit = gui::CallOriginal(hwnd, msg, wp, lp);
        return hit == HTHSCROLL ? HTCLIENT : hit;
    }
    case WM_KEYDOWN:
        // Right on a row with a submenu opens it: the list's own step to the next column would
        // take the selection away and close it again. A kept window's list opens nothing.
        if (wp == VK_RIGHT && item->Form()) {
            TDKMenuItem* child = item->GetSelectedMi(nullptr);
            if (child && child->FItems) {
                WORD key = VK_RIGHT;
                item->ListKeyDown(key, KeyShift());
                return 0;
            }
        }
        [[fallthrough]];
    // The list scrolls itself to the row that keys (arrows at its edge, Page Up and Down, typed
    // letters) or its scroll bar reach.
    case WM_CHAR:
    case WM_HSCROLL:
    case LVM_ENSUREVISIBLE: {
        // A key that moves the selection hands both rows over at once, as the pointer does.
        std::optional<TPresentBatch> batch;
        if (msg == WM_KEYDOWN && (wp == VK_UP || wp == VK_DOWN || wp == VK_PRIOR || wp == VK_NEXT || wp == VK_HOME ||
                                  wp == VK_END))
            batch.emplace();
        LRESULT r = gui::CallOriginal(hwnd, msg, wp, lp);
        if (MenuItemOfList(hwnd) == item) item->FollowListScroll();
        return r;
    }
    case WM_COMMAND:
        if (HIWORD(wp) == EN_CHANGE) {
            HWND eh = reinterpret_cast<HWND>(lp);
            if (auto* edit = EditOfBox(eh)) item->EditChange(edit);
            return 0;
        }
        break;
    case WM_CTLCOLOREDIT: {
        HWND eh = reinterpret_cast<HWND>(lp);
        if (auto* edit = EditOfBox(eh)) {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, edit->TextColor);
            SetBkColor(dc, LightenColor(item->FColor, 80));
            return reinterpret_cast<LRESULT>(edit->Brush.get());
        }
        break;
    }
    }
    return gui::CallOriginal(hwnd, msg, wp, lp);
}

LRESULT EditMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, TMenuEdit* edit) {
    TDKMenuItem* item = edit ? EditOwner(edit) : nullptr;
    if (!item || EditChild(item, edit) == nullptr) return gui::CallOriginal(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_KEYDOWN: {
        WORD key = static_cast<WORD>(wp);
        item->EditKeyDown(edit, key, KeyShift());
        if (!IsWindow(hwnd)) return 0;
        if (key == 0) return 0;
        break;
    }
    case WM_CHAR: {
        wchar_t ch = static_cast<wchar_t>(wp);
        item->EditKeyPress(edit, ch);
        if (ch == 0) return 0;
        wp = ch;
        break;
    }
    case WM_LBUTTONDBLCLK: {
        LRESULT r = gui::CallOriginal(hwnd, msg, wp, lp);
        item->EditDblClick(edit);
        return r;
    }
    case WM_LBUTTONUP: {
        LRESULT r = gui::CallOriginal(hwnd, msg, wp, lp);
        item->EditClick(edit);
        return r;
    }
    case WM_MOUSEMOVE:
        if (!edit->MouseInside) {
            edit->MouseInside = true;
            TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, hwnd, 0};
            TrackMouseEvent(&tme);
            item->EditMouseEnter(edit);
        }
        break;
    case WM_MOUSELEAVE:
        edit->MouseInside = false;
        item->EditMouseLeave(edit);
        break;
    }
    return gui::CallOriginal(hwnd, msg, wp, lp);
}

}  // namespace

// A handler's exception goes to the application's handler here: unwinding through the
// system's frames would end the program.
LRESULT ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR) {
    HandlerScope scope;
    LRESULT r = 0;
    gui::Guarded("TListView", [&] { r = ListMessage(hwnd, msg, wp, lp); });
    return r;
}

LRESULT EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR ref) {
    HandlerScope scope;
    LRESULT r = 0;
    gui::Guarded("TEdit", [&] { r = EditMessage(hwnd, msg, wp, lp, reinterpret_cast<TMenuEdit*>(ref)); });
    return r;
}

}  // namespace menu_window
