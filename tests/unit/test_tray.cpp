// The notification-area host in the test process: requests from the tray_client program (the
// Windows block over WM_COPYDATA) and from this process, the Tray menu's items, the messages a
// click forwards, purging, and icon copies under concurrent load.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "menu/DKComponents.h"
#include "DataTestSupport.h"
#include "SysUtils.h"
#include "TestIcons.h"
#include "MenuTestSupport.h"
#include "TestSupport.h"
#include "TrayMenu.h"

using data_test::RawDb;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

constexpr DWORD kAdd = 0, kModify = 1, kDelete = 2, kSetVersion = 4;
constexpr UINT kCallback = WM_APP + 1;

void Put32(std::vector<BYTE>& b, size_t off, DWORD v) {
    for (int i = 0; i < 4; ++i) b[off + static_cast<size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
}

DWORD H32(const void* h) { return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(h)); }

std::vector<BYTE> Block(DWORD message, HWND wnd, DWORD id, DWORD flags, HICON icon, const std::wstring& tip,
                        DWORD version = 0, UINT callback = kCallback) {
    std::vector<BYTE> b(964, 0);
    Put32(b, 0, 0x34753423u);
    Put32(b, 4, message);
    Put32(b, 8, 956);
    Put32(b, 12, H32(wnd));
    Put32(b, 16, id);
    Put32(b, 20, flags);
    Put32(b, 24, callback);
    Put32(b, 28, H32(icon));
    for (size_t i = 0; i < tip.size() && i < 127; ++i) {
        b[32 + 2 * i] = static_cast<BYTE>(tip[i] & 0xFF);
        b[33 + 2 * i] = static_cast<BYTE>(tip[i] >> 8);
    }
    Put32(b, 808, version);
    return b;
}

LRESULT SendBlock(const std::vector<BYTE>& b) {
    COPYDATASTRUCT cds{1, static_cast<DWORD>(b.size()), const_cast<BYTE*>(b.data())};
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(TrayWindow.get(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 20000, &answer))
        return -1;
    return static_cast<LRESULT>(answer);
}

HICON SolidIcon(COLORREF rgb) {
    return testing_support::SolidIcon32(16, 0xFF000000u | (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb));
}

using testing_support::GdiObjectCount;
using testing_support::IconAlive;

// A plain window of this thread, as the owner of icons sent from the test itself.
HWND OwnerWindow(const std::wstring& title) {
    return CreateWindowExW(0, L"STATIC", title.c_str(), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

using testing_support::Captions;

TTrayIcon* Record(const TDKMenuItem* item) { return static_cast<TTrayIcon*>(item->Data()); }

std::vector<std::string> Lines(const std::wstring& file) {
    std::vector<std::string> out;
    std::istringstream in(testing_support::ReadFileBytes(file));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

// The lines of a client's output that start with the prefix.
std::vector<std::string> Matching(const std::wstring& file, const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& l : Lines(file))
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

class TrayHost : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        TTrayMenu::SetProgramStarter([this](const std::string& line) { started.push_back(line); });
        TTrayMenu::SetShellServiceObjectsKey(L"SOFTWARE\\OrvaneTests\\NoShellServiceObjects");
        InitializeTrayMenu();
        ASSERT_TRUE(IsWindow(TrayWindow.get()));
    }
    void TearDown() override {
        menu.reset();
        for (HWND w : owners) DestroyWindow(w);
        for (HANDLE p : clients) {
            if (WaitForSingleObject(p, 0) != WAIT_OBJECT_0) TerminateProcess(p, 1);
            CloseHandle(p);
        }
        FinalizeTrayMenu();
        TTrayMenu::SetProgramStarter(nullptr);
        TTrayMenu::SetShellServiceObjectsKey(L"");
        DKData.reset();
    }
    TTrayMenu& Build() {
        menu = std::make_unique<TTrayMenu>(TMenuOwner{L"Tray", 6, RGB(40, 90, 160), nullptr});
        return *menu;
    }
    HWND Owner(const std::wstring& title = L"") {
        owners.push_back(OwnerWindow(title));
        return owners.back();
    }
    // The tray items: between the title and the filter rows.
    std::vector<TDKMenuItem*> TrayItems() {
        std::vector<TDKMenuItem*> out;
        for (int i = 1; i < menu->Items()->Count() - 2; ++i) out.push_back(menu->Items()->GetItem(i));
        return out;
    }
    TDKMenuItem* ItemOf(HWND wnd, UINT id) {
        for (TDKMenuItem* i : TrayItems())
            if (Record(i) && Record(i)->Wnd == wnd && Record(i)->uID == id) return i;
        return nullptr;
    }
    // Starts tray_client against our host; its output goes to a file of its own.
    std::wstring RunClient(const std::wstring& steps) {
        std::wstring out = dir / (L"client" + std::to_wstring(clients.size()) + L".txt");
        wchar_t host[32];
        swprintf(host, 32, L"%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(TrayWindow.get())));
        HANDLE p = testing_support::StartProcess(L"\"" + testing_support::BinDir() + L"tray_client.exe\" --host " + host +
                                                 L" --log \"" + out + L"\" " + steps);
        EXPECT_NE(p, nullptr);
        if (p) clients.push_back(p);
        return out;
    }
    bool WaitLines(const std::wstring& file, const std::string& prefix, size_t n, DWORD ms = 30000) {
        return WaitUntil([&] { return Matching(file, prefix).size() >= n; }, ms);
    }
    HWND ClientWindow(const std::wstring& file) {
        auto l = Matching(file, "hwnd ");
        return l.empty() ? nullptr
                         : reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::stoull(l[0].substr(5), nullptr, 16)));
    }
    bool WaitEnd(HANDLE p) { return WaitUntil([&] { return WaitForSingleObject(p, 0) == WAIT_OBJECT_0; }, 30000); }
    long long Launches() {
        RawDb raw(dir / L"dk.pdb");
        return raw.Int("select count(*) from ExecItemTime e join ItemsPath i on e.PID = i.PID where i.MID = 6");
    }

    TempDir dir{L"tray"};
    std::unique_ptr<TTrayMenu> menu;
    std::vector<std::string> started;
    std::vector<HWND> owners;
    std::vector<HANDLE> clients;
};

