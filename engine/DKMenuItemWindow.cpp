// The menu window of an item: creation, rows, layout, drawing resources, closing.
#include <algorithm>
#include <climits>
#include <map>
#include <stdexcept>

#include "Application.h"
#include "Configs.h"
#include "DKUtils.h"
#include "Handles.h"
#include "MenuForm.h"
#include "MenuLayout.h"
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
        while (!Pending().empty()) {
            auto work = std::move(Pending());
            Pending().clear();
            for (auto& f : work) f();
        }
        --g_depth;
    }
}

void DeferFree(std::function<void()> free) {
    if (g_depth > 0) Pending().push_back(std::move(free));
    else free();
}

LRESULT ListDirect(HWND list, UINT msg, WPARAM wp, LPARAM lp) {
    static WNDPROC proc = nullptr;
    if (!proc) proc = reinterpret_cast<WNDPROC>(GetClassLongPtrW(list, GCLP_WNDPROC));
    return proc ? CallWindowProcW(proc, list, msg, wp, lp) : SendMessageW(list, msg, wp, lp);
}

void RegisterList(HWND list, TDKMenuItem* item) { Lists()[list] = item; }
void UnregisterList(HWND list) { Lists().erase(list); }

}  // namespace menu_window

using namespace menu_window;

TDKMenuItem* MenuItemOfList(HWND hwnd) {
    auto it = Lists().find(hwnd);
    return it == Lists().end() ? nullptr : it->second;
}

TMenuEdit::~TMenuEdit() {
    if (Handle) DestroyWindow(Handle);
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
}  // namespace

LRESULT TMenuForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    HandlerScope scope;
    switch (msg) {
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        TDKMenuItem* item = MenuItemOfList(hdr->hwndFrom);
        if (!item || item != Item || Filling) break;
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
            if (nm->iItem < 0 || !(nm->uChanged & LVIF_STATE)) return 0;
            bool was = nm->uOldState & LVIS_SELECTED, is = nm->uNewState & LVIS_SELECTED;
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
        if (LOWORD(wp) == WA_INACTIVE && Item) Item->FormDeactivate();
        else if (LOWORD(wp) != WA_INACTIVE && Item && Item->FListView) SetFocus(Item->FListView);
        return 0;
    case WM_SETFOCUS:
        if (Item && Item->FListView) SetFocus(Item->FListView);
        return 0;
    }
    return DefaultHandler(msg, wp, lp);
}

HWND TDKMenuItem::FormHandle() const { return FForm ? FForm->Handle() : nullptr; }

// ---- rows ----

