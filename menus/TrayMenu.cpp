#include "TrayMenu.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "settings/DKLog.h"
#include "Application.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "util/IconsToFile.h"
#include "bar/Main.h"
#include "Registry.h"
#include "StringList.h"
#include "SysUtils.h"

gui::WindowHandle TrayWindow;
std::atomic<TTrayMenu*> TrayMenuInstance{nullptr};

namespace {

constexpr BYTE kIconDepth = 4;  // 32 bits per pixel
constexpr UINT NIM_ADD_ = 0, NIM_MODIFY_ = 1, NIM_DELETE_ = 2, NIM_SETVERSION_ = 4;
constexpr DWORD NIF_MESSAGE_ = 1, NIF_ICON_ = 2, NIF_TIP_ = 4;
constexpr LPARAM NIN_SELECT_ = 0x400, NIN_POPUPOPEN_ = 0x406, NIN_POPUPCLOSE_ = 0x407;

// {000214D2-0000-0000-C000-000000000046}
constexpr GUID kCGID_ShellServiceObject = {0x000214D2, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr const wchar_t* kFixedServiceObject = L"{35CEC8A3-2BE6-11D2-8773-92E220524153}";
constexpr const wchar_t* kDefaultSSOKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellServiceObjects";

std::wstring& SSOKey() {
    static std::wstring key = kDefaultSSOKey;
    return key;
}

TTrayMenu::TProgramStarter& ProgramStarter() {
    static TTrayMenu::TProgramStarter f;
    return f;
}

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

DWORD ReadU32(const BYTE* p, size_t offset) {
    return static_cast<DWORD>(p[offset]) | static_cast<DWORD>(p[offset + 1]) << 8 |
           static_cast<DWORD>(p[offset + 2]) << 16 | static_cast<DWORD>(p[offset + 3]) << 24;
}

// Handles travel as 32-bit values; widened as the system widens them (sign extension).
template <class H>
H HandleFrom32(DWORD v) {
    return reinterpret_cast<H>(static_cast<INT_PTR>(static_cast<LONG>(v)));
}

std::wstring OwnerWindowText(HWND Wnd) {
    wchar_t buf[256] = {};
    int n = GetWindowTextW(Wnd, buf, 256);
    if (n < 0) n = 0;
    return std::wstring(buf, static_cast<size_t>(n));
}

void ReadOwnerText(TTrayNotifyData& Data) {
    if (Data.OwnerTextRead) return;
    Data.OwnerText = gui::Trim(Data.szTip).empty() ? OwnerWindowText(Data.hWnd) : std::wstring();
    Data.OwnerTextRead = true;
}

std::wstring CaptionOf(TTrayNotifyData& Data) {
    ReadOwnerText(Data);
    // The program's name is looked up (slow) only when tip and window text give no caption,
    // which a tip with a blank first line does too.
    std::wstring caption = TrayCaption(Data.szTip, Data.OwnerText, L"");
    if (caption != L"Unknown icon...") return caption;
    return TrayCaption(Data.szTip, Data.OwnerText, gui::ExtractFileName(GetWindowExeName(Data.hWnd)));
}

// Lines 1 to the last of a tip, trimmed; none for a blank or one-line tip.
std::vector<std::wstring> FurtherLines(const std::wstring& Tip) {
    std::vector<std::wstring> out;
    if (gui::Trim(Tip).empty()) return out;
    std::vector<std::wstring> lines = TrayTipLines(Tip);
    for (size_t i = 1; i < lines.size(); ++i) out.push_back(gui::Trim(lines[i]));
    return out;
}

// An independent copy of a client's icon, or null. The handle comes from another program:
// it is checked and copied before its pixels are read, so a client destroying it meanwhile
// cannot hand us a stale handle.
HICON CopyClientIcon(HICON Source) {
    if (!Source) return nullptr;
    if (!gui::IconBitmaps(Source).ok) return nullptr;
    gui::IconHandle first(CopyIcon(Source));
    if (!first) return nullptr;
    return CopyIconToDepth(first.get(), kIconDepth);
}

TTrayIcon* TrayData(const TDKMenuItem* Item) { return Item ? static_cast<TTrayIcon*>(Item->Data()) : nullptr; }

UINT DownMessage(TMouseButton b) {
    return b == TMouseButton::mbRight ? WM_RBUTTONDOWN : b == TMouseButton::mbMiddle ? WM_MBUTTONDOWN : WM_LBUTTONDOWN;
}
UINT UpMessage(TMouseButton b) {
    return b == TMouseButton::mbRight ? WM_RBUTTONUP : b == TMouseButton::mbMiddle ? WM_MBUTTONUP : WM_LBUTTONUP;
}

WPARAM Anchor(int X, int Y) { return MAKEWPARAM(static_cast<WORD>(X), static_cast<WORD>(Y)); }

// Version 4: the event in the low word, the icon id in the high word.
void PostV4(const TTrayIcon& t, WPARAM wParam, LPARAM event) {
    PostMessageW(t.Wnd, t.uCallBack, wParam, MAKELPARAM(static_cast<WORD>(event), static_cast<WORD>(t.uID)));
}
void PostOld(const TTrayIcon& t, LPARAM event) { PostMessageW(t.Wnd, t.uCallBack, t.uID, event); }

}  // namespace

// ---------------------------------------------------------------- the block and the caption

bool ParseTrayCopyData(const void* Data, size_t Size, TTrayNotifyData& Out) {
    if (!Data || Size < tray_block::MinSize) return false;
    const BYTE* p = static_cast<const BYTE*>(Data);
    // Wine's own notification call sends a layout of its own to this class: read at these
    // offsets it would name some unrelated window as the owner.
    if (ReadU32(p, 0) != tray_block::Signature) return false;
    Out = TTrayNotifyData{};
    Out.Message = ReadU32(p, tray_block::Message);
    Out.hWnd = HandleFrom32<HWND>(ReadU32(p, tray_block::hWnd));
    Out.uID = ReadU32(p, tray_block::uID);
    Out.uFlags = ReadU32(p, tray_block::uFlags);
    Out.uCallbackMessage = ReadU32(p, tray_block::uCallbackMessage);
    Out.hIcon = HandleFrom32<HICON>(ReadU32(p, tray_block::hIcon));
    // The tip ends at its first NUL or after 128 characters, whichever comes first.
    for (size_t i = 0; i < tray_block::TipChars; ++i) {
        const BYTE* c = p + tray_block::szTip + 2 * i;
        wchar_t ch = static_cast<wchar_t>(c[0] | (c[1] << 8));
        if (ch == 0) break;
        Out.szTip.push_back(ch);
    }
    Out.uTimeout = static_cast<DWORD>(p[tray_block::uVersion]);
    // The rest of the field lies past what the host relies on; read it only when it was sent.
    if (Size >= tray_block::uVersion + 4) Out.uTimeout = ReadU32(p, tray_block::uVersion);
    return true;
}

std::vector<std::wstring> TrayTipLines(const std::wstring& Tip) {
    gui::StringList L;
    L.SetText(Tip);
    std::vector<std::wstring> out;
    for (int i = 0; i < L.Count(); ++i) out.push_back(L[i]);
    return out;
}

std::wstring TrayCaption(const std::wstring& Tip, const std::wstring& OwnerText, const std::wstring& ExeFileName) {
    std::wstring s;
    if (!gui::Trim(Tip).empty()) {
        std::vector<std::wstring> lines = TrayTipLines(Tip);
        if (!lines.empty()) s = lines[0];
    } else {
        s = OwnerText.substr(0, 255);
    }
    s = gui::Trim(s);
    if (s.empty()) s = ExeFileName;
    if (s.empty()) s = L"Unknown icon...";
    return s;
}

// ---------------------------------------------------------------- the host window

LRESULT CALLBACK TrayWndProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = DefWindowProcW(hWnd, Msg, wParam, lParam);
    if (Msg != WM_COPYDATA || !TrayMenuInstance.load(std::memory_order_acquire)) return result;
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    TTrayNotifyData data;
    if (!cds || !ParseTrayCopyData(cds->lpData, cds->cbData, data)) return 0;
    if (data.uID >= tray_block::IgnoredIDs) return result;
    if (data.Message != NIM_ADD_ && data.Message != NIM_MODIFY_ && data.Message != NIM_SETVERSION_ &&
        data.Message != NIM_DELETE_)
        return result;
    if (data.Message != NIM_DELETE_) ReadOwnerText(data);
    // Taken again: the menu may have gone while the owner's text was read.
    TTrayMenu* menu = TrayMenuInstance.load(std::memory_order_acquire);
    if (!menu) return result;
    try {
        bool done = false;
        switch (data.Message) {
        case NIM_ADD_: done = menu->AddTrayIcon(data); break;
        case NIM_MODIFY_:
        case NIM_SETVERSION_: done = menu->ModifyTrayIcon(data); break;
        case NIM_DELETE_: done = menu->DeleteTrayIcon(data); break;
        }
        result = done ? 1 : 0;
    } catch (const std::exception& e) {
        Log(4, L"(t4) " + What(e));
    }
    return result;
}