// A named auto-reset event a client waits on between its steps.
struct Gate {
    std::wstring name = L"OrvTrayGate_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
    ~Gate() { CloseHandle(h); }
    void Open() { SetEvent(h); }
};

}  // namespace

TEST_F(TrayHost, BuiltMenuHasTitleAndFilterStartsRegistrationsAndAnnouncesItself) {
    RECT r{};
    GetWindowRect(TrayWindow.get(), &r);
    EXPECT_EQ(r.right - r.left, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(r.bottom - r.top, 30);
    wchar_t cls[64] = {};
    GetClassNameW(TrayWindow.get(), cls, 64);
    EXPECT_STREQ(cls, L"Shell_TrayWnd");
    EXPECT_FALSE(IsWindowVisible(TrayWindow.get()));

    // Running programs hear "TaskbarCreated" once the menu is built.
    static std::atomic<int> heard{0};
    static UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    heard = 0;
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == taskbarCreated) ++heard;
        return DefWindowProcW(w, m, wp, lp);
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TrayTestListener";
    RegisterClassW(&wc);
    HWND listener = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    owners.push_back(listener);

    // Before the menu exists a request is lost (answered 0).
    HWND owner = Owner(L"Early");
    EXPECT_EQ(SendBlock(Block(kAdd, owner, 1, 7, nullptr, L"early")), 0);

    TTrayMenu& m = Build();
    EXPECT_EQ(TrayMenuInstance.load(), &m);
    EXPECT_EQ(Captions(m.Items()), (std::vector<std::wstring>{L"Tray Icons", L"Filter", L"Type Program Name..."}));
    EXPECT_EQ(m.Items()->GetItem(0)->MIID(), TDKPopupMenu::MainTitleID);
    EXPECT_TRUE(m.Items()->GetItem(0)->GroupTitle());
    EXPECT_EQ(started, (std::vector<std::string>{"\"regsvr32\" /i /s shell32.dll", "\"regsvr32\" /s stobject.dll",
                                                 "\"regsvr32\" /s netshell.dll", "\"regsvr32\" /s netcfgx.dll",
                                                 "\"regsvr32\" /s netman.dll"}));
    EXPECT_TRUE(m.FTargetArr.empty());
    EXPECT_TRUE(WaitUntil([] { return heard.load() == 1; }, 5000));
    // Enter in the filter box with no icons does nothing.
    m.FindItem(TDKPopupMenu::FilterEditID)->FOnClick(m.FindItem(TDKPopupMenu::FilterEditID));
    EXPECT_EQ(Launches(), 0);

    EXPECT_EQ(SendBlock(Block(kAdd, owner, 1, 7, nullptr, L"now")), 1);
    // From the start of its destruction on, requests are lost again.
    menu.reset();
    EXPECT_EQ(TrayMenuInstance.load(), nullptr);
    EXPECT_EQ(SendBlock(Block(kAdd, owner, 2, 7, nullptr, L"late")), 0);
}

