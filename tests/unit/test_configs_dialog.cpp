// The options dialog as a real window: its layout, every handler through the controls' own
// messages or real input, the snapshot behind "Cancel", and one dialog at most.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Application.h"
#include "settings/ConfigsDialog.h"
#include "IniFile.h"
#include "SysUtils.h"
#include "TestSupport.h"

using testing_support::BinDir;
using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFileBytes;

namespace {

std::wstring Text(HWND h) {
    wchar_t buf[256] = {};
    GetWindowTextW(h, buf, 256);
    return buf;
}

// A control's rectangle in its parent's client coordinates.
RECT InParent(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<std::wstring> ComboRows(HWND cb) {
    std::vector<std::wstring> rows;
    int n = static_cast<int>(SendMessageW(cb, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        wchar_t buf[256] = {};
        SendMessageW(cb, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
        rows.push_back(buf);
    }
    return rows;
}

std::vector<std::wstring> Names() {
    std::vector<std::wstring> n;
    for (const TScheme& s : Config.Scheme) n.push_back(s.Name);
    return n;
}

TScheme MakeScheme(const std::wstring& name, BYTE transparency, COLORREF color) {
    TScheme s;
    s.Name = name;
    s.Transparency = transparency;
    s.MenuColors.fill(color);
    return s;
}

bool SameScheme(const TScheme& a, const TScheme& b) {
    return a.Name == b.Name && a.Transparency == b.Transparency && a.MenuEnabling == b.MenuEnabling &&
           a.MenuColors == b.MenuColors;
}

void Press(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof(in));
}

// Saves the window's picture from the screen as a PNG file.
bool SaveWindowShot(HWND h, const std::wstring& file) {
    // Under load the controls may not have painted yet.
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r{};
    GetWindowRect(h, &r);
    int w = r.right - r.left, ht = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, ht);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    bool ok = false;
    {
        Gdiplus::Bitmap picture(bmp, nullptr);
        CLSID png{};
        UINT num = 0, size = 0;
        Gdiplus::GetImageEncodersSize(&num, &size);
        std::vector<BYTE> buf(size);
        auto* enc = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
        Gdiplus::GetImageEncoders(num, size, enc);
        for (UINT i = 0; i < num; ++i)
            if (std::wstring(enc[i].MimeType) == L"image/png") png = enc[i].Clsid;
        ok = picture.Save(file.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

class ConfigsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        Config.Scheme = {MakeScheme(L"Day", 100, RGB(200, 10, 10)), MakeScheme(L"Dusk", 120, RGB(10, 200, 10)),
                         MakeScheme(L"Night", 140, RGB(10, 10, 200))};
        Config.Scheme[1].MenuColors[3] = RGB(1, 2, 3);
        Config.Scheme[1].MenuEnabling[2] = false;
        Config.ActiveSchemeInd = 1;
        Config.ClockFormats.Clear();
        Config.ClockFormats.Add(L"hh:nn");
        Config.ClockFormats.Add(L"dd.mm hh:nn:ss");
        Config.ActiveClockInd = 1;
        Config.HideMenu = false;
        Config.OnColorChanged = [this](void* sender) {
            ++colorEvents;
            EXPECT_EQ(sender, nullptr);
        };
        gui::ColorDialog::SetExecuteHook([this](HWND owner, COLORREF& c) {
            chooserOwners.push_back(owner);
            chooserPreset.push_back(c);
            if (!chooserAnswer) return false;
            c = *chooserAnswer;
            return true;
        });
    }
    void TearDown() override {
        if (Config.frmConfigs) Config.frmConfigs->Close();
        while (HWND h = FindWindowW(TfrmConfigs::ClassName, nullptr)) {
            if (!WaitUntil([h] { return !IsWindow(h); }, 3000)) {
                DestroyWindow(h);
                break;
            }
        }
        gui::ColorDialog::SetExecuteHook(nullptr);
        Config.OnColorChanged = nullptr;
        Config.Scheme.clear();
        Config.ClockFormats.Clear();
        Config.ActiveSchemeInd = Config.ActiveClockInd = 0;
    }
    TfrmConfigs& Open() {
        ShowConfigDialog(Config);
        EXPECT_NE(Config.frmConfigs, nullptr);
        return *Config.frmConfigs;
    }
    HWND C(const wchar_t* name) { return Config.frmConfigs->Control(name); }
    // What the controls send when the user uses them.
    void Click(const wchar_t* name) { SendMessageW(C(name), BM_CLICK, 0, 0); }
    void Choose(const wchar_t* combo, int row) {
        HWND cb = C(combo);
        SendMessageW(cb, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
        SendMessageW(GetParent(cb), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(cb), CBN_SELCHANGE), reinterpret_cast<LPARAM>(cb));
    }
    // Sets the edit field's text and releases a key in it, as typing does.
    void Type(const wchar_t* combo, const std::wstring& text) {
        COMBOBOXINFO info{sizeof(info)};
        ASSERT_TRUE(GetComboBoxInfo(C(combo), &info));
        SetWindowTextW(info.hwndItem, text.c_str());
        SendMessageW(info.hwndItem, WM_KEYUP, 'X', 0xC0000001);
    }
    void ClickPanel(int tag) {
        HWND p = C((L"Panel" + std::to_wstring(tag + 1)).c_str());
        SendMessageW(p, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 8));
        SendMessageW(p, WM_LBUTTONUP, 0, MAKELPARAM(10, 8));
    }
    void WaitClosed(HWND h) { EXPECT_TRUE(WaitUntil([h] { return !IsWindow(h); }, 3000)); }

    int colorEvents = 0;
    std::vector<HWND> chooserOwners;
    std::vector<COLORREF> chooserPreset;
    std::optional<COLORREF> chooserAnswer;
};

TEST_F(ConfigsDialog, LaidOutAsItsTableOnScreen) {
    TfrmConfigs& f = Open();
    HWND h = f.Handle();
    ASSERT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(Text(h), L"Options");
    RECT c{};
    GetClientRect(h, &c);
    EXPECT_EQ(c.right, 392);
    EXPECT_EQ(c.bottom, 320);
    RECT w{};
    GetWindowRect(h, &w);
    EXPECT_NEAR((w.left + w.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((w.top + w.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    struct Place {
        const wchar_t* name;
        int x, y, w, h;  // h 0: not fixed by the table
        const wchar_t* text;
    };
    const Place places[] = {
        {L"lbConfig", 8, 8, 97, 273, nullptr},
        {L"nbConfig", 111, 8, 273, 273, nullptr},
        {L"btnOK", 228, 287, 75, 25, L"OK"},
        {L"btnCancel", 309, 287, 75, 25, L"Cancel"},
        {L"chbAutoHide", 15, 13, 253, 17, L"Auto-hide the menu ( requires program restart )"},
        {L"lblClockFormat", 15, 48, 0, 0, L"Clock time format"},
        {L"cbClockFormats", 102, 44, 109, 0, nullptr},
        {L"btnAddClockFormat", 214, 42, 25, 25, L"+"},
        {L"btnDeleteClockFormat", 240, 42, 24, 26, L"-"},
        {L"lblScheme", 15, 11, 0, 0, L"Scheme"},
        {L"cbScheme", 58, 9, 207, 0, nullptr},
        {L"btnAddSheme", 213, 33, 25, 25, L"+"},
        {L"btnDeleteScheme", 240, 33, 24, 26, L"-"},
        {L"lblTranseparency", 15, 38, 0, 0, L"Transeparency"},
        {L"tbTransparency", 84, 35, 128, 26, nullptr},
        {L"lvMenus", 9, 64, 257, 181, nullptr},
        {L"Label1", 15, 253, 0, 0, L"Note: Menu enabling option requires program restart"},
    };
    for (const Place& p : places) {
        HWND ctl = C(p.name);
        ASSERT_NE(ctl, nullptr) << gui::ToUtf8(p.name);
        RECT r = InParent(ctl);
        EXPECT_EQ(r.left, p.x) << gui::ToUtf8(p.name);
        EXPECT_EQ(r.top, p.y) << gui::ToUtf8(p.name);
        if (p.w) {
            EXPECT_EQ(r.right - r.left, p.w) << gui::ToUtf8(p.name);
        }
        if (p.h) {
            EXPECT_EQ(r.bottom - r.top, p.h) << gui::ToUtf8(p.name);
        }
        if (p.text) {
            EXPECT_EQ(Text(ctl), p.text) << gui::ToUtf8(p.name);
        }
    }
    for (int k = 0; k < MENU_COUNT; ++k) {
        RECT b = InParent(C((L"CheckBox" + std::to_wstring(k + 1)).c_str()));
        EXPECT_EQ(b.left, 177);
        EXPECT_EQ(b.top, 90 + 17 * k);
        EXPECT_EQ(b.right - b.left, 14);
        EXPECT_EQ(b.bottom - b.top, 15);
        RECT p = InParent(C((L"Panel" + std::to_wstring(k + 1)).c_str()));
        EXPECT_EQ(p.left, 214);
        EXPECT_EQ(p.top, 90 + 17 * k);
        EXPECT_EQ(p.right - p.left, 50);
        EXPECT_EQ(p.bottom - p.top, 17);
    }
    // The page controls sit on the notebook's pages, which fill the notebook.
    EXPECT_EQ(GetParent(C(L"chbAutoHide")), C(L"tsGeneral"));
    EXPECT_EQ(GetParent(C(L"lvMenus")), C(L"tsView"));
    EXPECT_EQ(GetParent(C(L"tsView")), C(L"nbConfig"));

    // Tahoma 8 pt; the plus and minus buttons in bold.
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(C(L"btnAddSheme"), WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);

    // The list view: three columns, nine rows with their names as they stand.
    HWND lv = C(L"lvMenus");
    EXPECT_EQ(ListView_GetColumnWidth(lv, 0), 145);
    EXPECT_EQ(ListView_GetColumnWidth(lv, 1), 58);
    const wchar_t* rows[] = {L"Programs", L"Files", L"Appilcation", L"Internet", L"Network",
                             L"System",   L"Tray",  L"Help",        L"Clock"};
    ASSERT_EQ(ListView_GetItemCount(lv), 9);
    for (int k = 0; k < 9; ++k) {
        wchar_t buf[64] = {};
        ListView_GetItemText(lv, k, 0, buf, 64);
        EXPECT_STREQ(buf, rows[k]);
    }
    HWND tb = C(L"tbTransparency");

    // Page "General" first; the list box switches the notebook's page.
    std::wstring dir = BinDir() + L"..\\artifacts";
    CreateDirectoryW(dir.c_str(), nullptr);
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    WaitUntil([] { return false; }, 300);
    EXPECT_TRUE(SaveWindowShot(h, dir + L"\\configs_dialog_general.png"));
    EXPECT_EQ(f.PageIndex(), 0);
    EXPECT_TRUE(IsWindowVisible(C(L"chbAutoHide")));
    EXPECT_FALSE(IsWindowVisible(C(L"cbScheme")));
    HWND lb = C(L"lbConfig");
    RECT row{};
    SendMessageW(lb, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
    SendMessageW(lb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, row.top + 2));
    SendMessageW(lb, WM_LBUTTONUP, 0, MAKELPARAM(10, row.top + 2));
    EXPECT_EQ(f.PageIndex(), 1);
    EXPECT_TRUE(IsWindowVisible(C(L"cbScheme")));
    EXPECT_FALSE(IsWindowVisible(C(L"chbAutoHide")));

    // The View page shows the active scheme ("Dusk"): its boxes, panel colours, transparency.
    EXPECT_EQ(Text(C(L"cbScheme")), L"Dusk");
    EXPECT_EQ(SendMessageW(C(L"CheckBox3"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(C(L"CheckBox1"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(C(L"CheckBox6")));
    EXPECT_EQ(SendMessageW(tb, TBM_GETPOS, 0, 0), 120);
    UpdateWindow(h);
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    WaitUntil([] { return false; }, 300);
    for (int k : {0, 3}) {
        HWND p = C((L"Panel" + std::to_wstring(k + 1)).c_str());
        HDC dc = GetDC(p);
        EXPECT_EQ(GetPixel(dc, 25, 8), Config.Scheme[1].MenuColors[static_cast<size_t>(k)]) << k;
        ReleaseDC(p, dc);
    }
    // The boxes stay above the list view's rows after it repaints.
    POINT mid{177 + 7, 90 + 17 * 1 + 7};
    EXPECT_EQ(ChildWindowFromPointEx(C(L"tsView"), mid, CWP_SKIPINVISIBLE), C(L"CheckBox2"));

    EXPECT_TRUE(SaveWindowShot(h, dir + L"\\configs_dialog.png"));
}

TEST_F(ConfigsDialog, SchemesAddRenameAndDelete) {
    Open();
    EXPECT_EQ(ComboRows(C(L"cbScheme")), Names());
    colorEvents = 0;

    // Adding appends "New Scheme" with its defaults and makes it active.
    Click(L"btnAddSheme");
    ASSERT_EQ(Config.Scheme.size(), 4u);
    const TScheme& added = Config.Scheme[3];
    EXPECT_EQ(added.Name, L"New Scheme");
    EXPECT_EQ(added.Transparency, 190);
    for (int k = 0; k < MENU_COUNT; ++k) {
        EXPECT_TRUE(added.MenuEnabling[static_cast<size_t>(k)]);
        EXPECT_EQ(added.MenuColors[static_cast<size_t>(k)], 0x79FFBCu);
    }
    EXPECT_EQ(Config.ActiveSchemeInd, 3);
    EXPECT_EQ(SendMessageW(C(L"cbScheme"), CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(SendMessageW(C(L"tbTransparency"), TBM_GETPOS, 0, 0), 190);
    EXPECT_EQ(colorEvents, 1);

    // A second add only selects the one already there.
    Choose(L"cbScheme", 0);
    EXPECT_EQ(Config.ActiveSchemeInd, 0);
    Click(L"btnAddSheme");
    EXPECT_EQ(Config.Scheme.size(), 4u);
    EXPECT_EQ(Config.ActiveSchemeInd, 3);
    // Choosing schemes changes none of them.
    EXPECT_EQ(Config.Scheme[0].Transparency, 100);
    EXPECT_EQ(Config.Scheme[1].Transparency, 120);
    EXPECT_EQ(Config.Scheme[3].Transparency, 190);

    // Typing renames the active scheme and its row on every key release; once renamed, another
    // "New Scheme" can be added.
    Type(L"cbScheme", L"Dawn");
    EXPECT_EQ(Config.Scheme[3].Name, L"Dawn");
    EXPECT_EQ(ComboRows(C(L"cbScheme")), Names());
    EXPECT_EQ(Text(C(L"cbScheme")), L"Dawn");
    Click(L"btnAddSheme");
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Day", L"Dusk", L"Night", L"Dawn", L"New Scheme"}));

    // Deleting the middle one leaves the next one active at the same index.
    Choose(L"cbScheme", 2);
    Click(L"btnDeleteScheme");
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Day", L"Dusk", L"Dawn", L"New Scheme"}));
    EXPECT_EQ(Config.ActiveSchemeInd, 2);
    EXPECT_EQ(Text(C(L"cbScheme")), L"Dawn");
    // Deleting the last makes the new last one active.
    Choose(L"cbScheme", 3);
    Click(L"btnDeleteScheme");
    EXPECT_EQ(Config.ActiveSchemeInd, 2);
    EXPECT_EQ(ComboRows(C(L"cbScheme")), Names());
    // Never below one scheme.
    Click(L"btnDeleteScheme");
    Click(L"btnDeleteScheme");
    Click(L"btnDeleteScheme");
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Day"}));
    EXPECT_EQ(Config.ActiveSchemeInd, 0);
    EXPECT_EQ(ComboRows(C(L"cbScheme")), Names());
}

// Real key presses into the scheme box: each release renames, the caret stays where it is.
TEST_F(ConfigsDialog, TypedSchemeNameRenamesOnEveryKeyRelease) {
    TfrmConfigs& f = Open();
    SendMessageW(C(L"lbConfig"), LB_SETCURSEL, 1, 0);
    f.lbConfigClick();
    HWND h = f.Handle();
    ASSERT_TRUE(WaitUntil([h] { return GetForegroundWindow() == h; }, 3000));
    COMBOBOXINFO info{sizeof(info)};
    ASSERT_TRUE(GetComboBoxInfo(C(L"cbScheme"), &info));
    SetFocus(info.hwndItem);
    SendMessageW(info.hwndItem, EM_SETSEL, 4, 4);  // after "Dusk"
    Press('Y', false);
    Press('Y', true);
    ASSERT_TRUE(WaitUntil([] { return Config.Scheme[1].Name == L"Dusky"; }, 3000)) << gui::ToUtf8(Config.Scheme[1].Name);
    Press('2', false);
    Press('2', true);
    ASSERT_TRUE(WaitUntil([] { return Config.Scheme[1].Name == L"Dusky2"; }, 3000)) << gui::ToUtf8(Config.Scheme[1].Name);
    EXPECT_EQ(ComboRows(C(L"cbScheme"))[1], L"Dusky2");
}

TEST_F(ConfigsDialog, TrackBarBoxesAndPanelsWriteTheActiveScheme) {
    TfrmConfigs& f = Open();
    colorEvents = 0;
    // The track bar moved by its keys writes the active scheme's transparency, no other.
    HWND tb = C(L"tbTransparency");
    SendMessageW(tb, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageW(tb, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(Config.Scheme[1].Transparency, 122);
    SendMessageW(tb, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(Config.Scheme[1].Transparency, 255);
    EXPECT_EQ(Config.Scheme[0].Transparency, 100);
    EXPECT_EQ(Config.Scheme[2].Transparency, 140);

    // Enable boxes store their flag and leave the bar alone until the next start.
    Click(L"CheckBox3");
    EXPECT_TRUE(Config.Scheme[1].MenuEnabling[2]);
    Click(L"CheckBox9");
    EXPECT_FALSE(Config.Scheme[1].MenuEnabling[8]);
    EXPECT_TRUE(Config.Scheme[0].MenuEnabling[8]);
    EXPECT_EQ(colorEvents, 0);

    // A panel click asks the colour chooser, owned by the dialog, with the panel's colour.
    chooserAnswer = RGB(9, 99, 199);
    ClickPanel(3);
    ASSERT_EQ(chooserOwners.size(), 1u);
    EXPECT_EQ(chooserOwners[0], f.Handle());
    EXPECT_EQ(chooserPreset[0], RGB(1, 2, 3));
    EXPECT_EQ(Config.Scheme[1].MenuColors[3], RGB(9, 99, 199));
    EXPECT_EQ(f.PanelColor(3), RGB(9, 99, 199));
    EXPECT_EQ(colorEvents, 1);
    EXPECT_EQ(Config.Scheme[0].MenuColors[3], RGB(200, 10, 10));
    // Cancelling the chooser changes nothing.
    chooserAnswer.reset();
    ClickPanel(0);
    EXPECT_EQ(chooserOwners.size(), 2u);
    EXPECT_EQ(Config.Scheme[1].MenuColors[0], RGB(10, 200, 10));
    EXPECT_EQ(f.PanelColor(0), RGB(10, 200, 10));
    EXPECT_EQ(colorEvents, 1);
}

// The platform's chooser itself: owned by the dialog, opened on the panel's colour.
struct TChooserSeen {
    HWND Owner = nullptr;
    int Red = -1, Green = -1, Blue = -1;
    bool Answered = false;
};
TChooserSeen gChooser;

void CALLBACK AnswerChooser(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dlg = FindWindowW(L"#32770", nullptr);
    if (!dlg || !IsWindowVisible(dlg) || gChooser.Answered) return;
    KillTimer(nullptr, id);
    gChooser.Answered = true;
    gChooser.Owner = GetWindow(dlg, GW_OWNER);
    gChooser.Red = static_cast<int>(GetDlgItemInt(dlg, 706, nullptr, FALSE));
    gChooser.Green = static_cast<int>(GetDlgItemInt(dlg, 707, nullptr, FALSE));
    gChooser.Blue = static_cast<int>(GetDlgItemInt(dlg, 708, nullptr, FALSE));
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
}

TEST_F(ConfigsDialog, RealColorChooserOpensOnThePanelColour) {
    gui::ColorDialog::SetExecuteHook(nullptr);
    TfrmConfigs& f = Open();
    colorEvents = 0;
    gChooser = {};
    UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerChooser);
    ClickPanel(3);  // returns when the chooser has been answered
    KillTimer(nullptr, timer);
    ASSERT_TRUE(gChooser.Answered);
    EXPECT_EQ(gChooser.Owner, f.Handle());
    EXPECT_EQ(gChooser.Red, 1);
    EXPECT_EQ(gChooser.Green, 2);
    EXPECT_EQ(gChooser.Blue, 3);
    // Confirmed unchanged: the colour stays and the bar is told.
    EXPECT_EQ(Config.Scheme[1].MenuColors[3], RGB(1, 2, 3));
    EXPECT_EQ(colorEvents, 1);
}

TEST_F(ConfigsDialog, ClockFormatsAddRenameSelectAndDelete) {
    Open();
    HWND cb = C(L"cbClockFormats");
    EXPECT_EQ(ComboRows(cb), Config.ClockFormats.lines);
    EXPECT_EQ(SendMessageW(cb, CB_GETCURSEL, 0, 0), 1);

    Choose(L"cbClockFormats", 0);
    EXPECT_EQ(Config.ActiveClockInd, 0);

    // A new format: the system's long time and a quoted mark, appended and made active.
    Click(L"btnAddClockFormat");
    std::wstring fresh = SystemLongTimeFormat() + L" 'New!'";
    ASSERT_EQ(Config.ClockFormats.Count(), 3);
    EXPECT_EQ(Config.ClockFormats[2], fresh);
    EXPECT_NE(fresh.find(L":mm:ss"), std::wstring::npos);
    EXPECT_EQ(Config.ActiveClockInd, 2);
    // Twice only selects it.
    Choose(L"cbClockFormats", 0);
    Click(L"btnAddClockFormat");
    EXPECT_EQ(Config.ClockFormats.Count(), 3);
    EXPECT_EQ(Config.ActiveClockInd, 2);

    // Typing changes the active format and its row.
    Type(L"cbClockFormats", L"hh:nn:ss");
    EXPECT_EQ(Config.ClockFormats[2], L"hh:nn:ss");
    EXPECT_EQ(ComboRows(cb), Config.ClockFormats.lines);
    EXPECT_EQ(Config.ActiveClockFormat(), L"hh:nn:ss");

    // Delete: the last one steps back; never below one format.
    Click(L"btnDeleteClockFormat");
    EXPECT_EQ(Config.ClockFormats.lines, (std::vector<std::wstring>{L"hh:nn", L"dd.mm hh:nn:ss"}));
    EXPECT_EQ(Config.ActiveClockInd, 1);
    Choose(L"cbClockFormats", 0);
    Click(L"btnDeleteClockFormat");
    EXPECT_EQ(Config.ClockFormats.lines, (std::vector<std::wstring>{L"dd.mm hh:nn:ss"}));
    EXPECT_EQ(Config.ActiveClockInd, 0);
    Click(L"btnDeleteClockFormat");
    EXPECT_EQ(Config.ClockFormats.Count(), 1);
    EXPECT_EQ(ComboRows(cb), Config.ClockFormats.lines);
    EXPECT_EQ(Text(cb), L"dd.mm hh:nn:ss");
}

TEST_F(ConfigsDialog, CancelRestoresSchemesAndFormatsButNotAutoHide) {
    const std::vector<TScheme> before = Config.Scheme;
    const std::vector<std::wstring> formats = Config.ClockFormats.lines;
    TfrmConfigs& f = Open();
    HWND h = f.Handle();

    Click(L"chbAutoHide");
    EXPECT_TRUE(Config.HideMenu);
    Type(L"cbScheme", L"Renamed");
    Click(L"btnAddSheme");
    Choose(L"cbScheme", 0);
    Click(L"btnDeleteScheme");
    SendMessageW(C(L"tbTransparency"), WM_KEYDOWN, VK_HOME, 0);
    chooserAnswer = RGB(1, 1, 1);
    ClickPanel(5);
    Click(L"btnAddClockFormat");
    Type(L"cbClockFormats", L"nn");
    Choose(L"cbClockFormats", 0);
    Click(L"btnDeleteClockFormat");
    ASSERT_NE(Names(), (std::vector<std::wstring>{L"Day", L"Dusk", L"Night"}));

    colorEvents = 0;
    Click(L"btnCancel");
    ASSERT_EQ(Config.Scheme.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(SameScheme(Config.Scheme[i], before[i])) << i;
    EXPECT_EQ(Config.ActiveSchemeInd, 1);
    EXPECT_EQ(Config.ClockFormats.lines, formats);
    EXPECT_EQ(Config.ActiveClockInd, 1);
    EXPECT_TRUE(Config.HideMenu);
    EXPECT_EQ(colorEvents, 1);
    EXPECT_EQ(Config.frmConfigs, nullptr);
    WaitClosed(h);
}

TEST_F(ConfigsDialog, OkAndTheCloseBoxKeepTheEdits) {
    TfrmConfigs* f = &Open();
    HWND h = f->Handle();
    Click(L"btnAddSheme");
    Click(L"btnAddClockFormat");
    Click(L"btnOK");
    EXPECT_EQ(Config.frmConfigs, nullptr);
    WaitClosed(h);
    EXPECT_EQ(Config.Scheme.size(), 4u);
    EXPECT_EQ(Config.ActiveSchemeInd, 3);
    EXPECT_EQ(Config.ClockFormats.Count(), 3);
    EXPECT_EQ(Config.ActiveClockInd, 2);

    f = &Open();
    h = f->Handle();
    Type(L"cbScheme", L"Kept");
    SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    WaitClosed(h);
    EXPECT_EQ(Config.frmConfigs, nullptr);
    EXPECT_EQ(Config.Scheme[3].Name, L"Kept");
}

TEST_F(ConfigsDialog, OneDialogAtMostAndASecondCallTakesANewSnapshot) {
    TfrmConfigs* f = &Open();
    HWND h = f->Handle();
    Click(L"btnAddSheme");
    ShowConfigDialog(Config);
    EXPECT_EQ(Config.frmConfigs, f);
    EXPECT_EQ(FindWindowExW(nullptr, nullptr, TfrmConfigs::ClassName, nullptr), h);
    EXPECT_EQ(FindWindowExW(nullptr, h, TfrmConfigs::ClassName, nullptr), nullptr);
    EXPECT_EQ(f->OldScheme.size(), 4u);
    EXPECT_EQ(ComboRows(C(L"cbScheme")), Names());
    // The refilled dialog shows page "General" again, on the active scheme.
    EXPECT_EQ(f->PageIndex(), 0);
    EXPECT_EQ(SendMessageW(C(L"cbScheme"), CB_GETCURSEL, 0, 0), 3);
    Click(L"btnCancel");
    EXPECT_EQ(Config.Scheme.size(), 4u);
    WaitClosed(h);

    // After closing, the next call makes a new dialog.
    EXPECT_NE(Open().Handle(), h);
}

// Indexes past their lists and a file without schemes do not upset the dialog.
TEST_F(ConfigsDialog, OutOfRangeIndexesAndNoSchemes) {
    Config.ActiveSchemeInd = 7;
    Config.ActiveClockInd = 9;
    Open();
    EXPECT_EQ(Config.ActiveSchemeInd, 2);
    EXPECT_EQ(Config.ActiveClockInd, 1);
    EXPECT_EQ(Text(C(L"cbScheme")), L"Night");
    EXPECT_EQ(Text(C(L"cbClockFormats")), L"dd.mm hh:nn:ss");
    Click(L"btnCancel");

    Config.Scheme.clear();
    TfrmConfigs& f = Open();
    EXPECT_TRUE(ComboRows(C(L"cbScheme")).empty());
    SendMessageW(C(L"tbTransparency"), WM_KEYDOWN, VK_HOME, 0);
    Click(L"CheckBox1");
    Click(L"btnDeleteScheme");
    chooserAnswer = RGB(5, 5, 5);
    ClickPanel(0);
    EXPECT_TRUE(Config.Scheme.empty());
    EXPECT_TRUE(chooserOwners.empty());
    EXPECT_EQ(Config.ActiveScheme().Transparency, TScheme{}.Transparency);
    Click(L"btnAddSheme");
    ASSERT_EQ(Config.Scheme.size(), 1u);
    EXPECT_EQ(Config.ActiveSchemeInd, 0);
    EXPECT_EQ(f.PanelColor(0), TfrmConfigs::NewSchemeColor);
}

// The first start's settings file holds no scheme: the dialog lists the built-in one, its colour
// cells change it, and the change is what the file gets at exit.
TEST_F(ConfigsDialog, FirstStartListsTheBuiltInSchemeAndEditsIt) {
    TempDir dir;
    const std::wstring ini = dir / L"orvane.ini";
    WriteFileBytes(ini, "[General]\r\nLogPriority=1\r\n");
    LoadConfig(Config, ini);
    TfrmConfigs& f = Open();
    EXPECT_EQ(ComboRows(C(L"cbScheme")), std::vector<std::wstring>{L"Some Scheme"});
    EXPECT_EQ(Text(C(L"cbScheme")), L"Some Scheme");
    const int before = colorEvents;
    chooserAnswer = RGB(200, 30, 40);
    ClickPanel(0);
    ASSERT_EQ(chooserOwners.size(), 1u);
    EXPECT_EQ(f.PanelColor(0), RGB(200, 30, 40));
    EXPECT_EQ(Config.ActiveScheme().MenuColors[0], RGB(200, 30, 40));
    EXPECT_GT(colorEvents, before);
    Click(L"btnOK");
    ASSERT_TRUE(SaveConfig(Config, ini));
    EXPECT_EQ(gui::IniFile(ini).ReadString(L"Scheme0", L"MenuColors0", L""), ColorToIniText(RGB(200, 30, 40)));
}

// The active indexes are bytes: a 257th entry could not be chosen, so none is added.
TEST_F(ConfigsDialog, NoMoreEntriesThanAByteCanIndex) {
    Config.Scheme.resize(MaxConfigEntries);
    for (int i = 0; i < MaxConfigEntries; ++i) Config.Scheme[static_cast<size_t>(i)].Name = L"S" + std::to_wstring(i);
    Config.ActiveSchemeInd = 255;
    Config.ClockFormats.Clear();
    for (int i = 0; i < MaxConfigEntries; ++i) Config.ClockFormats.Add(L"hh:nn " + std::to_wstring(i));
    Open();
    Click(L"btnAddSheme");
    EXPECT_EQ(Config.Scheme.size(), static_cast<size_t>(MaxConfigEntries));
    EXPECT_EQ(Config.ActiveSchemeInd, 255);
    Click(L"btnAddClockFormat");
    EXPECT_EQ(Config.ClockFormats.Count(), MaxConfigEntries);
    Click(L"btnDeleteScheme");
    EXPECT_EQ(Config.Scheme.size(), static_cast<size_t>(MaxConfigEntries - 1));
    EXPECT_EQ(Config.ActiveSchemeInd, 254);
    Click(L"btnAddSheme");
    EXPECT_EQ(Config.Scheme.back().Name, L"New Scheme");
    EXPECT_EQ(Config.ActiveSchemeInd, 255);
}

}  // namespace

TEST_F(ConfigsDialog, TabMovesBetweenControlsAndEscCancels) {
    TfrmConfigs& f = Open();
    HWND h = f.Handle();
    ASSERT_TRUE(WaitUntil([h] { return GetForegroundWindow() == h; }, 3000));
    // The program's own loop, which is what routes keys to the dialog.
    auto pumpUntil = [](const std::function<bool()>& cond) {
        for (DWORD start = GetTickCount(); GetTickCount() - start < 3000; Sleep(20)) {
            gui::App().ProcessMessages();
            if (cond()) return true;
        }
        return cond();
    };
    SetFocus(C(L"btnOK"));
    Press(VK_TAB, false);
    Press(VK_TAB, true);
    EXPECT_TRUE(pumpUntil([this] { return GetFocus() == C(L"btnCancel"); }));

    Type(L"cbScheme", L"Renamed");
    ASSERT_EQ(Config.Scheme[1].Name, L"Renamed");
    Press(VK_ESCAPE, false);
    Press(VK_ESCAPE, true);
    EXPECT_TRUE(pumpUntil([h] { return !IsWindow(h); }));
    EXPECT_EQ(Config.Scheme[1].Name, L"Dusk");
}