void InitializeTrayMenu() {
    // Made at its size: resizing it afterwards costs Wine another round with the X server.
    TrayWindow.reset(
        CreateUtilityWindow(L"Shell_TrayWnd", gui::GuardedProc<TrayWndProc>, GetSystemMetrics(SM_CXSCREEN), 30));
}

void FinalizeTrayMenu() {
    TrayWindow.reset();
}

// ---------------------------------------------------------------- the menu

void TTrayMenu::SetProgramStarter(TProgramStarter f) { ProgramStarter() = std::move(f); }

void TTrayMenu::SetShellServiceObjectsKey(const std::wstring& KeyPath) {
    SSOKey() = KeyPath.empty() ? std::wstring(kDefaultSSOKey) : KeyPath;
}

TTrayMenu::TTrayMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    try {
        try {
            FItems->AddMenuItem(MainTitleID, L"Tray Icons", nullptr, true);
            AddFilter(L"Type Program Name...");
        } catch (const std::exception& e) {
            // Without its title or filter the menu is not whole: it is not handed out.
            Log(4, L"(t9) " + What(e));
            throw;
        }
        try {
            static const char* const kRegistrations[] = {
                "\"regsvr32\" /i /s shell32.dll", "\"regsvr32\" /s stobject.dll", "\"regsvr32\" /s netshell.dll",
                "\"regsvr32\" /s netcfgx.dll", "\"regsvr32\" /s netman.dll"};
            if (ProgramStarter()) {
                for (const char* line : kRegistrations) ProgramStarter()(line);
            } else {
                // In this order and without waiting for them, once the bar's menus are built.
                RunWhenMenusBuilt([] {
                    for (const char* line : kRegistrations) StartProgram(gui::FromAnsi(line), SW_HIDE);
                });
            }
        } catch (const std::exception& e) {
            Log(4, L"(t9) " + What(e));
        }
        // The objects live in the GUI thread's apartment, where Destroy releases them.
        gui::App().Synchronize([this] { StartShellServiceObjects(); });
    } catch (...) {
        gui::App().Synchronize([this] { ReleaseShellServiceObjects(); });
        throw;
    }
    // Built: tray requests may reach the menu from here on.
    TrayMenuInstance.store(this, std::memory_order_release);
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
}