TEST_F(TrayHost, ClientRequestsAddModifySetVersionAndDeleteItems) {
    TTrayMenu& m = Build();
    Gate g;
    std::wstring out = RunClient(L"add 1 \"First line\\nSecond line\" gate " + g.name +
                                 L" modify 1 3 \"ignored\\nx\" gate " + g.name +
                                 L" modify 1 7 \"New caption\\r\\n A \\n  B  \" gate " + g.name +
                                 L" version 1 4 gate " + g.name +
                                 L" focus 1 add 0xFFFFFFA0 Shell short 2 808 short 2 100 gate " + g.name +
                                 L" delete 1 delete 1");
    ASSERT_TRUE(WaitLines(out, "reply add", 1));
    HWND client = ClientWindow(out);
    EXPECT_EQ(Matching(out, "reply add")[0], "reply add 1 1");
    ASSERT_EQ(TrayItems().size(), 1u);
    TDKMenuItem* item = ItemOf(client, 1);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Caption(), L"First line");
    EXPECT_EQ(Captions(item), (std::vector<std::wstring>{L"Second line"}));
    EXPECT_EQ(item->MIID(), 0);
    EXPECT_TRUE(item->Filtered());
    EXPECT_TRUE(gui::ExtractFileName(item->ExecPath()) == L"tray_client.exe") << gui::ToUtf8(item->ExecPath());
    EXPECT_EQ(Record(item)->uCallBack, kCallback);
    EXPECT_EQ(Record(item)->uVersion, 0);
    g.Open();

    // Without NIF_TIP the caption and the children stay; NIF_MESSAGE takes the new callback.
    ASSERT_TRUE(WaitLines(out, "reply modify", 1));
    EXPECT_EQ(Matching(out, "reply modify")[0], "reply modify 1 1");
    EXPECT_EQ(item->Caption(), L"First line");
    EXPECT_EQ(Captions(item), (std::vector<std::wstring>{L"Second line"}));
    EXPECT_EQ(Record(item)->uCallBack, static_cast<UINT>(WM_APP + 2));
    g.Open();

    // With NIF_TIP the caption and the children are replaced (lines trimmed).
    ASSERT_TRUE(WaitLines(out, "reply modify", 2));
    EXPECT_EQ(item->Caption(), L"New caption");
    EXPECT_EQ(Captions(item), (std::vector<std::wstring>{L"A", L"B"}));
    g.Open();

    ASSERT_TRUE(WaitLines(out, "reply version", 1));
    EXPECT_EQ(Matching(out, "reply version")[0], "reply version 1 1");
    EXPECT_EQ(Record(item)->uVersion, 4);
    EXPECT_EQ(item->Caption(), L"New caption");
    g.Open();

    // Set-focus, the shell's own ids and short blocks are answered 0 and change nothing.
    ASSERT_TRUE(WaitLines(out, "reply short", 2));
    EXPECT_EQ(Matching(out, "reply focus")[0], "reply focus 1 0");
    EXPECT_EQ(Matching(out, "reply add")[1], "reply add 4294967200 0");
    EXPECT_EQ(Matching(out, "reply short"), (std::vector<std::string>{"reply short 2 0", "reply short 2 0"}));
    ASSERT_EQ(TrayItems().size(), 1u);
    EXPECT_EQ(TrayItems()[0], item);
    g.Open();

    ASSERT_TRUE(WaitLines(out, "reply delete", 2));
    EXPECT_EQ(Matching(out, "reply delete"), (std::vector<std::string>{"reply delete 1 1", "reply delete 1 0"}));
    EXPECT_TRUE(TrayItems().empty());
    EXPECT_EQ(Captions(m.Items()), (std::vector<std::wstring>{L"Tray Icons", L"Filter", L"Type Program Name..."}));
    EXPECT_TRUE(WaitEnd(clients.back()));
}

