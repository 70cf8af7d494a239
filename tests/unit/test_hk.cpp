// hk.dll loaded as the bar loads it: keyboard, mouse and shell events reach the given windows
// with the codes and flags the bar and the Applications menu read, and stop after the Remove calls.
#include <gtest/gtest.h>

#include <string>
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

namespace {

std::string KeyName(WPARAM vk) {
    return vk == VK_LWIN ? "Win" : vk == VK_ESCAPE ? "Esc" : std::string(1, static_cast<char>(vk));
}

// The window in front, as another program: which keys, characters and hotkeys reach it.
class Typist : public gui::Window {
public:
    Typist() {
        Create({L"HkTestTypist"}, L"hk typist", WS_POPUP | WS_VISIBLE, WS_EX_TOPMOST, 300, 300, 200, 40, nullptr);
        SetForegroundWindow(Handle());
        SetFocus(Handle());
    }
    // "P+" a key down, "P-" up (Win, Esc and letters by name), "'p'" a character.
    std::string seen;
    int hotkeys = 0;  // posted: they overtake the keys in the queue

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
        switch (msg) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYUP:
            Add(KeyName(wp) + (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN ? "+" : "-"));
            return 0;
        case WM_CHAR:
            Add(std::string("'") + static_cast<char>(wp) + "'");
            return 0;
        case WM_HOTKEY:
            ++hotkeys;
            return 0;
        }
        return DefaultHandler(msg, wp, lp);
    }

private:
    void Add(const std::string& s) { seen += (seen.empty() ? "" : " ") + s; }
};

// Presses and releases: "Win+ P+ P- Win-" as in Typist::seen; a "+" of a key already down is a repeat.
void Keys(const std::string& seq) {
    size_t i = 0;
    while (i < seq.size()) {
        size_t j = seq.find(' ', i);
        if (j == std::string::npos) j = seq.size();
        std::string k = seq.substr(i, j - i);
        std::string name = k.substr(0, k.size() - 1);
        WORD vk = name == "Win" ? VK_LWIN : name == "Esc" ? VK_ESCAPE : static_cast<WORD>(name[0]);
        SendKey(vk, k.back() == '-');
        i = j + 1;
    }
}

bool IsRelease(const Posted& p) { return (static_cast<DWORD>(p.lp) >> 31) != 0; }
bool IsRepeat(const Posted& p) { return !IsRelease(p) && ((static_cast<DWORD>(p.lp) >> 30) & 1); }

// Lets the keys sent so far arrive.
void Drain() { WaitUntil([] { return false; }, 150); }

}  // namespace

// Keeps exactly what the bar acts on: a menu letter or Esc pressed while the Windows key is
// held, with its repeats and its release, even when that comes after the Windows key's. The
// Windows key and every other key reach the window in front, so another program's Win+Z
// fires and what is typed next arrives; the bar is told of every key all the same.
TEST_F(HkLibrary, OnlyTheBarsShortcutsAreKeptFromTheWindows) {
    Recorder rec;
    Typist typist;
    ASSERT_TRUE(RegisterHotKey(typist.Handle(), 1, MOD_WIN, 'Z'));
    ASSERT_TRUE(setKeyboard(rec.Handle()));
    Settle(rec, 50);
    struct Case {
        const char* sent;
        const char* reaches;
        int hotkeys;
    } cases[] = {
        {"Win+ P+ P- Win-", "Win+ Win-", 0},
        {"Win+ H+ H- Win-", "Win+ Win-", 0},
        {"Win+ Esc+ Esc- Win-", "Win+ Win-", 0},
        {"Win+ F+ F+ F+ F- Win-", "Win+ Win-", 0},  // held: its repeats are kept too
        {"Win+ S+ Win- S-", "Win+ Win-", 0},        // let go after the Windows key
        {"Win+ Z+ Z- Win- A+ A- B+ B-", "Win+ Z- Win- A+ 'a' A- B+ 'b' B-", 1},
        {"Win+ Q+ Q- Win-", "Win+ Q+ 'q' Q- Win-", 0},
        {"P+ P- Esc+ Esc-", "P+ 'p' P- Esc+ '\x1b' Esc-", 0},
    };
    for (const auto& c : cases) {
        typist.seen.clear();
        typist.hotkeys = 0;
        rec.Clear();
        Keys(c.sent);
        Drain();
        EXPECT_EQ(typist.seen, c.reaches) << "sent " << c.sent;
        EXPECT_EQ(typist.hotkeys, c.hotkeys) << "sent " << c.sent;
        std::string told;
        for (const auto& p : rec.got)
            if (p.msg == HK_WM_KEYBOARD) told += (told.empty() ? "" : " ") + KeyName(p.wp) + (IsRelease(p) ? "-" : "+");
        EXPECT_EQ(told, c.sent) << "the bar was told otherwise";
    }
    removeKeyboard();
    UnregisterHotKey(typist.Handle(), 1);
}