TTrayMenu::~TTrayMenu() {
    TTrayMenu* self = this;
    TrayMenuInstance.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    try {
        gui::App().Synchronize([this] { ReleaseShellServiceObjects(); });
    } catch (...) {
    }
    // No window may paint an icon after it is destroyed.
    Hide();
    for (int i = 0; i < FItems->Count(); ++i) {
        TDKMenuItem* item = FItems->GetItem(i);
        if (TTrayIcon* t = TrayData(item)) {
            item->SetData(nullptr);
            delete t;
        }
    }
}

void TTrayMenu::StartShellServiceObjects() {
    gui::Registry reg(HKEY_LOCAL_MACHINE, KEY_READ);
    if (!reg.OpenKeyReadOnly(SSOKey())) return;
    std::vector<std::wstring> names = reg.GetKeyNames();
    for (int i = -1; i < static_cast<int>(names.size()); ++i) {
        try {
            std::wstring text = i < 0 ? std::wstring(kFixedServiceObject) : names[static_cast<size_t>(i)];
            CLSID clsid{};
            if (FAILED(CLSIDFromString(text.data(), &clsid))) continue;
            gui::ComPtr<IOleCommandTarget> held;
            HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                          __uuidof(IOleCommandTarget), held.put_void());
            if (hr != S_OK || !held) continue;
            IOleCommandTarget* target = held.get();
            FTargetArr.push_back(std::move(held));
            VARIANT in;
            VariantInit(&in);
            in.vt = VT_I4;
            in.lVal = 0;
            VARIANT out;
            VariantInit(&out);
            target->Exec(&kCGID_ShellServiceObject, 2, 0, &in, &out);
            VariantClear(&out);
        } catch (const std::exception& e) {
            Log(4, L"(t8) " + What(e) + L"/ " + std::to_wstring(i) + L" /");
        }
    }
}