TEST_F(TrayHost, ClicksReachTheClientAsItsVersionAsks) {
    Build();
    std::wstring out = RunClient(L"add 7 Clicky expect 4 20000 version 7 4 expect 21 20000");
    ASSERT_TRUE(WaitLines(out, "reply add", 1));
    TDKMenuItem* item = ItemOf(ClientWindow(out), 7);
    ASSERT_NE(item, nullptr);
    // Any version but 4: the icon id in wParam, the mouse message in lParam.
    item->FOnMouseDown(item, TMouseButton::mbLeft, 0, 100, 200);
    item->FOnMouseMove(item, 0, 101, 201);
    item->FOnMouseUp(item, TMouseButton::mbLeft, 0, 102, 202);
    item->FOnDblClick(item);
    ASSERT_TRUE(WaitLines(out, "msg ", 4));
    EXPECT_EQ(Matching(out, "msg "),
              (std::vector<std::string>{"msg 8001 7 201", "msg 8001 7 200", "msg 8001 7 202", "msg 8001 7 203"}));

    // Version 4: the anchor in wParam, the event and the icon id in lParam.
    ASSERT_TRUE(WaitLines(out, "reply version", 1));
    item->FOnMouseDown(item, TMouseButton::mbLeft, 0, 100, 200);
    item->FOnMouseUp(item, TMouseButton::mbLeft, 0, 100, 200);
    item->FOnDblClick(item);
    item->FOnMouseDown(item, TMouseButton::mbRight, 0, 300, 400);
    item->FOnMouseUp(item, TMouseButton::mbRight, 0, 300, 400);
    item->FOnMouseMove(item, 0, 5, 6);
    item->FOnMouseDown(item, TMouseButton::mbMiddle, 0, 1, 2);
    item->FOnMouseUp(item, TMouseButton::mbMiddle, 0, 1, 2);
    ASSERT_TRUE(WaitLines(out, "msg ", 21));
    std::vector<std::string> got = Matching(out, "msg ");
    got.erase(got.begin(), got.begin() + 4);
    EXPECT_EQ(got, (std::vector<std::string>{
                       "msg 8001 C80064 70406", "msg 8001 0 70407", "msg 8001 C80064 70201",  // left down
                       "msg 8001 C80064 70202", "msg 8001 C80064 70400",                      // left up
                       "msg 8001 190012C 70406", "msg 8001 0 70407", "msg 8001 190012C 70204",  // right down
                       "msg 8001 190012C 70205", "msg 8001 190012C 70406", "msg 8001 0 70407",
                       "msg 8001 190012C 7007B",                                            // right up
                       "msg 8001 60005 70200",                                              // move
                       "msg 8001 20001 70406", "msg 8001 0 70407", "msg 8001 20001 70207",  // middle down
                       "msg 8001 20001 70208"}));                                           // middle up
    EXPECT_TRUE(WaitEnd(clients.back()));
    // Every release is a launch of the icon's program.
    EXPECT_EQ(Launches(), 4);
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Text("select Caption from ItemsPath where MID = 6"), "Clicky");
}

TEST_F(TrayHost, IconsOfGoneProgramsArePurgedAtTheNextRequest) {
    TTrayMenu& m = Build();
    std::wstring out = RunClient(L"title \"Leaving soon\" add 3 \"\"");
    ASSERT_TRUE(WaitLines(out, "reply add", 1));
    ASSERT_TRUE(WaitEnd(clients.back()));
    // A blank tip took the owner's window text.
    ASSERT_EQ(TrayItems().size(), 1u);
    EXPECT_EQ(TrayItems()[0]->Caption(), L"Leaving soon");
    HWND owner = Owner(L"Staying");
    ASSERT_EQ(SendBlock(Block(kAdd, owner, 1, 7, nullptr, L"Stay")), 1);
    EXPECT_EQ(Captions(m.Items()), (std::vector<std::wstring>{L"Tray Icons", L"Stay", L"Filter", L"Type Program Name..."}));
}

TEST_F(TrayHost, ManyDeadIconsArePurgedAtOnceWhileTheMenuIsOpen) {
    TTrayMenu& m = Build();
    HWND leaving = Owner(L"Many icons"), alsoLeaving = Owner(L"More icons");
    HICON icon = SolidIcon(RGB(200, 0, 0));
    for (UINT i = 1; i <= 300; ++i)
        ASSERT_EQ(SendBlock(Block(kAdd, i % 2 ? leaving : alsoLeaving, i, 7, icon, L"Icon " + std::to_wstring(i))), 1);
    DestroyIcon(icon);
    m.Items()->ShowAt(100, 100);
    ASSERT_NE(m.Items()->FListView, nullptr);
    DestroyWindow(leaving);
    DestroyWindow(alsoLeaving);
    HWND staying = Owner(L"Staying");
    DWORD start = GetTickCount();
    ASSERT_EQ(SendBlock(Block(kAdd, staying, 1, 7, nullptr, L"Stay")), 1);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(Captions(m.Items()), (std::vector<std::wstring>{L"Tray Icons", L"Stay", L"Filter", L"Type Program Name..."}));
    EXPECT_EQ(SendMessageW(m.Items()->FListView, LVM_GETITEMCOUNT, 0, 0), 4);
}

