// hk.dll loaded as the bar loads it: keyboard, mouse and shell events reach the given windows
// with the codes and flags the bar and the Applications menu read, and stop after the Remove calls.
#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "Window.h"
#include "../../tools/hk/hk.h"

using testing_support::BinDir;
using testing_support::WaitUntil;

namespace {

struct Posted {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

class Recorder : public gui::Window {
public:
    Recorder() { Create({L"HkTestRecorder"}, L"hk recorder", WS_POPUP, 0, 0, 0, 0, 0, 0); }
    std::vector<Posted> got;
    void Clear() { got.clear(); }
    size_t Count(UINT msg) const {
        size_t n = 0;
        for (const auto& p : got) n += p.msg == msg;
        return n;
    }

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == HK_WM_SHELL || msg == HK_WM_KEYBOARD || msg == HK_WM_MOUSE) {
            got.push_back({msg, wp, lp});
            return 0;
        }
        return DefaultHandler(msg, wp, lp);
    }
};

class HkLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        lib = LoadLibraryW((BinDir() + L"hk.dll").c_str());
        ASSERT_NE(lib, nullptr);
        setKeyboard = Proc<TSetHookProc>("SetKeyBoardHook");
        setMouse = Proc<TSetHookProc>("SetMouseHook");
        setShell = Proc<TSetHookProc>("SetShellHook");
        removeKeyboard = Proc<TRemoveHookProc>("RemoveKeyBoardHook");
        removeMouse = Proc<TRemoveHookProc>("RemoveMouseHook");
        removeShell = Proc<TRemoveHookProc>("RemoveShellHook");
        ASSERT_TRUE(setKeyboard && setMouse && setShell && removeKeyboard && removeMouse && removeShell);
    }
    void TearDown() override {
        if (lib) FreeLibrary(lib);
    }
    template <class T>
    T Proc(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
    }
    // Lets posted messages in and drops what arrived so far.
    static void Settle(Recorder& r, DWORD ms) {
        WaitUntil([] { return false; }, ms);
        r.Clear();
    }

    HMODULE lib = nullptr;
    TSetHookProc setKeyboard{}, setMouse{}, setShell{};
    TRemoveHookProc removeKeyboard{}, removeMouse{}, removeShell{};
};

void SendKey(WORD vk, bool release) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = release ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof in);
}

void MoveMouseTo(int x, int y) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    in.mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
}

// A key nobody in the session acts on, so parallel tests and a running bar are left alone.
constexpr WORD kKey = VK_F24;

std::vector<Posted> Of(const std::vector<Posted>& all, UINT msg, WPARAM wp) {
    std::vector<Posted> r;
    for (const auto& p : all)
        if (p.msg == msg && p.wp == wp) r.push_back(p);
    return r;
}

}  // namespace

TEST_F(HkLibrary, KeyPressRepeatAndReleaseCarryKeystrokeFlags) {
    Recorder rec;
    ASSERT_TRUE(setKeyboard(rec.Handle()));
    Settle(rec, 50);
    SendKey(kKey, false);
    SendKey(kKey, false);  // held: auto-repeat
    SendKey(kKey, true);
    ASSERT_TRUE(WaitUntil([&] { return Of(rec.got, HK_WM_KEYBOARD, kKey).size() >= 3; }, 3000));
    auto keys = Of(rec.got, HK_WM_KEYBOARD, kKey);
    ASSERT_EQ(keys.size(), 3u);
    auto bit = [](LPARAM lp, int n) { return (static_cast<DWORD>(lp) >> n) & 1; };
    EXPECT_EQ(bit(keys[0].lp, 31), 0u);  // press
    EXPECT_EQ(bit(keys[0].lp, 30), 0u);  // first press, not a repeat
    EXPECT_EQ(bit(keys[1].lp, 31), 0u);
    EXPECT_EQ(bit(keys[1].lp, 30), 1u);  // auto-repeat
    EXPECT_EQ(bit(keys[2].lp, 31), 1u);  // release
    EXPECT_EQ(keys[0].lp & 0xFFFF, 1);   // repeat count

    // A later press starts fresh.
    rec.Clear();
    SendKey(kKey, false);
    SendKey(kKey, true);
    ASSERT_TRUE(WaitUntil([&] { return Of(rec.got, HK_WM_KEYBOARD, kKey).size() >= 2; }, 3000));
    EXPECT_EQ(bit(Of(rec.got, HK_WM_KEYBOARD, kKey)[0].lp, 30), 0u);

    removeKeyboard();
    Settle(rec, 50);
    SendKey(kKey, false);
    SendKey(kKey, true);
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(rec.Count(HK_WM_KEYBOARD), 0u);
}

