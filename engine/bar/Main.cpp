#include "bar/Main.h"

#include <objbase.h>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "bar/StartupPrograms.h"
#include "settings/DKLog.h"
#include "Application.h"
#include "bar/BarLayout.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "Handles.h"
#include "ApplicationsMenu.h"
#include "FilesMenu.h"
#include "FormatDateTime.h"
#include "HelpMenu.h"
#include "InternetMenu.h"
#include "NetworkMenu.h"
#include "ProgramMenu.h"
#include "SystemMenu.h"
#include "TrayMenu.h"
#include "hk.h"
#include "Registry.h"
#include "SysUtils.h"
#include "bar/TransparentMessage.h"

TOrvane* Orvane = nullptr;

namespace {

// Buttons whose menus are still being built: their threads use them until they end, so the
// teardown must not free them before that.
std::mutex gBuildingLock;
std::vector<TDKButton*> gBuilding;
// Set while no menu is being built.
HANDLE gNoBuilders = CreateEventW(nullptr, TRUE, TRUE, nullptr);

constexpr int FilterEditID = 50009;

void BuilderDone(TDKButton* b) {
    std::lock_guard lock(gBuildingLock);
    std::erase(gBuilding, b);
    if (gBuilding.empty()) SetEvent(gNoBuilders);
}

bool StillBuilding(TDKButton* b) {
    std::lock_guard lock(gBuildingLock);
    return std::find(gBuilding.begin(), gBuilding.end(), b) != gBuilding.end();
}

void FreeButton(TDKButton* b) {
    if (TDKPopupMenu* m = b->PopupMenu()) {
        b->SetPopupMenu(nullptr);
        delete m;  // writes its stored items
    }
    delete b;
}

}  // namespace

void FreeMenuButtons(std::vector<TDKButton*>& buttons, DWORD waitMs) {
    // The built menus are written before anything waits: Windows ends a shell that is slow to
    // answer the session end.
    std::vector<TDKButton*> building;
    for (TDKButton* b : buttons) {
        if (StillBuilding(b)) building.push_back(b);
        else FreeButton(b);
    }
    buttons.clear();
    if (building.empty()) return;
    WaitForMenuBuilders(waitMs);
    for (TDKButton* b : building)
        if (!StillBuilding(b)) FreeButton(b);
}

namespace {

// Builds provider T for a button: the menu learns the button's caption, id and colour.
template <class T>
TDKPopupMenu* MenuClass(TDKButton* AOwner) {
    TMenuOwner owner{AOwner->Caption(), AOwner->ID(),
                     Config.ActiveScheme().MenuColors[static_cast<size_t>(AOwner->ID())], AOwner};
    return new T(owner);
}

const TBarButtonInfo kButtons[MENU_COUNT] = {
    {L"Programs", MenuClass<TProgramMenu>, 'P', true},
    {L"Files", MenuClass<TFilesMenu>, 'F', true},
    {L"Applications", MenuClass<TApplicationsMenu>, 'A', true},
    {L"Internet", MenuClass<TInternetMenu>, 'I', true},
    {L"Network", MenuClass<TNetworkMenu>, 'N', true},
    {L"System", MenuClass<TSystemMenu>, 'S', true},
    {L"Tray", MenuClass<TTrayMenu>, 'T', true},
    {L"Help", MenuClass<THelpMenu>, 'H', false},
    {L"", nullptr, 0, false},
};

std::wstring ExceptionText(const std::exception& e) { return gui::FromUtf8(e.what()); }

BOOL CALLBACK RemaximizeWindowProc(HWND wnd, LPARAM) {
    if (IsWindowVisible(wnd)) {
        WINDOWPLACEMENT wp{sizeof(wp)};
        if (GetWindowPlacement(wnd, &wp) && wp.showCmd == SW_SHOWMAXIMIZED) {
            ShowWindow(wnd, SW_HIDE);
            ShowWindow(wnd, SW_SHOWMAXIMIZED);
        }
    }
    return TRUE;
}

}  // namespace