TEST_F(TrayHost, CaptionsFallBackAndUnknownOwnersAreRefused) {
    Build();
    HWND titled = Owner(L"  Owner Title ");
    HWND untitled = Owner(L"");
    EXPECT_EQ(SendBlock(Block(kAdd, titled, 1, 7, nullptr, L"   ")), 1);
    EXPECT_EQ(SendBlock(Block(kAdd, untitled, 1, 7, nullptr, L"")), 1);
    EXPECT_EQ(ItemOf(titled, 1)->Caption(), L"Owner Title");
    EXPECT_EQ(ItemOf(untitled, 1)->Caption(), gui::ExtractFileName(gui::LowerCase(gui::ExeFileName())));
    // The same pair again, an owner that is no window and an unknown delete are refused.
    EXPECT_EQ(SendBlock(Block(kAdd, titled, 1, 7, nullptr, L"again")), 0);
    EXPECT_EQ(SendBlock(Block(kAdd, reinterpret_cast<HWND>(0x7FF0), 1, 7, nullptr, L"x")), 0);
    EXPECT_EQ(SendBlock(Block(kDelete, titled, 9, 0, nullptr, L"")), 0);
    // A modify of an unknown pair adds it, with the version from the low byte (10000 -> 16).
    EXPECT_EQ(SendBlock(Block(kModify, titled, 2, 4, nullptr, L"Added by modify", 10000)), 1);
    ASSERT_NE(ItemOf(titled, 2), nullptr);
    EXPECT_EQ(Record(ItemOf(titled, 2))->uVersion, 16);
    EXPECT_EQ(TrayItems().size(), 3u);
    // A modify with NIF_TIP and a one-line tip leaves no submenu behind.
    EXPECT_EQ(SendBlock(Block(kModify, titled, 1, 4, nullptr, L"Two\nlines")), 1);
    EXPECT_EQ(ItemOf(titled, 1)->Count(), 1);
    EXPECT_EQ(SendBlock(Block(kModify, titled, 1, 4, nullptr, L"One line")), 1);
    EXPECT_EQ(ItemOf(titled, 1)->FItems, nullptr);
    // A tip with text only after a blank first line: the program's name, not "Unknown icon...".
    EXPECT_EQ(SendBlock(Block(kAdd, titled, 3, 7, nullptr, L"\r\nBattery 80%")), 1);
    EXPECT_EQ(ItemOf(titled, 3)->Caption(), gui::ExtractFileName(gui::LowerCase(gui::ExeFileName())));
}

