#include "settings/ConfigsDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "Application.h"

namespace {

enum : int {
    idList = 10,
    idOK = IDOK,
    idCancel = IDCANCEL,
    idAutoHide = 20,
    idClockFormats,
    idAddClockFormat,
    idDeleteClockFormat,
    idScheme,
    idAddScheme,
    idDeleteScheme,
    idTransparency,
    idMenus,
    idCheckBox = 100,  // + menu id
    idPanel = 200,     // + menu id
};

const wchar_t* const PanelClass = L"TConfigsPanel";
const wchar_t* const PageClass = L"TConfigsPage";
const UINT WM_RELEASE = WM_APP + 40;

const wchar_t* const MenuRowNames[MENU_COUNT] = {L"Programs", L"Files", L"Appilcation", L"Internet", L"Network",
                                                 L"System",   L"Tray",  L"Help",        L"Clock"};

std::wstring LocaleText(LCTYPE type, const wchar_t* fallback) {
    wchar_t buf[32] = {};
    int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 32);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring(fallback);
}

using gui::WindowText;

// Notebook pages and the notebook hand their controls' notifications to the form.
LRESULT CALLBACK PageProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_HSCROLL:
            return SendMessageW(GetAncestor(h, GA_ROOT), msg, wp, lp);
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            // The enable boxes stand over the list view's rows: same background as the rows.
            int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
            if (id >= idCheckBox && id < idCheckBox + MENU_COUNT) {
                SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        }
    }
    return DefWindowProcW(h, msg, wp, lp);
}

// A caption-less panel in one colour with a raised bevel; a click (press and release over it)
// is reported to its parent as STN_CLICKED. The colour is the window's user data.
LRESULT CALLBACK PanelProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(h, &ps);
            RECT r;
            GetClientRect(h, &r);
            gui::BrushHandle b(CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(h, GWLP_USERDATA))));
            FillRect(dc, &r, b.get());
            DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
            EndPaint(h, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
            SetCapture(h);
            return 0;
        case WM_LBUTTONUP: {
            if (GetCapture() != h) return 0;
            ReleaseCapture();
            RECT r;
            GetClientRect(h, &r);
            POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            if (PtInRect(&r, p))
                SendMessageW(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), STN_CLICKED),
                             reinterpret_cast<LPARAM>(h));
            return 0;
        }
    }
    return DefWindowProcW(h, msg, wp, lp);
}

void RegisterHelperClasses() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{sizeof(wc)};
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpfnWndProc = gui::GuardedProc<PageProc>;
    wc.lpszClassName = PageClass;
    RegisterClassExW(&wc);
    wc.lpfnWndProc = gui::GuardedProc<PanelProc>;
    wc.lpszClassName = PanelClass;
    wc.hbrBackground = nullptr;
    RegisterClassExW(&wc);
    done = true;
}