// Win+letter opens a menu whose filter box then has the focus: neither the Windows key nor
// the letter may arrive there, even when the letter is let go after the Windows key.
TEST_F(HkLibrary, KeysUnderTheWindowsKeyReachOnlyTheBar) {
    Recorder rec;
    HWND top = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"hk typing", WS_POPUP | WS_VISIBLE, 300, 300, 200, 40,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 40, top, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(top);
    SetFocus(edit);
    ASSERT_TRUE(setKeyboard(rec.Handle()));
    Settle(rec, 50);
    auto text = [&] {
        wchar_t buf[32] = {};
        GetWindowTextW(edit, buf, 32);
        return std::wstring(buf);
    };
    SendKey(VK_LWIN, false);
    SendKey('Q', false);
    SendKey(VK_LWIN, true);
    SendKey('Q', true);
    SendKey('N', false);
    SendKey('N', true);
    ASSERT_TRUE(WaitUntil([&] { return Of(rec.got, HK_WM_KEYBOARD, 'N').size() >= 2 && !text().empty(); }, 3000));
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(text(), L"n");
    EXPECT_EQ(Of(rec.got, HK_WM_KEYBOARD, VK_LWIN).size(), 2u);
    EXPECT_EQ(Of(rec.got, HK_WM_KEYBOARD, 'Q').size(), 2u);
    removeKeyboard();
    DestroyWindow(top);
}

TEST_F(HkLibrary, MouseMovesPostTheCursorY) {
    POINT before{};
    GetCursorPos(&before);
    Recorder rec;
    ASSERT_TRUE(setMouse(rec.Handle()));
    Settle(rec, 50);
    const int targets[] = {2, 333};
    for (int y : targets) {
        rec.Clear();
        MoveMouseTo(100, y);
        POINT at{};
        ASSERT_TRUE(WaitUntil(
            [&] {
                GetCursorPos(&at);
                for (const auto& p : rec.got)
                    if (p.msg == HK_WM_MOUSE && static_cast<int>(p.lp) == at.y) return true;
                return false;
            },
            3000))
            << "no WM_USER+3 with the cursor's Y " << at.y;
        EXPECT_NEAR(at.y, y, 1);
    }
    removeMouse();
    Settle(rec, 50);
    MoveMouseTo(200, 400);
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(rec.Count(HK_WM_MOUSE), 0u);
    SetCursorPos(before.x, before.y);
}

TEST_F(HkLibrary, TopLevelWindowCreatedRetitledActivatedDestroyed) {
    Recorder rec;
    ASSERT_TRUE(setShell(rec.Handle()));
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HkTestTopLevel";
    RegisterClassW(&wc);
    auto make = [] {
        HWND w = CreateWindowExW(0, L"HkTestTopLevel", L"first title", WS_OVERLAPPEDWINDOW, 300, 300, 200, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ShowWindow(w, SW_SHOWNOACTIVATE);
        return w;
    };
    auto index = [&](HWND w, LPARAM code) -> int {
        for (size_t i = 0; i < rec.got.size(); ++i)
            if (rec.got[i].msg == HK_WM_SHELL && rec.got[i].wp == reinterpret_cast<WPARAM>(w) && rec.got[i].lp == code)
                return static_cast<int>(i);
        return -1;
    };

    HWND w = make();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return index(w, HSHELL_WINDOWCREATED) >= 0; }, 3000));
    SetWindowTextW(w, L"second title");
    ASSERT_TRUE(WaitUntil([&] { return index(w, HSHELL_REDRAW) >= 0; }, 3000));
    SetForegroundWindow(w);
    ASSERT_TRUE(WaitUntil([&] { return index(w, HSHELL_WINDOWACTIVATED) >= 0; }, 3000));
    DestroyWindow(w);
    ASSERT_TRUE(WaitUntil([&] { return index(w, HSHELL_WINDOWDESTROYED) >= 0; }, 3000));
    EXPECT_LT(index(w, HSHELL_WINDOWCREATED), index(w, HSHELL_REDRAW));
    EXPECT_LT(index(w, HSHELL_WINDOWCREATED), index(w, HSHELL_WINDOWACTIVATED));
    EXPECT_LT(index(w, HSHELL_WINDOWACTIVATED), index(w, HSHELL_WINDOWDESTROYED));

    // Hidden and owned windows are not the task bar's business. (Taking a window off the
    // screen costs Wine about 2 s without a window manager; this test spends most of its time there.)
    rec.Clear();
    HWND hidden = CreateWindowExW(0, L"HkTestTopLevel", L"hidden", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND owned = CreateWindowExW(0, L"HkTestTopLevel", L"owned", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, rec.Handle(),
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    WaitUntil([] { return false; }, 4 * HK_SHELL_POLL_MS);
    EXPECT_EQ(index(hidden, HSHELL_WINDOWCREATED), -1);
    EXPECT_EQ(index(owned, HSHELL_WINDOWCREATED), -1);
    DestroyWindow(owned);
    DestroyWindow(hidden);

    EXPECT_TRUE(removeShell());
    Settle(rec, 50);
    HWND later = make();
    SetWindowTextW(later, L"renamed");
    WaitUntil([] { return false; }, 4 * HK_SHELL_POLL_MS);
    DestroyWindow(later);
    WaitUntil([] { return false; }, 3 * HK_SHELL_POLL_MS);
    EXPECT_EQ(rec.Count(HK_WM_SHELL), 0u);
}