// The bar's own windows name no icon: their rows would never go, and a click would post the
// sender's message numbers to the bar. Windows of classes a library registered (as shell service
// objects started here have) do.
TEST_F(TrayHost, IconsOfTheBarsOwnWindowsAreRefused) {
    Build();
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TrayTestOwnClass";
    RegisterClassW(&wc);
    HWND own = CreateWindowExW(0, wc.lpszClassName, L"Own", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    owners.push_back(own);
    HWND child = CreateWindowExW(0, L"BUTTON", L"Quit", WS_CHILD, 0, 0, 5, 5, own, nullptr, wc.hInstance, nullptr);
    EXPECT_EQ(SendBlock(Block(kAdd, TrayWindow.get(), 1, 7, nullptr, L"The host")), 0);
    EXPECT_EQ(SendBlock(Block(kAdd, own, 1, 7, nullptr, L"Own window")), 0);
    EXPECT_EQ(SendBlock(Block(kModify, child, 1, 7, nullptr, L"Its child")), 0);  // an unknown modify adds
    EXPECT_TRUE(TrayItems().empty());

    // A class as a library registers it, under its own module.
    WNDCLASSW lc = wc;
    lc.hInstance = GetModuleHandleW(L"comctl32.dll");
    lc.lpszClassName = L"TrayTestLibraryClass";
    ASSERT_NE(RegisterClassW(&lc), 0);
    HWND library = CreateWindowExW(0, lc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, lc.hInstance, nullptr);
    ASSERT_NE(library, nullptr);
    owners.push_back(library);
    EXPECT_EQ(SendBlock(Block(kAdd, library, 1, 7, nullptr, L"Library window")), 1);
    EXPECT_EQ(SendBlock(Block(kAdd, Owner(L"Plain"), 1, 7, nullptr, L"Plain window")), 1);
    EXPECT_EQ(TrayItems().size(), 2u);
}

// One window has at most MaxIconsPerWindow icons; the rest are refused and logged once.
TEST_F(TrayHost, OneWindowHasABoundedNumberOfIcons) {
    data_test::LogCapture log;
    Build();
    HWND crowded = Owner(L"Crowded");
    for (DWORD i = 1; i <= TTrayMenu::MaxIconsPerWindow; ++i)
        ASSERT_EQ(SendBlock(Block(kAdd, crowded, i, 7, nullptr, L"Icon " + std::to_wstring(i))), 1) << i;
    EXPECT_EQ(SendBlock(Block(kAdd, crowded, 1000, 7, nullptr, L"One too many")), 0);
    EXPECT_EQ(SendBlock(Block(kModify, crowded, 1001, 7, nullptr, L"Another")), 0);
    EXPECT_EQ(static_cast<int>(TrayItems().size()), TTrayMenu::MaxIconsPerWindow);
    std::string text = log.Text();
    EXPECT_NE(text.find("(t6) "), std::string::npos) << text;
    EXPECT_EQ(text.find("(t6) "), text.rfind("(t6) "));
    // Known icons still change; another window is not held back; a deleted icon makes room.
    EXPECT_EQ(SendBlock(Block(kModify, crowded, 5, 4, nullptr, L"Changed")), 1);
    EXPECT_EQ(ItemOf(crowded, 5)->Caption(), L"Changed");
    EXPECT_EQ(SendBlock(Block(kAdd, Owner(L"Roomy"), 1, 7, nullptr, L"Roomy")), 1);
    EXPECT_EQ(SendBlock(Block(kDelete, crowded, 7, 0, nullptr, L"")), 1);
    EXPECT_EQ(SendBlock(Block(kAdd, crowded, 1000, 7, nullptr, L"Now there is room")), 1);
}

// An icon whose program cannot be read: its release records nothing and moves no section, and
// the purge that follows keeps the filter title and box.
TEST_F(TrayHost, AReleaseWithoutAProgramRecordsNothing) {
    TTrayMenu& m = Build();
    HWND unread = Owner(L""), leaving = Owner(L"");
    ASSERT_EQ(SendBlock(Block(kAdd, unread, 1, 7, nullptr, L"Unread")), 1);
    ItemOf(unread, 1)->FExecPath.clear();
    for (int i = 0; i < 3; ++i) ItemOf(unread, 1)->FOnMouseUp(ItemOf(unread, 1), TMouseButton::mbLeft, 0, 5, 5);
    EXPECT_EQ(Launches(), 0);
    ASSERT_EQ(SendBlock(Block(kAdd, leaving, 1, 7, nullptr, L"Leaving")), 1);
    DestroyWindow(leaving);
    owners.erase(std::find(owners.begin(), owners.end(), leaving));
    ASSERT_EQ(SendBlock(Block(kAdd, unread, 2, 7, nullptr, L"Later")), 1);
    std::vector<std::wstring> c = Captions(m.Items());
    EXPECT_EQ(std::vector<std::wstring>(c.begin() + 3, c.end()),
              (std::vector<std::wstring>{L"Filter", L"Type Program Name..."}));
    EXPECT_EQ(c[0], L"Tray Icons");
}

TEST_F(TrayHost, IconsAreCheckedCopiedAndDestroyedWithTheirItems) {
    TTrayMenu& m = Build();
    HWND owner = Owner(L"Icons");
    HICON red = SolidIcon(RGB(200, 0, 0));
    HICON blue = SolidIcon(RGB(0, 0, 200));
    ASSERT_EQ(SendBlock(Block(kAdd, owner, 1, 7, red, L"Red")), 1);
    TDKMenuItem* item = ItemOf(owner, 1);
    HICON copy = item->Icon();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, red);
    EXPECT_EQ(testing_support::IconPixels(copy), testing_support::IconPixels(red));
    // The client's icon may go at once; the copy stays.
    DestroyIcon(red);
    EXPECT_TRUE(IconAlive(copy));

    // NIF_ICON replaces the copy and destroys the old one; without it the icon stays.
    ASSERT_EQ(SendBlock(Block(kModify, owner, 1, 4, blue, L"Blue")), 1);
    EXPECT_EQ(item->Icon(), copy);
    ASSERT_EQ(SendBlock(Block(kModify, owner, 1, 2, blue, L"")), 1);
    HICON copy2 = item->Icon();
    EXPECT_FALSE(IconAlive(copy));
    EXPECT_EQ(testing_support::IconPixels(copy2), testing_support::IconPixels(blue));
    EXPECT_EQ(item->Caption(), L"Blue");

    // A handle that is no icon gives an item without one.
    HWND other = Owner(L"Bogus");
    ASSERT_EQ(SendBlock(Block(kAdd, other, 5, 7, reinterpret_cast<HICON>(0x1234), L"Bogus")), 1);
    EXPECT_EQ(ItemOf(other, 5)->Icon(), nullptr);
    ASSERT_EQ(SendBlock(Block(kModify, other, 5, 2, reinterpret_cast<HICON>(0x5678), L"")), 1);
    EXPECT_EQ(ItemOf(other, 5)->Icon(), nullptr);

    ASSERT_EQ(SendBlock(Block(kDelete, owner, 1, 0, nullptr, L"")), 1);
    EXPECT_FALSE(IconAlive(copy2));
    ASSERT_EQ(SendBlock(Block(kAdd, owner, 2, 7, blue, L"Kept to the end")), 1);
    HICON copy3 = ItemOf(owner, 2)->Icon();
    ASSERT_TRUE(IconAlive(copy3));
    (void)m;
    menu.reset();
    EXPECT_FALSE(IconAlive(copy3));
    DestroyIcon(blue);
}