// Replaces row i of a combo box, keeping what the user is typing in its edit field and where.
void SetComboRow(HWND cb, int i, const std::wstring& text) {
    if (i < 0 || i >= static_cast<int>(SendMessageW(cb, CB_GETCOUNT, 0, 0))) return;
    std::wstring edit = WindowText(cb);
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(cb, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    int cur = static_cast<int>(SendMessageW(cb, CB_GETCURSEL, 0, 0));
    SendMessageW(cb, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
    SendMessageW(cb, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.c_str()));
    if (cur == i) SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    if (WindowText(cb) != edit) SetWindowTextW(cb, edit.c_str());
    SendMessageW(cb, CB_SETEDITSEL, 0, MAKELPARAM(selStart, selEnd));
}

void FillCombo(HWND cb, const std::vector<std::wstring>& rows, int selected) {
    SendMessageW(cb, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& s : rows) SendMessageW(cb, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
    SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

}  // namespace

std::wstring SystemLongTimeFormat() {
    std::wstring hour = LocaleText(LOCALE_ITLZERO, L"0") == L"0" ? L"h" : L"hh";
    std::wstring prefix, postfix;
    if (LocaleText(LOCALE_ITIME, L"0") == L"0") {
        if (LocaleText(LOCALE_ITIMEMARKPOSN, L"0") == L"0")
            postfix = L" AMPM";
        else
            prefix = L"AMPM ";
    }
    return prefix + hour + L":mm:ss" + postfix;
}

TfrmConfigs::TfrmConfigs(TConfig& AConfig)
    : OldClockFormats(std::make_unique<gui::StringList>()),
      FConfig(AConfig),
      FColorDialog(std::make_unique<gui::ColorDialog>()) {
    RegisterHelperClasses();
    FFont.reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"));
    FBoldFont.reset(CreateFontW(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"));

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT r{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    int w = r.right - r.left, h = r.bottom - r.top;
    HWND owner = gui::App().Initialized() ? gui::App().Handle() : nullptr;
    gui::WindowClass cls{ClassName, 0, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), nullptr, nullptr};
    if (!Create(cls, L"Options", style, exStyle, 0, 0, w, h, owner))
        throw std::runtime_error("the options dialog could not be created");
    // The frame's real size decides; the client area must come out exact.
    RECT c{};
    GetClientRect(Handle(), &c);
    w += ClientWidth - (c.right - c.left);
    h += ClientHeight - (c.bottom - c.top);
    SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                 w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    gui::App().AddDialog(Handle());
}

TfrmConfigs::~TfrmConfigs() = default;

HWND TfrmConfigs::Add(const std::wstring& Name, const wchar_t* Class, const std::wstring& Text, DWORD Style, int X,
                      int Y, int W, int H, HWND Parent, int Id, DWORD ExStyle) {
    HWND h = CreateWindowExW(ExStyle, Class, Text.c_str(), WS_CHILD | WS_VISIBLE | Style, X, Y, W, H, Parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleW(nullptr), nullptr);
    if (!h) throw std::runtime_error("the options dialog could not create a control");
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);
    FControls.emplace_back(Name, h);
    return h;
}

// Labels size themselves to their text.
HWND TfrmConfigs::AddLabel(const std::wstring& Name, const std::wstring& Text, int X, int Y, HWND Parent) {
    SIZE sz{};
    {
        gui::WindowDC dc(Handle());
        gui::SelectScope font(dc.get(), FFont.get());
        GetTextExtentPoint32W(dc.get(), Text.c_str(), static_cast<int>(Text.size()), &sz);
    }
    return Add(Name, L"STATIC", Text, SS_LEFT | SS_NOPREFIX, X, Y, sz.cx, sz.cy, Parent, -1);
}

void TfrmConfigs::AddHint(HWND Control, const wchar_t* Text) {
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Control);
    ti.lpszText = const_cast<wchar_t*>(Text);
    SendMessageW(FHint, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void TfrmConfigs::CreateControls() {
    HWND form = Handle();
    FHint = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, form,
                            nullptr, GetModuleHandleW(nullptr), nullptr);

    HWND lb = Add(L"lbConfig", L"LISTBOX", L"", WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 8, 8, 97, 273, form,
                  idList, WS_EX_CLIENTEDGE);
    for (const wchar_t* s : {L"General", L"View"}) SendMessageW(lb, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    HWND nb = Add(L"nbConfig", PageClass, L"", WS_CLIPCHILDREN, 111, 8, 273, 273, form, -1, WS_EX_CONTROLPARENT);
    FPages[0] = Add(L"tsGeneral", PageClass, L"General", WS_CLIPCHILDREN, 0, 0, 273, 273, nb, -1, WS_EX_CONTROLPARENT);
    FPages[1] = Add(L"tsView", PageClass, L"View", WS_CLIPCHILDREN, 0, 0, 273, 273, nb, -1, WS_EX_CONTROLPARENT);
    ShowWindow(FPages[1], SW_HIDE);
    Add(L"btnOK", L"BUTTON", L"OK", WS_TABSTOP | BS_PUSHBUTTON, 228, 287, 75, 25, form, idOK);
    Add(L"btnCancel", L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 309, 287, 75, 25, form, idCancel);

    // General
    HWND g = FPages[0];
    Add(L"chbAutoHide", L"BUTTON", L"Auto-hide the menu ( requires program restart )", WS_TABSTOP | BS_AUTOCHECKBOX,
        15, 13, 253, 17, g, idAutoHide);
    AddLabel(L"lblClockFormat", L"Clock time format", 15, 48, g);
    Add(L"cbClockFormats", L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 102, 44, 109,
        200, g, idClockFormats);
    HWND b = Add(L"btnAddClockFormat", L"BUTTON", L"+", WS_TABSTOP | BS_PUSHBUTTON, 214, 42, 25, 25, g,
                 idAddClockFormat);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont.get()), FALSE);
    AddHint(b, L"Add new format");
    b = Add(L"btnDeleteClockFormat", L"BUTTON", L"-", WS_TABSTOP | BS_PUSHBUTTON, 240, 42, 24, 26, g,
            idDeleteClockFormat);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont.get()), FALSE);
    AddHint(b, L"Delete this format");

    // View
    HWND v = FPages[1];
    AddLabel(L"lblScheme", L"Scheme", 15, 11, v);
    Add(L"cbScheme", L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 58, 9, 207, 200, v,
        idScheme);
    b = Add(L"btnAddSheme", L"BUTTON", L"+", WS_TABSTOP | BS_PUSHBUTTON, 213, 33, 25, 25, v, idAddScheme);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont.get()), FALSE);
    AddHint(b, L"Add new scheme");
    b = Add(L"btnDeleteScheme", L"BUTTON", L"-", WS_TABSTOP | BS_PUSHBUTTON, 240, 33, 24, 26, v, idDeleteScheme);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont.get()), FALSE);
    AddHint(b, L"Delete this scheme");
    AddLabel(L"lblTranseparency", L"Transeparency", 15, 38, v);
    HWND tb = Add(L"tbTransparency", TRACKBAR_CLASSW, L"", WS_TABSTOP | TBS_HORZ | TBS_NOTICKS | TBS_TOOLTIPS, 84, 35,
                  128, 26, v, idTransparency);
    SendMessageW(tb, TBM_SETRANGEMIN, FALSE, 0);
    SendMessageW(tb, TBM_SETRANGEMAX, TRUE, 255);
    SendMessageW(tb, TBM_SETPAGESIZE, 0, 1);
    SendMessageW(tb, TBM_SETTIPSIDE, TBTS_LEFT, 0);

    HWND lv = Add(L"lvMenus", WC_LISTVIEWW, L"",
                  WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, 9,
                  64, 257, 181, v, idMenus, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(lv, LVS_EX_GRIDLINES);
    // One-pixel images set the rows' height without showing anything; the list view frees them.
    HIMAGELIST images = ImageList_Create(1, 16, ILC_COLOR32, 0, 0);
    ListView_SetImageList(lv, images, LVSIL_SMALL);
    struct Column {
        const wchar_t* Caption;
        int Width;
    };
    int col = 0;
    for (Column c : {Column{L"Menu", 145}, Column{L"Enable", 58}, Column{L"Color", 50}}) {
        LVCOLUMNW lc{};
        lc.mask = LVCF_TEXT | LVCF_WIDTH;
        lc.pszText = const_cast<wchar_t*>(c.Caption);
        lc.cx = c.Width;
        SendMessageW(lv, LVM_INSERTCOLUMNW, static_cast<WPARAM>(col++), reinterpret_cast<LPARAM>(&lc));
    }
    for (int k = 0; k < MENU_COUNT; ++k) {
        LVITEMW it{};
        it.mask = LVIF_TEXT;
        it.iItem = k;
        it.pszText = const_cast<wchar_t*>(MenuRowNames[k]);
        SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
    }
    // The boxes and panels stand over the list view's "Enable" and "Color" columns.
    for (int k = 0; k < MENU_COUNT; ++k) {
        int y = 90 + 17 * k;
        HWND cb = Add(L"CheckBox" + std::to_wstring(k + 1), L"BUTTON", L"", WS_TABSTOP | BS_AUTOCHECKBOX, 177, y, 14,
                      15, v, idCheckBox + k);
        if (k == 5) EnableWindow(cb, FALSE);  // the System menu holds this dialog's command
        SetWindowPos(cb, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        HWND p = Add(L"Panel" + std::to_wstring(k + 1), PanelClass, L"", 0, 214, y, 50, 17, v, idPanel + k);
        SetWindowPos(p, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        AddHint(p, L"Click to change color");
    }
    AddLabel(L"Label1", L"Note: Menu enabling option requires program restart", 15, 253, v);

    // Key releases in the two combo boxes' edit fields.
    for (HWND c : {Control(L"cbClockFormats"), Control(L"cbScheme")}) {
        COMBOBOXINFO info{sizeof(info)};
        if (GetComboBoxInfo(c, &info) && info.hwndItem)
            SetWindowSubclass(info.hwndItem, ComboEditProc, static_cast<UINT_PTR>(GetDlgCtrlID(c)),
                              reinterpret_cast<DWORD_PTR>(this));
    }
}

HWND TfrmConfigs::Control(const std::wstring& Name) const {
    for (const auto& [name, h] : FControls)
        if (name == Name) return h;
    return nullptr;
}

LRESULT CALLBACK TfrmConfigs::ComboEditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(h, ComboEditProc, id);
    LRESULT r = DefSubclassProc(h, msg, wp, lp);
    if (msg == WM_KEYUP) {
        auto* self = reinterpret_cast<TfrmConfigs*>(data);
        gui::Guarded("TfrmConfigs", [&] {
            if (id == idClockFormats)
                self->cbClockFormatsKeyUp();
            else
                self->cbSchemeKeyUp();
        });
    }
    return r;
}

void TfrmConfigs::SetPage(int Index) {
    if (Index < 0 || Index >= static_cast<int>(FPages.size())) return;
    FPageIndex = Index;
    for (int i = 0; i < static_cast<int>(FPages.size()); ++i) ShowWindow(FPages[i], i == Index ? SW_SHOW : SW_HIDE);
}

void TfrmConfigs::ShowAndFill() {
    FClosing = false;
    SetPage(0);
    SendMessageW(Control(L"lbConfig"), LB_SETCURSEL, 0, 0);
    SendMessageW(Control(L"chbAutoHide"), BM_SETCHECK, FConfig.HideMenu ? BST_CHECKED : BST_UNCHECKED, 0);

    // An active index past its list's end is brought to the last entry, the one already in use.
    int schemes = static_cast<int>(FConfig.Scheme.size());
    if (schemes > 0 && FConfig.ActiveSchemeInd >= schemes) FConfig.ActiveSchemeInd = static_cast<BYTE>(schemes - 1);
    std::vector<std::wstring> names;
    for (const TScheme& s : FConfig.Scheme) names.push_back(s.Name);
    FillCombo(Control(L"cbScheme"), names, schemes > 0 ? FConfig.ActiveSchemeInd : -1);
    if (schemes == 0) ShowScheme(FConfig.ActiveScheme());  // what the bar uses without schemes
    cbSchemeSelect();
    OldScheme = FConfig.Scheme;
    OldActiveScheme = FConfig.ActiveSchemeInd;

    int formats = FConfig.ClockFormats.Count();
    if (formats > 0 && FConfig.ActiveClockInd >= formats) FConfig.ActiveClockInd = static_cast<BYTE>(formats - 1);
    FillCombo(Control(L"cbClockFormats"), FConfig.ClockFormats.lines, formats > 0 ? FConfig.ActiveClockInd : -1);
    *OldClockFormats = FConfig.ClockFormats;
    OldActiveClockFormat = FConfig.ActiveClockInd;

    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}

void TfrmConfigs::ShowScheme(const TScheme& S) {
    SendMessageW(Control(L"tbTransparency"), TBM_SETPOS, TRUE, S.Transparency);
    for (int k = 0; k < MENU_COUNT; ++k) {
        SendMessageW(Control(L"CheckBox" + std::to_wstring(k + 1)), BM_SETCHECK,
                     S.MenuEnabling[static_cast<size_t>(k)] ? BST_CHECKED : BST_UNCHECKED, 0);
        SetPanelColor(k, S.MenuColors[static_cast<size_t>(k)]);
    }
}

void TfrmConfigs::SetPanelColor(int Tag, COLORREF Color) {
    FPanelColors.at(static_cast<size_t>(Tag)) = Color;
    HWND p = Control(L"Panel" + std::to_wstring(Tag + 1));
    SetWindowLongPtrW(p, GWLP_USERDATA, static_cast<LONG_PTR>(Color));
    InvalidateRect(p, nullptr, TRUE);
}

void TfrmConfigs::FireColorChanged() {
    if (FConfig.OnColorChanged) FConfig.OnColorChanged(nullptr);
}

void TfrmConfigs::lbConfigClick() {
    SetPage(static_cast<int>(SendMessageW(Control(L"lbConfig"), LB_GETCURSEL, 0, 0)));
}

void TfrmConfigs::chbAutoHideClick() {
    FConfig.HideMenu = SendMessageW(Control(L"chbAutoHide"), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TfrmConfigs::cbClockFormatsSelect() {
    int sel = static_cast<int>(SendMessageW(Control(L"cbClockFormats"), CB_GETCURSEL, 0, 0));
    if (sel >= 0 && sel < FConfig.ClockFormats.Count()) FConfig.ActiveClockInd = static_cast<BYTE>(sel);
}

void TfrmConfigs::cbClockFormatsKeyUp() {
    int i = FConfig.ActiveClockInd;
    if (i >= FConfig.ClockFormats.Count()) return;
    HWND cb = Control(L"cbClockFormats");
    FConfig.ClockFormats[i] = WindowText(cb);
    SetComboRow(cb, i, FConfig.ClockFormats[i]);
}

void TfrmConfigs::btnAddClockFormatClick() {
    HWND cb = Control(L"cbClockFormats");
    std::wstring f = SystemLongTimeFormat() + L" 'New!'";
    auto& lines = FConfig.ClockFormats.lines;
    auto at = std::find(lines.begin(), lines.end(), f);
    if (at != lines.end()) {
        SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(at - lines.begin()), 0);
    } else if (FConfig.ClockFormats.Count() < MaxConfigEntries) {
        FConfig.ClockFormats.Add(f);
        int row = static_cast<int>(SendMessageW(cb, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(f.c_str())));
        SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    }
    cbClockFormatsSelect();
}

void TfrmConfigs::btnDeleteClockFormatClick() {
    int count = FConfig.ClockFormats.Count();
    if (count <= 1) return;  // the clock always needs a format
    int i = std::min<int>(FConfig.ActiveClockInd, count - 1);
    HWND cb = Control(L"cbClockFormats");
    SendMessageW(cb, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
    FConfig.ClockFormats.lines.erase(FConfig.ClockFormats.lines.begin() + i);
    if (i >= FConfig.ClockFormats.Count()) --i;
    FConfig.ActiveClockInd = static_cast<BYTE>(i);
    SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    cbClockFormatsSelect();
}

void TfrmConfigs::cbSchemeSelect() {
    int sel = static_cast<int>(SendMessageW(Control(L"cbScheme"), CB_GETCURSEL, 0, 0));
    if (sel < 0 || sel >= static_cast<int>(FConfig.Scheme.size())) return;
    ShowScheme(FConfig.Scheme[static_cast<size_t>(sel)]);
    FConfig.ActiveSchemeInd = static_cast<BYTE>(sel);
    FireColorChanged();
}

void TfrmConfigs::cbSchemeKeyUp() {
    if (FConfig.Scheme.empty()) return;
    int i = std::min<int>(FConfig.ActiveSchemeInd, static_cast<int>(FConfig.Scheme.size()) - 1);
    HWND cb = Control(L"cbScheme");
    FConfig.Scheme[static_cast<size_t>(i)].Name = WindowText(cb);
    SetComboRow(cb, i, FConfig.Scheme[static_cast<size_t>(i)].Name);
}

void TfrmConfigs::btnAddShemeClick() {
    HWND cb = Control(L"cbScheme");
    auto& schemes = FConfig.Scheme;
    auto at = std::find_if(schemes.begin(), schemes.end(), [](const TScheme& s) { return s.Name == NewSchemeName; });
    if (at != schemes.end()) {
        SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(at - schemes.begin()), 0);
    } else if (static_cast<int>(schemes.size()) < MaxConfigEntries) {
        TScheme s;
        s.Name = NewSchemeName;
        s.Transparency = NewSchemeTransparency;
        s.MenuEnabling.fill(true);
        s.MenuColors.fill(NewSchemeColor);
        schemes.push_back(s);
        int row = static_cast<int>(SendMessageW(cb, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.Name.c_str())));
        SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    }
    cbSchemeSelect();
}

void TfrmConfigs::btnDeleteSchemeClick() {
    int count = static_cast<int>(FConfig.Scheme.size());
    if (count <= 1) return;  // the bar always needs a scheme
    int i = std::min<int>(FConfig.ActiveSchemeInd, count - 1);
    HWND cb = Control(L"cbScheme");
    FConfig.Scheme.erase(FConfig.Scheme.begin() + i);
    SendMessageW(cb, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
    if (i >= static_cast<int>(FConfig.Scheme.size())) --i;
    FConfig.ActiveSchemeInd = static_cast<BYTE>(i);
    SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    cbSchemeSelect();
}

// The scheme handlers below store nothing while there is no scheme to store into.
void TfrmConfigs::tbTransparencyChange() {
    if (FConfig.Scheme.empty()) return;
    auto pos = SendMessageW(Control(L"tbTransparency"), TBM_GETPOS, 0, 0);
    FConfig.ActiveScheme().Transparency = static_cast<BYTE>(std::clamp<LRESULT>(pos, 0, 255));
}

void TfrmConfigs::CheckBox1Click(int Tag) {
    if (FConfig.Scheme.empty() || Tag < 0 || Tag >= MENU_COUNT) return;
    HWND box = Control(L"CheckBox" + std::to_wstring(Tag + 1));
    FConfig.ActiveScheme().MenuEnabling[static_cast<size_t>(Tag)] =
        SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TfrmConfigs::Panel1Click(int Tag) {
    if (FConfig.Scheme.empty() || Tag < 0 || Tag >= MENU_COUNT) return;
    FColorDialog->Color = PanelColor(Tag);
    FInColorDialog = true;
    bool chosen = FColorDialog->Execute(Handle());
    FInColorDialog = false;
    if (FReleasePending) PostMessageW(Handle(), WM_RELEASE, 0, 0);
    // The dialog may have closed while the chooser was up.
    if (!chosen || FClosing || FConfig.Scheme.empty()) return;
    SetPanelColor(Tag, FColorDialog->Color);
    FConfig.ActiveScheme().MenuColors[static_cast<size_t>(Tag)] = FColorDialog->Color;
    FireColorChanged();
}

void TfrmConfigs::btnOKClick() { Close(); }

void TfrmConfigs::btnCancelClick() {
    FConfig.Scheme = OldScheme;
    FConfig.ActiveSchemeInd = OldActiveScheme;
    FireColorChanged();
    FConfig.ClockFormats = *OldClockFormats;
    FConfig.ActiveClockInd = OldActiveClockFormat;
    Close();
}

void TfrmConfigs::Close() {
    if (FClosing) return;
    FClosing = true;
    FormClose();
    // Freed once the handler that closed it has returned.
    PostMessageW(Handle(), WM_RELEASE, 0, 0);
}

void TfrmConfigs::FormClose() {
    if (!FInColorDialog) FColorDialog.reset();  // else it goes with the form
    OldClockFormats.reset();
    if (FConfig.frmConfigs == this) FConfig.frmConfigs = nullptr;
}

void TfrmConfigs::OnCommand(int Id, int Code) {
    if (Id >= idCheckBox && Id < idCheckBox + MENU_COUNT) {
        if (Code == BN_CLICKED) CheckBox1Click(Id - idCheckBox);
        return;
    }
    if (Id >= idPanel && Id < idPanel + MENU_COUNT) {
        if (Code == STN_CLICKED) Panel1Click(Id - idPanel);
        return;
    }
    switch (Id) {
        case idList:
            if (Code == LBN_SELCHANGE) lbConfigClick();
            break;
        case idOK:
            if (Code == BN_CLICKED) btnOKClick();
            break;
        case idCancel:
            if (Code == BN_CLICKED) btnCancelClick();
            break;
        case idAutoHide:
            if (Code == BN_CLICKED) chbAutoHideClick();
            break;
        case idClockFormats:
            if (Code == CBN_SELCHANGE) cbClockFormatsSelect();
            break;
        case idAddClockFormat:
            if (Code == BN_CLICKED) btnAddClockFormatClick();
            break;
        case idDeleteClockFormat:
            if (Code == BN_CLICKED) btnDeleteClockFormatClick();
            break;
        case idScheme:
            if (Code == CBN_SELCHANGE) cbSchemeSelect();
            break;
        case idAddScheme:
            if (Code == BN_CLICKED) btnAddShemeClick();
            break;
        case idDeleteScheme:
            if (Code == BN_CLICKED) btnDeleteSchemeClick();
            break;
    }
}

LRESULT TfrmConfigs::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            if (!FClosing) OnCommand(LOWORD(wp), HIWORD(wp));
            return 0;
        case WM_HSCROLL:
            if (!FClosing && reinterpret_cast<HWND>(lp) == Control(L"tbTransparency")) tbTransparencyChange();
            return 0;
        case WM_CLOSE:
            Close();  // the close box keeps the edits, like "OK"
            return 0;
        case WM_DESTROY:
            gui::App().RemoveDialog(Handle());
            break;
        case WM_RELEASE:
            // Not while the colour chooser runs on this form's stack.
            FReleasePending = FInColorDialog;
            if (!FInColorDialog) DestroyWindow(Handle());
            return 0;
    }
    return DefaultHandler(msg, wp, lp);
}

void TfrmConfigs::Destroyed() {
    if (FConfig.frmConfigs == this) FConfig.frmConfigs = nullptr;
    delete this;
}

void ShowConfigDialog(TConfig& AConfig) {
    if (!AConfig.frmConfigs) AConfig.frmConfigs = new TfrmConfigs(AConfig);
    AConfig.frmConfigs->ShowAndFill();
}