void TTrayMenu::ReleaseShellServiceObjects() {
    FTargetArr.clear();
}

void TTrayMenu::ExecuteFilterText(TDKMenuItem*) {
    TDKMenuItem* first = FItems->GetItem(1);
    if (first) TrayIconMouseUp(first, TMouseButton::mbLeft, 0, 5, 5);
}

void TTrayMenu::SetTrayItemIcon(TDKMenuItem* Item, HICON Source) {
    Item->TakeIcon(gui::IconHandle(CopyClientIcon(Source)));
}

void TTrayMenu::SetTipChildren(TDKMenuItem* Item, const std::vector<std::wstring>& Lines) {
    for (const std::wstring& line : Lines) Item->AddMenuItem(0, line);
}

// The tray record of an item that is leaving the list; its icon copy goes with the item, and
// the open window must not keep a picture under a handle number that may come back.
static void ReleaseTrayParts(TDKMenuItem* root, TDKMenuItem* Item) {
    delete TrayData(Item);
    Item->SetData(nullptr);
    if (Item->FIcon) root->FIconPictures.erase(Item->FIcon);
}

void TTrayMenu::RemoveTrayItem(TDKMenuItem* Item) {
    ReleaseTrayParts(FItems, Item);
    FItems->Delete(Item);
}

// Drops the rows of icons whose windows are gone. A program that ends may leave hundreds:
// they go in one pass and an open list is rebuilt once, not once per row.
static void PurgeDeadIcons(TDKMenuItem* root) {
    // A program often has many icons on one window: each window is asked about once.
    std::unordered_map<HWND, bool> alive;
    std::vector<TDKMenuItem*> dead;
    for (int i = 1; i < root->Count() - 2; ++i) {
        TDKMenuItem* item = root->GetItem(i);
        TTrayIcon* t = TrayData(item);
        bool keep = false;
        if (t) {
            auto it = alive.find(t->Wnd);
            keep = it != alive.end() ? it->second : (alive[t->Wnd] = IsWindow(t->Wnd) != FALSE);
        }
        if (!keep) dead.push_back(item);
    }
    if (dead.empty()) return;
    root->ReleaseWindowResources();
    std::unordered_set<TDKMenuItem*> gone(dead.begin(), dead.end());
    std::erase_if(*root->FItems, [&](TDKMenuItem* c) { return gone.count(c) != 0; });
    for (TDKMenuItem* item : dead) {
        ReleaseTrayParts(root, item);
        item->CloseWindow();
        item->FOwner = nullptr;
        delete item;
    }
    root->FillListView();
}