// A key held down since before the Windows key is not a shortcut: its repeats and its release
// reach the window, which would otherwise see the key stuck down.
TEST_F(HkLibrary, AKeyHeldBeforeTheWindowsKeyKeepsItsRelease) {
    Recorder rec;
    Typist typist;
    ASSERT_TRUE(setKeyboard(rec.Handle()));
    Settle(rec, 50);
    Keys("P+ Win+ P+ P- Win-");
    Drain();
    EXPECT_EQ(typist.seen, "P+ 'p' Win+ P+ 'p' P- Win-");
    auto p = Of(rec.got, HK_WM_KEYBOARD, 'P');
    ASSERT_EQ(p.size(), 3u);
    EXPECT_TRUE(IsRepeat(p[1])) << "the bar would take the held key for Win+P";
    // The same letter pressed afresh under the Windows key is the shortcut again.
    typist.seen.clear();
    Keys("Win+ P+ P- Win-");
    Drain();
    EXPECT_EQ(typist.seen, "Win+ Win-");
    removeKeyboard();
}

// The lock screen, the secure attention screen and elevation prompts take the input to another
// desktop: the Windows key's release goes there. Locking or unlocking the session (as Windows
// tells the library's window) forgets the key, the bar is told it is up, and the letters
// typed afterwards reach their window.
TEST_F(HkLibrary, LockOrUnlockForgetsTheWindowsKey) {
    Recorder rec;
    Typist typist;
    ASSERT_TRUE(setKeyboard(rec.Handle()));
    HWND session = FindWindowExW(HWND_MESSAGE, nullptr, L"HkSessionWatch", nullptr);
    ASSERT_NE(session, nullptr);
    for (WPARAM change : {WTS_SESSION_LOCK, WTS_SESSION_UNLOCK}) {
        Settle(rec, 50);
        typist.seen.clear();
        Keys("Win+");
        Drain();
        rec.Clear();
        SendMessageW(session, WM_WTSSESSION_CHANGE, change, 1);
        Keys("P+ P-");
        Drain();
        EXPECT_EQ(typist.seen, "Win+ P+ 'p' P-") << "after session change " << change;
        ASSERT_GE(rec.got.size(), 3u);
        EXPECT_EQ(rec.got[0].wp, static_cast<WPARAM>(VK_LWIN));
        EXPECT_TRUE(IsRelease(rec.got[0])) << "the bar still counts the Windows key as held";
        Keys("Win-");
        Drain();
    }
    // A session change with the Windows key up tells the bar nothing.
    rec.Clear();
    SendMessageW(session, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1);
    Drain();
    EXPECT_EQ(rec.Count(HK_WM_KEYBOARD), 0u);
    removeKeyboard();
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"HkSessionWatch", nullptr), nullptr);
}

// A release that never reached the hook shows in the system's key state: the next key finds the
// Windows key up, so the bar is told and that key is not taken for a shortcut. Here the hook's
// thread is busy past the time the system waits for a low-level hook, and the release passes it by.
TEST_F(HkLibrary, AReleaseTheHookMissedIsSeenInTheKeyState) {
    Recorder rec;
    Typist typist;
    struct Worker {
        TSetHookProc set;
        TRemoveHookProc remove;
        HWND target;
        DWORD id = 0;
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } w{setKeyboard, removeKeyboard, rec.Handle()};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* w = static_cast<Worker*>(p);
            MSG m;
            PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
            w->set(w->target);
            SetEvent(w->ready);
            while (GetMessageW(&m, nullptr, 0, 0) > 0) {
                if (m.message == WM_APP) Sleep(static_cast<DWORD>(m.wParam));  // busy
                DispatchMessageW(&m);
            }
            w->remove();
            return 0;
        },
        &w, 0, &w.id);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(w.ready, 5000);
    Settle(rec, 50);
    Keys("Win+");
    Drain();
    PostThreadMessageW(w.id, WM_APP, 2500, 0);
    Sleep(50);
    Keys("Win-");  // the system gives up on the hook and lets the release through
    WaitUntil([] { return false; }, 700);
    ASSERT_EQ(GetAsyncKeyState(VK_LWIN) & 0x8000, 0);
    EXPECT_TRUE(Of(rec.got, HK_WM_KEYBOARD, VK_LWIN).size() == 1) << "the hook saw the release after all";
    typist.seen.clear();
    rec.Clear();
    Keys("P+ P-");
    Drain();
    EXPECT_EQ(typist.seen, "P+ 'p' P-");
    ASSERT_GE(rec.got.size(), 3u);
    EXPECT_EQ(rec.got[0].wp, static_cast<WPARAM>(VK_LWIN));
    EXPECT_TRUE(IsRelease(rec.got[0]));
    EXPECT_EQ(rec.got[1].wp, static_cast<WPARAM>('P'));
    // The Windows key works as before afterwards.
    typist.seen.clear();
    Keys("Win+ P+ P- Win-");
    Drain();
    EXPECT_EQ(typist.seen, "Win+ Win-");
    PostThreadMessageW(w.id, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(w.ready);
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
    // A report of the pointer where it already was is no move (Wine sends one when a window
    // appears under a resting pointer).
    WaitUntil([] { return false; }, 200);
    rec.Clear();
    MoveMouseTo(100, targets[1]);
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(rec.Count(HK_WM_MOUSE), 0u);
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