const TBarButtonInfo& BarButtonInfo(int id) { return kButtons[id]; }

namespace {

// Once the menus are built the monitor starts, and the system image list, first needed when a
// menu paints its icons, is made.
void AfterMenusBuilt() {
    try {
        RunWhenMenusBuilt([] {
            if (gui::App().Terminated()) return;
            StartProgram(L"\"dkmonitor.exe\"", SW_SHOWNORMAL);
            SysSmallImageList();
        });
    } catch (const std::system_error&) {
        StartProgram(L"\"dkmonitor.exe\"", SW_SHOWNORMAL);
    }
}

}  // namespace

bool WaitForMenuBuilders(DWORD timeoutMs) { return gui::WaitServingSentMessages(gNoBuilders, timeoutMs); }

void RunWhenMenusBuilt(std::function<void()> work) {
    std::thread([work = std::move(work)] {
        WaitForMenuBuilders(10000);
        work();
    }).detach();
}

// Quoted: an unquoted path with blanks ("C:\\Program Files\\...") is tried piece by piece.
static void StartSetExplorer() { StartProgram(L"\"" + gui::ExeDir() + L"set_explorer.exe\"", SW_HIDE); }

// ---------------------------------------------------------------- menu-building thread

TCreateMenuThread::TCreateMenuThread(TDKButton* DkBtn, TMenuClass MenuClass) : FDkBtn(DkBtn), FMenuClass(MenuClass) {
    FreeOnTerminate = true;
    {
        std::lock_guard lock(gBuildingLock);
        gBuilding.push_back(DkBtn);
        ResetEvent(gNoBuilders);
    }
    try {
        Start();
    } catch (const std::exception& e) {
        // Never built: the button stays without a menu and the session end does not wait for it.
        BuilderDone(DkBtn);
        Log(4, L"(m2) / " + DkBtn->Caption() + L" /" + ExceptionText(e));
        throw;
    }
}

void TCreateMenuThread::Execute() {
    // The shell calls of the providers need COM on this thread; the multithreaded apartment
    // outlives the thread, so shell objects made here stay usable from the GUI thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::wstring caption = FDkBtn->Caption();
    Log(2, caption + L" menu creating start...");
    try {
        TDKPopupMenu* menu = FMenuClass(FDkBtn);
        TDKButton* button = FDkBtn;
        menu->OnHide = [button] { button->ClearHighlight(); };
        FDkBtn->SetPopupMenu(menu);
    } catch (const std::exception& e) {
        Log(4, L"(m2) / " + caption + L" /" + ExceptionText(e));
    } catch (...) {
        Log(4, L"(m2) / " + caption + L" /Unknown exception");
    }
    Log(2, caption + L" menu has been created");
    (void)com;
    BuilderDone(FDkBtn);
}

// ---------------------------------------------------------------- bar form