TEST_F(TrayHost, FilterEnterReleasesTheFirstIcon) {
    TTrayMenu& m = Build();
    HWND owner = Owner(L"Filter target");
    ASSERT_EQ(SendBlock(Block(kAdd, owner, 4, 7, nullptr, L"Target")), 1);
    TDKMenuItem* edit = m.FindItem(TDKPopupMenu::FilterEditID);
    edit->FOnClick(edit);
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, owner, kCallback, kCallback, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_EQ(msg.lParam, WM_LBUTTONUP);
    EXPECT_FALSE(PeekMessageW(&msg, owner, kCallback, kCallback, PM_REMOVE));
    EXPECT_EQ(Launches(), 1);
}

TEST_F(TrayHost, AnIconAddedWhileTheFilterHoldsTextIsNarrowedByIt) {
    TTrayMenu& m = Build();
    ASSERT_EQ(SendBlock(Block(kAdd, Owner(L"First"), 1, 7, nullptr, L"Target one")), 1);
    m.Popup(100, 100);
    TDKMenuItem* box = m.FindItem(TDKPopupMenu::FilterEditID);
    m.FilterChanged(box, L"tar");
    ASSERT_EQ(SendBlock(Block(kAdd, Owner(L"Second"), 2, 7, nullptr, L"Other")), 1);
    ASSERT_EQ(SendBlock(Block(kAdd, Owner(L"Third"), 3, 7, nullptr, L"Target two")), 1);
    std::vector<std::wstring> rows;
    for (int r = 0; r < m.Items()->RowCount(); ++r) rows.push_back(m.Items()->RowText(r));
    EXPECT_EQ(rows, (std::vector<std::wstring>{L"Tray Icons", L"Target two", L"Target one", L"Filter", L"tar"}));
    m.Hide();
}

// 20 clients with 50 icons each, at once: ten programs and ten threads of this process (whose
// icons the host can copy, so copies are made and must all be destroyed again).
TEST_F(TrayHost, ManyClientsAtOnceLeaveNoItemsAndNoGdiObjects) {
    Build();
    HWND warm = Owner(L"Warm-up");
    HICON warmIcon = SolidIcon(RGB(1, 2, 3));
    ASSERT_EQ(SendBlock(Block(kAdd, warm, 1, 7, warmIcon, L"Warm\nup")), 1);
    ASSERT_EQ(SendBlock(Block(kModify, warm, 1, 6, warmIcon, L"Warmer\nup")), 1);
    ASSERT_EQ(SendBlock(Block(kDelete, warm, 1, 0, nullptr, L"")), 1);
    DestroyIcon(warmIcon);
    int gdiBefore = GdiObjectCount();

    std::vector<std::wstring> outs;
    for (int i = 0; i < 10; ++i) outs.push_back(RunClient(L"bulk 50"));
    std::atomic<int> done{0}, okAdds{0}, okModifies{0}, okDeletes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 10; ++t) {
        threads.emplace_back([&, t] {
            HWND w = OwnerWindow(L"thread client");
            std::vector<HICON> icons;
            for (DWORD i = 1; i <= 50; ++i) {
                icons.push_back(SolidIcon(RGB(t * 20, i * 4, 100)));
                okAdds += SendBlock(Block(kAdd, w, i, 7, icons.back(), L"T" + std::to_wstring(i) + L"\nline")) == 1;
            }
            for (DWORD i = 1; i <= 50; ++i) {
                icons.push_back(SolidIcon(RGB(100, t * 20, i * 4)));
                okModifies += SendBlock(Block(kModify, w, i, 6, icons.back(), L"Changed\nA\nB")) == 1;
            }
            for (DWORD i = 1; i <= 50; ++i) okDeletes += SendBlock(Block(kDelete, w, i, 0, nullptr, L"")) == 1;
            for (HICON h : icons) DestroyIcon(h);
            DestroyWindow(w);
            ++done;
        });
    }
    bool finished = WaitUntil(
        [&] {
            if (done.load() < 10) return false;
            for (HANDLE p : clients)
                if (WaitForSingleObject(p, 0) != WAIT_OBJECT_0) return false;
            return true;
        },
        240000);
    for (auto& t : threads) t.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(okAdds.load(), 500);
    EXPECT_EQ(okModifies.load(), 500);
    EXPECT_EQ(okDeletes.load(), 500);
    for (auto& out : outs) {
        auto l = Matching(out, "bulk ");
        ASSERT_EQ(l.size(), 1u);
        EXPECT_EQ(l[0], "bulk added 50 modified 50 deleted 50");
    }
    EXPECT_TRUE(TrayItems().empty());
    EXPECT_EQ(GdiObjectCount(), gdiBefore);
}

