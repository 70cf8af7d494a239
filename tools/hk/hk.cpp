// hk.dll: turns session-wide keyboard and mouse input and top-level window events into messages
// posted to the bar's windows.
//
// Keyboard and mouse use low-level hooks; their procedures run on the thread that installed
// them (it must pump messages, which the bar's GUI thread does). Every key is posted to the bar.
// Only what the bar acts on is kept from the windows: a menu letter or Esc pressed while a
// Windows key is held (or the letter that opens a menu would also be typed into it). The
// Windows keys and everything else go on, so other programs' and the system's Windows-key
// shortcuts work beside the bar.
//
// Shell events come from a watcher thread that compares the top-level window list, the
// foreground window and the window titles every HK_SHELL_POLL_MS. RegisterShellHookWindow is a
// stub under Wine and the hook and win-event routes each miss some of the four events there;
// the comparison gives all four the same way everywhere. A window that appears and vanishes
// between two looks is not reported, which costs nothing: there was nothing to list.
#include "hk.h"

#include "Handles.h"

#include <wtsapi32.h>

#include <map>
#include <string>
#include <vector>

namespace {

HMODULE g_module = nullptr;

// Keyboard and mouse: touched only by the installing thread (hook procedures and the session
// window run there).
HHOOK g_keyboardHook = nullptr;
HWND g_keyboardWnd = nullptr;
HWND g_sessionWnd = nullptr;  // told of session lock and unlock
bool g_keyDown[256] = {};
bool g_keyKept[256] = {};  // its press was a shortcut: its repeats and its release are kept back too
BYTE g_winKey = 0;         // the Windows key last pressed, while the bar counts one as held
DWORD g_winKeyAt = 0;      // when a Windows key last went down (auto-repeat included)
HHOOK g_mouseHook = nullptr;
HWND g_mouseWnd = nullptr;
bool g_mouseSeen = false;  // g_mouseAt holds the pointer's last reported place
POINT g_mouseAt{};

constexpr wchar_t kSessionClass[] = L"HkSessionWatch";

// The flags word of a WM_KEYDOWN / WM_KEYUP message: repeat count 1, scan code, extended key,
// context (Alt held), previous key state, transition state.
LPARAM KeystrokeFlags(DWORD scanCode, bool extended, bool altDown, bool wasDown, bool release) {
    DWORD f = 1;
    f |= (scanCode & 0xFF) << 16;
    if (extended) f |= 1u << 24;
    if (altDown) f |= 1u << 29;
    if (wasDown || release) f |= 1u << 30;  // a release always follows a down state
    if (release) f |= 1u << 31;
    return static_cast<LPARAM>(f);
}

bool IsWinKey(BYTE vk) { return vk == VK_LWIN || vk == VK_RWIN; }

// What the bar acts on while a Windows key is held: its menu letters and Esc.
bool IsShortcutKey(BYTE vk) {
    switch (vk) {
    case 'P': case 'F': case 'A': case 'I': case 'N': case 'S': case 'T': case 'H': case VK_ESCAPE:
        return true;
    }
    return false;
}

// The Windows key's release went where this hook cannot see (another desktop took the input:
// the lock screen, the secure attention screen, an elevation prompt). The bar is told the key
// is up as if the release had come.
void ForgetWinKey() {
    if (!g_winKey) return;
    BYTE vk = g_winKey;
    g_winKey = 0;
    g_keyDown[VK_LWIN] = g_keyDown[VK_RWIN] = false;
    if (g_keyboardWnd)
        PostMessageW(g_keyboardWnd, HK_WM_KEYBOARD, vk,
                     KeystrokeFlags(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC), true, false, true, true));
}

void ClearKeys() {
    g_winKey = 0;
    for (bool& d : g_keyDown) d = false;
    for (bool& d : g_keyKept) d = false;
}

// The session was locked or unlocked: every release since went to the other desktop.
void ForgetAllKeys() {
    ForgetWinKey();
    ClearKeys();
}

// A Windows key that went down this recently is still held: no other desktop took the input and
// gave it back in between. Asking sooner gains nothing and is unsafe under Wine, which may
// overwrite the system's key state with one taken before the key went down.
constexpr DWORD kWinKeySureMs = 1000;

// The Windows keys are passed on, so the system's own key state holds them while they are held.
bool WinKeyIsDown() {
    if (GetTickCount() - g_winKeyAt < kWinKeySureMs) return true;
    return ((GetAsyncKeyState(VK_LWIN) | GetAsyncKeyState(VK_RWIN)) & 0x8000) != 0;
}