TOrvane::TOrvane() {
    Create({ClassName, CS_DBLCLKS}, L"Orvane", WS_POPUP | WS_CLIPCHILDREN, WS_EX_TOOLWINDOW | WS_EX_TOPMOST, 0, 0,
           GetSystemMetrics(SM_CXSCREEN), 150);
    btnQuit = CreateWindowExW(0, L"BUTTON", L"Quit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 32, 120, 75,
                              25, Handle(), reinterpret_cast<HMENU>(1), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(btnQuit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    ClockTimer.senderClass = "TTimer";
    ClockTimer.OnTimer = [this] { ClockTimerTimer(); };
    HideTimer.OnTimer = [this] { HideTimerTimer(); };
    gui::App().OnDeactivate = [this] { DKApplicationEventsDeactivate(); };
    gui::App().OnException = [this](const std::string& cls, const std::string& msg) {
        DKApplicationEventsException(cls, msg);
    };
    gui::App().MainForm = Handle();
    ClockTimer.SetEnabled(true);
    FormCreate();
}

TOrvane::~TOrvane() {
    ClockTimer.SetEnabled(false);
    HideTimer.SetEnabled(false);
    gui::App().OnDeactivate = nullptr;
    gui::App().OnException = nullptr;
    if (ButtonList) {
        FreeMenuButtons(*ButtonList, 5000);
        ButtonList.reset();
    }
    if (gui::App().MainForm == Handle()) gui::App().MainForm = nullptr;
}

int TOrvane::Top() const { return BoundsRect().top; }

void TOrvane::SetTop(int top) {
    SetWindowPos(Handle(), nullptr, BoundsRect().left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TOrvane::FormCreate() {
    if (!DKData || !DKData->Connected()) {
        ShowTransparentMessageModal(L"Data file is not available",
                                    L"Try to launch the program one more time or reinstall it\r\n", 1);
        gui::App().Terminate();
        return;
    }
    FWinKeyPressed = false;
    FFullScreenMode = false;

    bool ExplorerWasRunning = KillProcessByName(L"explorer.exe");
    if (ExplorerWasRunning) {
        try {
            const wchar_t* winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
            // Winlogon runs the value as a command line: a path with blanks must be quoted.
            const std::wstring shell = L"\"" + gui::ExeFileName() + L"\"";
            gui::Registry reg(HKEY_LOCAL_MACHINE);
            if (reg.OpenKey(winlogon, true)) {
                reg.WriteString(L"Shell", shell);
                reg.CloseKey();
            }
            reg.SetRoot(HKEY_CURRENT_USER);
            if (reg.OpenKey(winlogon, true)) {
                reg.WriteString(L"Shell", shell);
                reg.CloseKey();
            }
            // HKLM is only read here: a standard user may not open it for writing.
            DKData->FillDefaultDBOnFirstRun();
        } catch (const std::exception& e) {
            Log(4, L"m1( " + ExceptionText(e));
        }
    } else {
        SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, nullptr, SPIF_SENDCHANGE);
        MINIMIZEDMETRICS mm{sizeof(mm)};
        if (SystemParametersInfoW(SPI_GETMINIMIZEDMETRICS, sizeof(mm), &mm, 1) && !(mm.iArrange & ARW_HIDE)) {
            mm.iArrange |= ARW_HIDE;
            SystemParametersInfoW(SPI_SETMINIMIZEDMETRICS, sizeof(mm), &mm, SPIF_UPDATEINIFILE);
        }
    }

    SetKeyBoardHook(Handle());
    SetMouseHook(Handle());

    int width = GetSystemMetrics(SM_CXSCREEN);
    SetWindowPos(Handle(), nullptr, 0, 0, width, BAR_HEIGHT, SWP_NOZORDER | SWP_NOACTIVATE);
    ButtonList = std::make_unique<std::vector<TDKButton*>>();
    TScheme& scheme = Config.ActiveScheme();
    // The menu-building threads start once the bar shows: started here they would compete with
    // the bar's own start-up for the processor and the system.
    std::vector<TDKButton*> menuButtons;
    for (int id = 0; id < MENU_COUNT; ++id) {
        if (!scheme.MenuEnabling[static_cast<size_t>(id)]) continue;
        auto* b = new TDKButton(Handle());
        b->SetID(id);
        ButtonList->push_back(b);
        if (id < 8) {
            b->SetCaption(kButtons[id].Caption);
            menuButtons.push_back(b);
        } else {
            b->OnClick = [this](TDKButton*) { ClockButtonClick(); };
        }
    }
    Config.OnColorChanged = [this](void* sender) { ColorChanged(sender); };

    bool laidOut = false;
    try {
        WMDisplayChange();
        ClockTimerTimer();
        laidOut = true;
    } catch (const std::exception& e) {
        Log(4, L"(m3) " + ExceptionText(e));
    }
    // Laid out and with its clock: the bar can show; what follows does not change it.
    Show(SW_SHOWNOACTIVATE);
    // Under Wine the window reaches the X server only when this thread next looks for messages:
    // look now, or the bar appears only once the threads below are made.
    MSG pending;
    PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE);
    for (TDKButton* b : menuButtons) {
        try {
            new TCreateMenuThread(b, kButtons[b->ID()].MenuClass);
        } catch (const std::system_error&) {
            // Logged by the thread object; the button shows "being built" when clicked.
        }
    }
    AfterMenusBuilt();
    if (!laidOut) return;  // a failed step skips the rest, as it always did
    try {
        RunStartupPrograms(ExplorerWasRunning);
    } catch (const std::exception& e) {
        Log(4, L"(m3) " + ExceptionText(e));
    }
}

void TOrvane::WMDisplayChange() {
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(Handle(), nullptr, 0, Config.HideMenu ? -BAR_HEIGHT : 0, sw, BAR_HEIGHT,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (!ButtonList || ButtonList->empty()) return;
    try {
        std::vector<int> widths = ButtonWidths(sw, static_cast<int>(ButtonList->size()));
        int x = 0;
        for (size_t i = 0; i < ButtonList->size(); ++i) {
            (*ButtonList)[i]->SetBounds(x, 0, widths[i], BAR_HEIGHT);
            x += widths[i];
        }
        RECT work{0, Config.HideMenu ? 0 : BAR_HEIGHT, sw, sh};
        SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, SPIF_SENDCHANGE);
        EnumWindows(RemaximizeWindowProc, 0);
    } catch (const std::exception& e) {
        Log(4, L"(m4) " + ExceptionText(e));
    }
}

void TOrvane::ClockTimerTimer() {
    try {
        if (!Config.HideMenu) {
            HWND fg = GetForegroundWindow();
            if (IsTaskbarWindow(fg)) {
                RECT r{};
                GetWindowRect(fg, &r);
                bool full = IsWindowVisible(fg) && !IsIconic(fg) &&
                            CoversScreen(r, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
                if (full != FFullScreenMode &&
                    GetWindowExeName(fg) != gui::AnsiLowerCase(gui::ExeFileName())) {
                    Log(2, std::wstring(L"Full Screen: ") + (full ? L"True" : L"False"));
                    FFullScreenMode = full;
                    if (full) DKApplicationEventsDeactivate();
                    else SlideIn();
                }
            }
        }
        if (ButtonList && !ButtonList->empty() && ButtonList->back()->ID() == 8) {
            const TScheme& scheme = Config.ActiveScheme();
            (void)scheme;
            if (Config.ClockFormats.Count() == 0 || Config.ActiveClockInd >= Config.ClockFormats.Count())
                throw std::out_of_range("List index out of bounds (" + std::to_string(Config.ActiveClockInd) + ")");
            SYSTEMTIME now;
            GetLocalTime(&now);
            ButtonList->back()->SetCaption(gui::FormatDateTime(Config.ClockFormats[Config.ActiveClockInd], now));
        }
    } catch (const std::exception& e) {
        Log(4, L"(m5) " + ExceptionText(e));
    }
}

void TOrvane::SlideIn() {
    HideTimerTag = 1;
    HideTimer.SetEnabled(true);
}

void TOrvane::SlideOut() {
    HideTimerTag = 0;
    HideTimer.SetEnabled(true);
}

void TOrvane::HideTimerTimer() {
    bool done = false;
    int top = SlideTick(Top(), BAR_HEIGHT, HideTimerTag, done);
    if (done) HideTimer.SetEnabled(false);
    SetTop(top);
}

TDKButton* TOrvane::ButtonById(int id) const {
    if (!ButtonList) return nullptr;
    for (TDKButton* b : *ButtonList)
        if (b->ID() == id) return b;
    return nullptr;
}

void TOrvane::WMHookKeyboard(WPARAM key, LPARAM flags) {
    Config.KeyBoardMode = true;
    const bool released = (static_cast<DWORD>(flags) & 0x80000000u) != 0;
    const bool repeated = (static_cast<DWORD>(flags) & 0x40000000u) != 0;
    // The Windows key alone takes nothing: it may begin another program's shortcut, after which
    // typing must still reach the window in front. The bar comes forward for its own shortcut.
    if (key == VK_LWIN || key == VK_RWIN) {
        FWinKeyPressed = !released;
        return;
    }
    if (key == VK_ESCAPE) DKApplicationEventsDeactivate();
    if (!FWinKeyPressed || released || repeated) return;
    if (key == VK_ESCAPE) {
        StartSetExplorer();
        return;
    }
    for (int id = 0; id < 8; ++id) {
        if (kButtons[id].ShortcutKey != key) continue;
        TDKButton* b = ButtonById(id);
        if (!b) return;
        ForceForegroundWindow(Handle());
        if (Config.HideMenu || FFullScreenMode) SlideIn();
        b->DoMouseEnter(this);
        b->DoClick(this);
        TDKPopupMenu* menu = b->PopupMenu();
        if (menu && kButtons[id].ShortcutClearsFilter) {
            TDKMenuItem* root = menu->Items();
            root->Filter(L"", root->FindItem(FilterEditID));
        }
        return;
    }
}

void TOrvane::WMHookMouse(LPARAM y) {
    Config.KeyBoardMode = false;
    bool slidingIn = HideTimerTag == 1 && HideTimer.Enabled();
    if ((Config.HideMenu || FFullScreenMode) && static_cast<int>(y) <= 3 && Top() != 0 && !slidingIn) {
        ForceForegroundWindow(Handle());
        SlideIn();
    }
}

void TOrvane::DKApplicationEventsDeactivate() {
    if (ButtonList)
        for (TDKButton* b : *ButtonList)
            if (TDKPopupMenu* m = b->PopupMenu()) m->Hide();
    if (Config.HideMenu || FFullScreenMode) SlideOut();
}

void TOrvane::DKApplicationEventsException(const std::string& senderClass, const std::string& message) {
    Log(4, L"m0 ( " + gui::FromUtf8(senderClass) + L" ) " + gui::FromUtf8(message));
}

void TOrvane::ColorChanged(void*) {
    if (!ButtonList) return;
    for (TDKButton* b : *ButtonList) InvalidateRect(b->Handle(), nullptr, FALSE);
}

void TOrvane::btnQuitClick() { StartSetExplorer(); }

BOOL TOrvane::WMQueryEndSession() {
    // The teardown's wait for menu builders serves sent messages: a second query lands inside it.
    static bool ending = false;
    if (ending) return FALSE;
    ending = true;
    RemoveMouseHook();
    RemoveKeyBoardHook();
    // What the user has is written first, the settings and then the built menus, before the
    // teardown waits for menus still being built: Windows ends a shell that is slow to answer.
    SaveConfig(Config);
    if (ButtonList) {
        FreeMenuButtons(*ButtonList, 5000);
        ButtonList.reset();
    }
    gui::App().Terminate();
    Log(4, L" Program closed successfully...\r\n" + std::wstring(50, L'=') + L"\r\n");
    return FormCloseQuery() ? TRUE : FALSE;
}

LRESULT TOrvane::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_DISPLAYCHANGE:
        WMDisplayChange();
        return 0;
    case WM_QUERYENDSESSION:
        return WMQueryEndSession();
    case WM_HOOKKEYBOARD:
        WMHookKeyboard(wp, lp);
        return 0;
    case WM_HOOKMOUSE:
        WMHookMouse(lp);
        return 0;
    case WM_CLOSE:
        if (FormCloseQuery()) Destroy();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wp) == 1 && HIWORD(wp) == BN_CLICKED) btnQuitClick();
        return 0;
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(Handle(), &rc);
        COLORREF c = Config.ActiveScheme().MenuColors[8];
        gui::BrushHandle br(CreateSolidBrush(c));
        FillRect(reinterpret_cast<HDC>(wp), &rc, br.get());
        return 1;
    }
    }
    return DefaultHandler(msg, wp, lp);
}