int TTrayMenu::FindTrayIcon(const TTrayNotifyData& Data) {
    try {
        PurgeDeadIcons(FItems);
        for (int i = FItems->Count() - 3; i >= 1; --i) {
            TTrayIcon* t = TrayData(FItems->GetItem(i));
            if (t && t->Wnd == Data.hWnd && t->uID == Data.uID) return i;
        }
    } catch (const std::exception& e) {
        Log(4, L"(t3) " + What(e));
    }
    return -1;
}

bool IsOwnTrayWindow(HWND Wnd) {
    HWND root = GetAncestor(Wnd, GA_ROOT);
    if (!root) root = Wnd;
    DWORD pid = 0;
    GetWindowThreadProcessId(root, &pid);
    return pid == GetCurrentProcessId() &&
           reinterpret_cast<HMODULE>(GetClassLongPtrW(root, GCLP_HMODULE)) == GetModuleHandleW(nullptr);
}

bool TTrayMenu::AddTrayIcon(TTrayNotifyData& Data) {
    if (!IsWindow(Data.hWnd)) return false;
    // The bar's windows live as long as it does: their rows would never go, and a click would
    // post the sender's message numbers to the bar itself.
    if (IsOwnTrayWindow(Data.hWnd)) return false;
    if (FindTrayIcon(Data) != -1) return false;
    // Another icon of the same window already knows the program (looking it up is slow).
    std::wstring exe;
    int icons = 0;
    for (int i = 1; i < FItems->Count() - 2; ++i) {
        TDKMenuItem* other = FItems->GetItem(i);
        TTrayIcon* t = TrayData(other);
        if (!t || t->Wnd != Data.hWnd) continue;
        if (icons++ == 0) exe = other->ExecPath();
    }
    if (icons >= MaxIconsPerWindow) {
        std::erase_if(FCrowdedOwners, [](HWND w) { return !IsWindow(w); });
        if (FCrowdedOwners.insert(Data.hWnd).second)
            Log(4, L"(t6) " + exe + L" has " + std::to_wstring(icons) + L" icons on one window; the rest are refused");
        return false;
    }
    try {
        TPresentBatch batch;  // the new row shows once, narrowed by the filter box's text
        auto icon = std::make_unique<TTrayIcon>();
        icon->Wnd = Data.hWnd;
        icon->uID = Data.uID;
        icon->uCallBack = Data.uCallbackMessage;
        icon->uVersion = Data.Version();
        std::wstring caption = CaptionOf(Data);
        std::vector<std::wstring> lines = FurtherLines(Data.szTip);
        if (icons == 0) exe = GetWindowExeName(Data.hWnd);

        auto* item = new TDKMenuItem();
        item->FMIID = 0;
        item->FCaption = caption;
        item->FFiltered = true;
        item->FExecPath = exe;
        item->TakeIcon(gui::IconHandle(CopyClientIcon(Data.hIcon)));
        item->FData = icon.release();
        item->FOnMouseDown = [this](TDKMenuItem* s, TMouseButton b, TShiftState sh, int x, int y) {
            TrayIconMouseDown(s, b, sh, x, y);
        };
        item->FOnMouseMove = [this](TDKMenuItem* s, TShiftState sh, int x, int y) { TrayIconMouseMove(s, sh, x, y); };
        item->FOnMouseUp = [this](TDKMenuItem* s, TMouseButton b, TShiftState sh, int x, int y) {
            TrayIconMouseUp(s, b, sh, x, y);
        };
        item->FOnDblClick = [this](TDKMenuItem* s) { TrayIconDblClick(s); };
        try {
            // The children come first, so an open window draws the row with its submenu mark.
            item->FPopupMenu = this;
            item->FColor = FItems->Color();
            SetTipChildren(item, lines);
            FItems->Insert(1, item);
        } catch (...) {
            delete TrayData(item);
            delete item;
            throw;
        }
        SortByPopularity();
        FilterArrivals();
    } catch (const std::exception& e) {
        Log(4, L"(t1) " + What(e));
    }
    return true;
}