LRESULT CALLBACK KeyboardProc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && g_keyboardWnd) {
        const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
        bool release = (k->flags & LLKHF_UP) != 0 || wp == WM_KEYUP || wp == WM_SYSKEYUP;
        BYTE vk = static_cast<BYTE>(k->vkCode);
        if (g_winKey && !IsWinKey(vk) && !WinKeyIsDown()) ForgetWinKey();
        // Low-level input carries no previous state; keep our own so auto-repeat shows.
        bool wasDown = g_keyDown[vk];
        g_keyDown[vk] = !release;
        bool keep = false;
        if (IsWinKey(vk)) {
            g_winKey = release ? 0 : vk;  // as the bar counts it: the last Windows key event decides
            if (!release) g_winKeyAt = GetTickCount();
        } else if (g_keyKept[vk]) {
            keep = true;
            g_keyKept[vk] = !release;
        } else {
            // Only a fresh press: a key held down since before the Windows key goes on as it began.
            keep = g_keyKept[vk] = !release && !wasDown && g_winKey && IsShortcutKey(vk);
        }
        PostMessageW(g_keyboardWnd, HK_WM_KEYBOARD, vk,
                     KeystrokeFlags(k->scanCode, (k->flags & LLKHF_EXTENDED) != 0,
                                    (k->flags & LLKHF_ALTDOWN) != 0, wasDown, release));
        if (keep) return 1;
    }
    return CallNextHookEx(g_keyboardHook, code, wp, lp);
}

LRESULT CALLBACK SessionProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_WTSSESSION_CHANGE && (wp == WTS_SESSION_LOCK || wp == WTS_SESSION_UNLOCK)) {
        ForgetAllKeys();
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

// A message-only window on the hook's thread, registered for this session's changes.
HWND CreateSessionWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = SessionProc;
    wc.hInstance = g_module;
    wc.lpszClassName = kSessionClass;
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, kSessionClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
    if (w) WTSRegisterSessionNotification(w, NOTIFY_FOR_THIS_SESSION);
    return w;
}

void DestroySessionWindow() {
    if (!g_sessionWnd) return;
    WTSUnRegisterSessionNotification(g_sessionWnd);
    DestroyWindow(g_sessionWnd);
    g_sessionWnd = nullptr;
    UnregisterClassW(kSessionClass, g_module);
}

LRESULT CALLBACK MouseProc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && g_mouseWnd && wp == WM_MOUSEMOVE) {
        const auto* m = reinterpret_cast<const MSLLHOOKSTRUCT*>(lp);
        // Only a pointer that moved: Wine reports a move when a window appears under a resting
        // pointer, which would end the keyboard's hold on the menus while the user types.
        if (!g_mouseSeen || m->pt.x != g_mouseAt.x || m->pt.y != g_mouseAt.y) {
            g_mouseSeen = true;
            g_mouseAt = m->pt;
            PostMessageW(g_mouseWnd, HK_WM_MOUSE, 0, static_cast<LPARAM>(static_cast<LONG>(m->pt.y)));
        }
    }
    return CallNextHookEx(g_mouseHook, code, wp, lp);
}

// ---- shell events ----

struct ShellSnapshot {
    std::map<HWND, std::wstring> windows;  // listed top-level windows and their titles
    HWND foreground = nullptr;
};

// Windows a task bar would show: visible, and either unowned and not a tool window, or
// explicitly marked as application windows.
bool IsListedWindow(HWND w) {
    if (!IsWindowVisible(w)) return false;
    LONG_PTR ex = GetWindowLongPtrW(w, GWL_EXSTYLE);
    if (ex & WS_EX_APPWINDOW) return true;
    return GetWindow(w, GW_OWNER) == nullptr && !(ex & WS_EX_TOOLWINDOW);
}

std::wstring TitleOf(HWND w) {
    // InternalGetWindowText sends no message: the watcher must never wait on a busy GUI thread.
    wchar_t buf[512] = {};
    InternalGetWindowText(w, buf, 512);
    return buf;
}

ShellSnapshot TakeSnapshot(HWND self) {
    struct Ctx {
        ShellSnapshot* s;
        HWND self;
    };
    ShellSnapshot snap;
    Ctx ctx{&snap, self};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(lp);
            if (w != c->self && IsListedWindow(w)) c->s->windows.emplace(w, TitleOf(w));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    snap.foreground = GetForegroundWindow();
    return snap;
}

struct ShellWatch {
    HWND target = nullptr;
    gui::KernelHandle stop;
    ShellSnapshot last;
};