int TDKMenuItem::RowCount() const {
    return FListView ? static_cast<int>(SendMessageW(FListView, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

TMenuRowData* TDKMenuItem::RowData(int Row) const {
    if (!FListView || Row < 0) return nullptr;
    if (Row < static_cast<int>(FRowCache.size())) return FRowCache[Row];
    LVITEMW lv{};
    lv.mask = LVIF_PARAM;
    lv.iItem = Row;
    if (!SendMessageW(FListView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv))) return nullptr;
    return reinterpret_cast<TMenuRowData*>(lv.lParam);
}

std::wstring TDKMenuItem::RowText(int Row) const {
    if (!FListView || Row < 0) return L"";
    std::wstring buf(1024, L'\0');
    LVITEMW lv{};
    lv.iSubItem = 0;
    lv.pszText = buf.data();
    lv.cchTextMax = static_cast<int>(buf.size());
    LRESULT n = SendMessageW(FListView, LVM_GETITEMTEXTW, Row, reinterpret_cast<LPARAM>(&lv));
    buf.resize(static_cast<size_t>(n));
    return buf;
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

int TDKMenuItem::SelectedRow() const {
    if (!FListView) return -1;
    return static_cast<int>(SendMessageW(FListView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// ---- ShowAt ----

void TDKMenuItem::ShowAt(int X, int Y) {
    if (!FItems) return;
    int id = MenuIdForLog();
    try {
        if (FOnBeforExpose) FOnBeforExpose(this);
        if (!FItems) return;
        int v = 0;
        for (TDKMenuItem* c : *FItems)
            if (c->FVisible) ++v;
        Y = menu_layout::FitTop(Y, v, GetSystemMetrics(SM_CYSCREEN));
    } catch (const std::exception& e) {
        Log(4, L"(c8) /" + std::to_wstring(id) + L"/ " + What(e));
    }
    if (FForm) {
        ReleaseWindowResources();
    } else {
        try {
            FForm = std::make_unique<TMenuForm>(this);
            if (!FForm->Create(kFormClass, L"f" + std::to_wstring(id), WS_POPUP, 0, X, Y, 230, 17))
                throw std::runtime_error("the menu window cannot be created");
            HWND h = FForm->Handle();
            LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
            SetLastError(0);
            if (SetWindowLongW(h, GWL_EXSTYLE, ex | WS_EX_LAYERED) == 0 && GetLastError() != 0)
                MessageBoxW(nullptr, gui::SysErrorMessage(GetLastError()).c_str(), L"Orvane", MB_OK);
            FImageList.reset(ImageList_Create(1, 20, ILC_COLOR32, 0, 1));
        } catch (const std::exception& e) {
            Log(4, L"(c14) /" + std::to_wstring(id) + L"/ " + What(e));
        }
        try {
            if (FForm && FForm->Handle()) {
                HWND h = FForm->Handle();
                FListView = CreateWindowExW(0, WC_LISTVIEWW, (L"lv" + std::to_wstring(id)).c_str(),
                                            WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | LVS_LIST | LVS_SINGLESEL |
                                                LVS_SHAREIMAGELISTS | LVS_SHOWSELALWAYS | LVS_NOSCROLL,
                                            0, 0, 230, 17, h, nullptr, GetModuleHandleW(nullptr), nullptr);
                if (!FListView) throw std::runtime_error("the menu list cannot be created");
                SendMessageW(FListView, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
                SendMessageW(FListView, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(FImageList.get()));
                SendMessageW(FListView, WM_SETFONT, reinterpret_cast<WPARAM>(ListFont()), FALSE);
                RegisterList(FListView, this);
                SetWindowSubclass(FListView, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
            }
            FHoldMouseTimer = std::make_unique<gui::Timer>(500);
            FHoldMouseTimer->OnTimer = [this] {
                HandlerScope s;
                HoldMouseTimerTick();
            };
            FRotateIconTimer = std::make_unique<gui::Timer>(40);
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
            SetWindowPos(FForm->Handle(), nullptr, X, Y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            ShowWindow(FForm->Handle(), SW_SHOWNA);
            FillListView();
            if (IsFile() && Folder()) StartFolderWatch();
        }
    } catch (const std::exception& e) {
        Log(4, L"(c4) /" + std::to_wstring(id) + L"/ " + What(e));
    }
}

// ---- FillListView ----

void TDKMenuItem::FillListView() {
    if (!FForm || !FListView) return;
    int W = menu_layout::MinColumnWidth, width = W, height = 17, left = 0, top = 0;
    try {
        FForm->Filling = true;
        gui::WindowDC listDC(FListView);
        gui::SelectScope font(listDC.get(), ListFont());
        auto measure = [dc = listDC.get()](const std::wstring& s) {
            SIZE size{};
            GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
            return static_cast<int>(size.cx);
        };
        std::vector<int> widths;
        std::vector<std::wstring> captions;
        int row = 0;
        if (FItems) {
            for (size_t i = 0; i < FItems->size(); ++i) {
                TDKMenuItem* c = (*FItems)[i];
                if (!c->FVisible) continue;
                auto* data = new TMenuRowData();
                data->ItemIndex = static_cast<int>(i);
                LVITEMW lv{};
                lv.mask = LVIF_TEXT | LVIF_PARAM;
                lv.iItem = row;
                lv.pszText = const_cast<wchar_t*>(c->FCaption.c_str());
                lv.lParam = reinterpret_cast<LPARAM>(data);
                if (ListDirect(FListView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lv)) < 0) {
                    delete data;
                    continue;
                }
                widths.push_back(measure(c->FCaption));
                captions.push_back(c->FCaption);
                ++row;
            }
        }
        W = menu_layout::ColumnWidth(widths);
        SendMessageW(FListView, LVM_SETCOLUMNWIDTH, 0, W);
        for (int r = 0; r < row; ++r) {
            if (widths[r] <= W - 42) continue;
            std::wstring cut = menu_layout::CutCaption(captions[r], W, measure);
            if (cut != captions[r]) {
                LVITEMW lv{};
                lv.pszText = cut.data();
                SendMessageW(FListView, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&lv));
            }
        }

        RECT wr = FForm->BoundsRect();
        left = wr.left;
        top = wr.top;
        auto size = menu_layout::SizeWindow(row, W, top, GetSystemMetrics(SM_CYSCREEN));
        height = size.Height;
        width = size.Width;
        int ownerLeft = INT_MIN;
        if (FOwner && FOwner->FForm && FOwner->FForm->Handle()) ownerLeft = FOwner->FForm->BoundsRect().left;
        int screenW = GetSystemMetrics(SM_CXSCREEN);
        left = menu_layout::LeftEdge(left, width, screenW, ownerLeft);
        // Columns past the screen's edge get no window area and no picture: a folder of
        // thousands of entries would otherwise make a window tens of thousands of pixels wide.
        FLayoutWidth = size.Width;
        width = menu_layout::ShownWidth(left, size, W, screenW);
        int shownColumns = std::max(1, width / std::max(1, W));
        SetWindowPos(FForm->Handle(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        // A list in list mode keeps room for a horizontal scroll bar below its rows (the 17 in
        // the height). Where that room differs, the list reaches below the window until each
        // column holds the rows the height was made for.
        int perColumn = std::max(1, (height - 17) / menu_layout::RowPitch);
        for (int extra = 0; extra <= 40; ++extra) {
            MoveWindow(FListView, 0, 0, width, height + extra, FALSE);
            int page = static_cast<int>(SendMessageW(FListView, LVM_GETCOUNTPERPAGE, 0, 0));
            if (page / shownColumns >= perColumn) break;
        }
        FForm->Filling = false;
        // The rows stay where the list put them until the next fill.
        for (int r = 0; r < row; ++r) {
            LVITEMW lv{};
            lv.mask = LVIF_PARAM;
            lv.iItem = r;
            ListDirect(FListView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
            RECT b{LVIR_BOUNDS}, ic{LVIR_ICON};
            ListDirect(FListView, LVM_GETITEMRECT, r, reinterpret_cast<LPARAM>(&b));
            ListDirect(FListView, LVM_GETITEMRECT, r, reinterpret_cast<LPARAM>(&ic));
            FRowCache.push_back(reinterpret_cast<TMenuRowData*>(lv.lParam));
            FBoundsCache.push_back(b);
            FIconTopCache.push_back(ic.top);
        }
    } catch (const std::exception& e) {
        if (FForm) FForm->Filling = false;
        Log(4, L"(c6) / " + FCaption + L" /" + What(e));
    }
    CreateEditBoxes();
    // Off-screen picture: a top-down premultiplied 32-bit DIB that GDI+ draws on directly.
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -(height + 1);
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bmp.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp) throw std::runtime_error("the menu picture cannot be made");
    BackGround = std::make_unique<Gdiplus::Bitmap>(width, height + 1, width * 4, PixelFormat32bppPARGB,
                                                   static_cast<BYTE*>(bits));
    DC.reset(CreateCompatibleDC(nullptr));
    bmp_old = static_cast<HBITMAP>(SelectObject(DC.get(), bmp.get()));
    Graphics = std::make_unique<Gdiplus::Graphics>(BackGround.get());
    Graphics->SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
    pen = std::make_unique<Gdiplus::Pen>(Gdiplus::Color(255, 0, 0, 0), 1.0f);
    brush = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(Config.ActiveScheme().Transparency, 255, 255, 255));
    FontFamily = std::make_unique<Gdiplus::FontFamily>(L"Times New Roman");
    Font = std::make_unique<Gdiplus::Font>(FontFamily.get(), 14.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    pt1 = POINT{left, top};
    pt2 = POINT{0, 0};
    sz = SIZE{width, height + 1};
    UpdateWindow(-1, false);
}

// ---- ReleaseWindowResources ----

void TDKMenuItem::ReleaseWindowResources() {
    int id = MenuIdForLog();
    try {
        if (FForm && FListView) {
            FForm->Filling = true;
            int n = RowCount();
            for (int r = 0; r < n; ++r) {
                TMenuRowData* d = RowData(r);
                if (!d) continue;
                if (FItems && d->ItemIndex >= 0 && d->ItemIndex < Count()) (*FItems)[d->ItemIndex]->CloseWindow();
                if (d->Edit) {
                    std::shared_ptr<TMenuEdit> edit(d->Edit.release());
                    ShowWindow(edit->Handle, SW_HIDE);
                    DeferFree([edit] {});
                }
                delete d;
                LVITEMW lv{};
                lv.mask = LVIF_PARAM;
                lv.iItem = r;
                lv.lParam = 0;
                SendMessageW(FListView, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
            }
            FRowCache.clear();
            FBoundsCache.clear();
            FIconTopCache.clear();
            SendMessageW(FListView, LVM_DELETEALLITEMS, 0, 0);
            FForm->Filling = false;
        }
    } catch (const std::exception& e) {
        if (FForm) FForm->Filling = false;
        Log(4, L"(c18) " + What(e) + L"/ " + std::to_wstring(id) + L" /");
    }
    try {
        FIconPictures.clear();
        FSysIconPictures.clear();
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
        FLayoutWidth = 0;
    } catch (const std::exception& e) {
        Log(4, L"(c7) " + What(e) + L"/ " + std::to_wstring(id) + L" /");
    }
}

// ---- CloseWindow ----

void TDKMenuItem::CloseWindow() {
    if (FItems)
        for (TDKMenuItem* c : *FItems) c->CloseWindow();
    StopFolderWatch();
    if (!FForm) return;
    if (FDragged) {
        // Stored items keep their window for the next ShowAt; a drag from it goes on, since its
        // list still exists (dragging out of a group into the window beside it).
        if (FHoldMouseTimer) FHoldMouseTimer->SetEnabled(false);
        if (FRotateIconTimer) FRotateIconTimer->SetEnabled(false);
        if (FForm->Handle()) ShowWindow(FForm->Handle(), SW_HIDE);
        return;
    }
    DestroyWindowParts();
}

void TDKMenuItem::DestroyWindowParts() {
    if (!FForm) return;
    CancelDrag(this);
    ReleaseWindowResources();
    FDragPosition.Row = -1.0f;
    if (FListView) {
        UnregisterList(FListView);
        RemoveWindowSubclass(FListView, ListProc, 1);
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
    DeferFree([form, hold, rotate, images, popup]() mutable {
        form.reset();  // destroys the list with the window
        hold.reset();
        rotate.reset();
        images.reset();
        popup.reset();
    });
}