bool TTrayMenu::ModifyTrayIcon(TTrayNotifyData& Data) {
    int index = FindTrayIcon(Data);
    if (index == -1) return AddTrayIcon(Data);
    TDKMenuItem* item = FItems->GetItem(index);
    std::wstring caption;
    try {
        if (Data.uFlags & NIF_ICON_) SetTrayItemIcon(item, Data.hIcon);
        if (Data.uFlags & NIF_TIP_) {
            caption = CaptionOf(Data);
            if (item->FItems) {
                item->CloseWindow();
                item->Clear();
            }
            std::vector<std::wstring> lines = FurtherLines(Data.szTip);
            // A one-line tip leaves no submenu behind.
            if (lines.empty()) item->FItems.reset();
            item->SetCaption(caption);
            SetTipChildren(item, lines);
        }
    } catch (const std::exception& e) {
        Log(4, L"(t2) /" + caption + L"/ " + What(e));
        return true;
    }
    TTrayIcon* t = TrayData(item);
    if (t) {
        if (Data.uFlags & NIF_MESSAGE_) t->uCallBack = Data.uCallbackMessage;
        t->uID = Data.uID;
        t->uVersion = Data.Version();
    }
    return true;
}

bool TTrayMenu::DeleteTrayIcon(const TTrayNotifyData& Data) {
    int index = FindTrayIcon(Data);
    if (index == -1) return false;
    RemoveTrayItem(FItems->GetItem(index));
    return true;
}

// ---------------------------------------------------------------- mouse forwarding

void TTrayMenu::TrayIconMouseDown(TDKMenuItem* Sender, TMouseButton Button, TShiftState, int X, int Y) {
    TTrayIcon* t = TrayData(Sender);
    if (!t) return;
    AllowSetForegroundWindow(ASFW_ANY);
    UINT down = DownMessage(Button);
    if (t->uVersion != 4) {
        PostOld(*t, down);
        return;
    }
    PostV4(*t, Anchor(X, Y), NIN_POPUPOPEN_);
    PostV4(*t, 0, NIN_POPUPCLOSE_);
    PostV4(*t, Anchor(X, Y), down);
}

void TTrayMenu::TrayIconMouseMove(TDKMenuItem* Sender, TShiftState, int X, int Y) {
    TTrayIcon* t = TrayData(Sender);
    if (!t) return;
    if (t->uVersion != 4) PostOld(*t, WM_MOUSEMOVE);
    else PostV4(*t, Anchor(X, Y), WM_MOUSEMOVE);
}

void TTrayMenu::TrayIconMouseUp(TDKMenuItem* Sender, TMouseButton Button, TShiftState, int X, int Y) {
    TTrayIcon* t = TrayData(Sender);
    if (!t) return;
    AllowSetForegroundWindow(ASFW_ANY);
    UINT up = UpMessage(Button);
    if (t->uVersion != 4) {
        PostOld(*t, up);
    } else {
        WPARAM anchor = Anchor(X, Y);
        PostV4(*t, anchor, up);
        if (Button == TMouseButton::mbLeft) {
            PostV4(*t, anchor, NIN_SELECT_);
        } else if (Button == TMouseButton::mbRight) {
            PostV4(*t, anchor, NIN_POPUPOPEN_);
            PostV4(*t, 0, NIN_POPUPCLOSE_);
            PostV4(*t, anchor, WM_CONTEXTMENU);
        }
    }
    try {
        if (DKData) DKData->SaveExecTime(FMenuID, Sender->Caption(), Sender->ExecPath(), -1);
    } catch (const std::exception& e) {
        Log(4, L"(t5) " + What(e));
    }
}

void TTrayMenu::TrayIconDblClick(TDKMenuItem* Sender) {
    TTrayIcon* t = TrayData(Sender);
    if (!t) return;
    AllowSetForegroundWindow(ASFW_ANY);
    if (t->uVersion != 4) PostOld(*t, WM_LBUTTONDBLCLK);
}