gui::KernelHandle g_shellThread;
ShellWatch* g_shellWatch = nullptr;  // owned by SetShellHook / RemoveShellHook

void PostShell(HWND target, HWND w, LPARAM code) {
    PostMessageW(target, HK_WM_SHELL, reinterpret_cast<WPARAM>(w), code);
}

void CompareAndPost(ShellWatch& sw) {
    ShellSnapshot now = TakeSnapshot(sw.target);
    // Order within one look: gone, new, retitled, then the activation, as they would happen.
    for (const auto& [w, title] : sw.last.windows)
        if (!now.windows.count(w)) PostShell(sw.target, w, HSHELL_WINDOWDESTROYED);
    for (const auto& [w, title] : now.windows) {
        auto it = sw.last.windows.find(w);
        if (it == sw.last.windows.end())
            PostShell(sw.target, w, HSHELL_WINDOWCREATED);
        else if (it->second != title)
            PostShell(sw.target, w, HSHELL_REDRAW);
    }
    if (now.foreground && now.foreground != sw.last.foreground)
        PostShell(sw.target, now.foreground, HSHELL_WINDOWACTIVATED);
    sw.last = std::move(now);
}

DWORD WINAPI ShellWatchThread(void* param) {
    auto* sw = static_cast<ShellWatch*>(param);
    while (WaitForSingleObject(sw->stop.get(), HK_SHELL_POLL_MS) == WAIT_TIMEOUT) CompareAndPost(*sw);
    // The thread holds a reference on this library so it cannot be unloaded under it.
    FreeLibraryAndExitThread(g_module, 0);
    return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI SetKeyBoardHook(HWND wnd) {
    g_keyboardWnd = wnd;
    if (!g_keyboardHook) {
        ClearKeys();
        g_keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardProc, g_module, 0);
        if (g_keyboardHook && !g_sessionWnd) g_sessionWnd = CreateSessionWindow();
    }
    return g_keyboardHook != nullptr;
}

// Takes a hook down and forgets its window; False when it was not set.
static BOOL Unhook(HHOOK& hook, HWND& wnd) {
    wnd = nullptr;
    if (!hook) return FALSE;
    BOOL ok = UnhookWindowsHookEx(hook);
    hook = nullptr;
    return ok;
}

__declspec(dllexport) BOOL WINAPI RemoveKeyBoardHook() {
    DestroySessionWindow();
    return Unhook(g_keyboardHook, g_keyboardWnd);
}

__declspec(dllexport) BOOL WINAPI SetMouseHook(HWND wnd) {
    g_mouseWnd = wnd;
    g_mouseSeen = false;
    if (!g_mouseHook) g_mouseHook = SetWindowsHookExW(WH_MOUSE_LL, MouseProc, g_module, 0);
    return g_mouseHook != nullptr;
}

__declspec(dllexport) BOOL WINAPI RemoveMouseHook() { return Unhook(g_mouseHook, g_mouseWnd); }

__declspec(dllexport) BOOL WINAPI RemoveShellHook() {
    if (!g_shellThread) return FALSE;
    SetEvent(g_shellWatch->stop.get());
    WaitForSingleObject(g_shellThread.get(), INFINITE);
    g_shellThread.reset();
    delete g_shellWatch;
    g_shellWatch = nullptr;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI SetShellHook(HWND wnd) {
    RemoveShellHook();
    if (!IsWindow(wnd)) return FALSE;
    auto* sw = new ShellWatch;
    sw->target = wnd;
    sw->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Windows that exist now are the caller's to enumerate; only changes from here on are sent.
    sw->last = TakeSnapshot(wnd);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&SetShellHook), &self);
    HANDLE t = sw->stop ? CreateThread(nullptr, 0, ShellWatchThread, sw, 0, nullptr) : nullptr;
    if (!t) {
        if (self) FreeLibrary(self);
        delete sw;
        return FALSE;
    }
    g_shellWatch = sw;
    g_shellThread.reset(t);
    return TRUE;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = inst;
        DisableThreadLibraryCalls(inst);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded while hooks are still set: take them down so nothing calls into freed code.
        if (g_keyboardHook) UnhookWindowsHookEx(g_keyboardHook);
        if (g_mouseHook) UnhookWindowsHookEx(g_mouseHook);
        // Its procedure goes with this library; the window itself belongs to the hook's thread.
        if (g_sessionWnd) SetWindowLongPtrW(g_sessionWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    }
    return TRUE;
}