TEST_F(TrayHost, BuiltOnAWorkerThreadTheMenuTakesRequestsOnlyOnceWhole) {
    HWND owner = Owner(L"Early bird");
    std::atomic<TTrayMenu*> built{nullptr};
    std::thread worker([&] {
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        built = new TTrayMenu(TMenuOwner{L"Tray", 6, RGB(40, 90, 160), nullptr});
        if (SUCCEEDED(com)) CoUninitialize();
    });
    DWORD id = 1;
    int accepted = 0;
    bool whole = true;
    bool ended = WaitUntil(
        [&] {
            if (SendBlock(Block(kAdd, owner, id++, 7, nullptr, L"asking")) == 1) {
                ++accepted;
                TTrayMenu* m = TrayMenuInstance.load();
                int n = m ? m->Items()->Count() : 0;
                whole = whole && n >= 4 && m->Items()->GetItem(n - 1)->MIID() == TDKPopupMenu::FilterEditID;
            }
            return built.load() != nullptr;
        },
        60000);
    worker.join();
    menu.reset(built.load());
    ASSERT_TRUE(ended);
    EXPECT_TRUE(whole);
    EXPECT_EQ(static_cast<int>(TrayItems().size()), accepted);
    EXPECT_EQ(SendBlock(Block(kAdd, owner, id, 7, nullptr, L"after")), 1);
}

// Shell service objects named under the key are started (names that are no class id are passed
// over) while the menu is built on a worker thread, and released when the menu goes.
TEST_F(TrayHost, ShellServiceObjectsNamedInTheRegistryAreStarted) {
    const std::wstring key = L"SOFTWARE\\OrvaneTests\\ShellServiceObjects" + std::to_wstring(GetCurrentProcessId());
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\not a class id").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    // The web browser object answers IOleCommandTarget.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\{8856F961-340A-11D0-A96B-00C04FD705A2}").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    TTrayMenu::SetShellServiceObjectsKey(key);
    std::atomic<TTrayMenu*> built{nullptr};
    std::thread worker([&] {
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        built = new TTrayMenu(TMenuOwner{L"Tray", 6, RGB(40, 90, 160), nullptr});
        if (SUCCEEDED(com)) CoUninitialize();
    });
    bool ended = WaitUntil([&] { return built.load() != nullptr; }, 60000);
    worker.join();
    menu.reset(built.load());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    ASSERT_TRUE(ended);
    ASSERT_EQ(menu->FTargetArr.size(), 1u);
    IOleCommandTarget* target = menu->FTargetArr[0].get();
    target->AddRef();
    menu.reset();
    // Ours is now the last reference.
    EXPECT_EQ(target->Release(), 0u);
}

// Wine's own notification call sends a layout of its own; read at the Windows offsets it would
// name a window by its callback number. Only blocks with the Windows signature are taken.
TEST_F(TrayHost, WinesOwnFormatIsNotTakenForTheWindowsBlock) {
    Build();
    // Icon id 1 sits where the Windows block has its message code (1, modify: an unknown icon
    // is added); the callback number sits where it has the owner window.
    std::wstring out = RunClient(L"system 1 \"Wine tip\"");
    ASSERT_TRUE(WaitLines(out, "reply system", 1));
    EXPECT_EQ(Matching(out, "reply system")[0], "reply system 1 0");
    EXPECT_TRUE(TrayItems().empty()) << gui::ToUtf8(TrayItems()[0]->Caption());
}
