// Reports what the running bar shows, as a user's tools would see it, for the end-to-end test.
//   bar_probe info        the bar window, its buttons, the work area, notification windows
//   bar_probe rows        every row of the visible menus: "row X Y caption" (X, Y the row's
//                         middle on the screen) and "edit L T R B text" for the rows' edit boxes
//   bar_probe layout      per visible menu window "menu L T R B", then its rows as
//                         "row L T R B S caption" (on the screen; S 1 for the selected row);
//                         last "turn L T R B" for each window on the screen that shows a
//                         menu's turning row alone
//   bar_probe focus       where the bar's keys go: "focus CLASS TEXT" and "active CLASS TEXT"
//   bar_probe find T      "X Y", the middle of the first visible window or control titled T
//   bar_probe control T ID  "L T R B", the screen rectangle of the control with that id in the
//                         visible window titled T (a dialog of the bar, the colour chooser)
//   bar_probe listrow T ID N  "X Y", the middle of row N of that control (a list box)
//   bar_probe combo T ID  the rows of that control (a combo box), one "row TEXT" line each
//   bar_probe alpha       the blend value of each notification window, one line each
//   bar_probe notes       the text of each notification window, one line each (line breaks as " | ")
//   bar_probe endsession  sends the session-end query to the bar and prints the answer
//   bar_probe count F Q   prints the integer that query Q gives on the database file F
//   bar_probe typed W MS  after "ready", follows the open menu while W is typed into its filter
//                         box, for at most MS ms: per key, how long after its down the menu showed
//                         it; "last N ms" for the last key
//   bar_probe cover S     an ordinary window over the top of the screen for S seconds (the
//                         pointer hooks see input only over a window of the session)
//   bar_probe shown MS    after "ready", waits at most MS ms for a menu window that was not
//                         visible to show: "shown N ms after the pointer's last move L T W H"
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Handles.h"
#include "sqlite3.h"

namespace {

HWND Bar() { return FindWindowW(L"TOrvane", nullptr); }

// The bar's menu windows, shown or not, in the order of the window server.
std::vector<HWND> MenuForms() {
    std::vector<HWND> v;
    for (HWND w = FindWindowW(L"TDKMenuForm", nullptr); w; w = FindWindowExW(nullptr, w, L"TDKMenuForm", nullptr))
        v.push_back(w);
    return v;
}

std::vector<HWND> VisibleMenus() {
    std::vector<HWND> v;
    for (HWND w : MenuForms())
        if (IsWindowVisible(w)) v.push_back(w);
    return v;
}

std::vector<HWND> MenuLists() {
    std::vector<HWND> lists;
    for (HWND w : VisibleMenus())
        if (HWND list = FindWindowExW(w, nullptr, L"SysListView32", nullptr)) lists.push_back(list);
    return lists;
}

void Info() {
    HWND bar = Bar();
    if (!bar) {
        std::printf("bar none\n");
    } else {
        RECT r;
        GetWindowRect(bar, &r);
        bool topmost = (GetWindowLongW(bar, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        std::printf("bar %ld %ld %ld %ld topmost %d visible %d\n", r.left, r.top, r.right - r.left,
                    r.bottom - r.top, topmost ? 1 : 0, IsWindowVisible(bar) ? 1 : 0);
        std::vector<HWND> buttons;
        EnumChildWindows(
            bar,
            [](HWND w, LPARAM lp) -> BOOL {
                wchar_t cls[64];
                GetClassNameW(w, cls, 64);
                if (lstrcmpW(cls, L"TDKButton") == 0) reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&buttons));
        for (HWND b : buttons) {
            RECT br;
            GetWindowRect(b, &br);
            std::printf("button %ld %ld %ld %ld\n", br.left - r.left, br.top - r.top, br.right - br.left,
                        br.bottom - br.top);
        }
    }
    if (FindWindowW(L"DKMonitor", L"Orvane Monitor")) std::printf("monitor\n");
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::printf("work %ld %ld %ld %ld\n", work.left, work.top, work.right, work.bottom);
    for (HWND w : VisibleMenus()) {
        RECT mr;
        GetWindowRect(w, &mr);
        std::printf("menu %ld %ld %ld %ld\n", mr.left, mr.top, mr.right - mr.left, mr.bottom - mr.top);
    }
    for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
         w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr)) {
        RECT nr;
        GetWindowRect(w, &nr);
        std::printf("notification %ld %ld %ld %ld visible %d\n", nr.left, nr.top, nr.right - nr.left,
                    nr.bottom - nr.top, IsWindowVisible(w) ? 1 : 0);
    }
}

// The list views live in the bar's process: their rows are read through memory lent there.
struct Row {
    POINT mid;  // on the screen
    std::wstring text;
    RECT bounds;  // on the screen
    bool selected;
};

std::vector<Row> ListRows(HWND list) {
    std::vector<Row> rows;
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    gui::KernelHandle owner(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!owner) return rows;
    HANDLE proc = owner.get();
    struct Remote {
        LVITEMW item;
        RECT rect;
        wchar_t text[260];
    };
    auto* remote = static_cast<Remote*>(VirtualAllocEx(proc, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE));
    int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; remote && i < n; ++i) {
        Remote local{};
        local.item.cchTextMax = 260;
        local.item.pszText = remote->text;
        local.rect.left = LVIR_BOUNDS;
        WriteProcessMemory(proc, remote, &local, sizeof local, nullptr);
        SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&remote->item));
        SendMessageW(list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&remote->rect));
        ReadProcessMemory(proc, remote, &local, sizeof local, nullptr);
        POINT mid{local.rect.left + 60, (local.rect.top + local.rect.bottom) / 2};
        ClientToScreen(list, &mid);
        RECT bounds = local.rect;
        MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&bounds), 2);
        bool selected = SendMessageW(list, LVM_GETITEMSTATE, i, LVIS_SELECTED) != 0;
        rows.push_back({mid, local.text, bounds, selected});
    }
    if (remote) VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    return rows;
}

// Another process's edit box: GetWindowText does not reach its text (Wine gives ""). False when the box
// went away or its thread did not answer within the time.
bool EditText(HWND e, std::wstring& text, UINT ms) {
    wchar_t buf[260] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(e, WM_GETTEXT, 260, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, ms, &got))
        return false;
    text = buf;
    return true;
}

HWND VisibleEdit(HWND list) {
    for (HWND e = FindWindowExW(list, nullptr, L"Edit", nullptr); e; e = FindWindowExW(list, e, L"Edit", nullptr))
        if (IsWindowVisible(e)) return e;
    return nullptr;
}

void Rows() {
    for (HWND list : MenuLists()) {
        for (const Row& r : ListRows(list)) std::printf("row %ld %ld %ls\n", r.mid.x, r.mid.y, r.text.c_str());
        for (HWND e = FindWindowExW(list, nullptr, L"Edit", nullptr); e; e = FindWindowExW(list, e, L"Edit", nullptr)) {
            if (!IsWindowVisible(e)) continue;
            RECT r;
            GetWindowRect(e, &r);
            std::wstring text;
            EditText(e, text, 2000);
            std::printf("edit %ld %ld %ld %ld %ls\n", r.left, r.top, r.right, r.bottom, text.c_str());
        }
    }
}

void Layout() {
    for (HWND list : MenuLists()) {
        RECT w;
        GetWindowRect(GetParent(list), &w);
        std::printf("menu %ld %ld %ld %ld\n", w.left, w.top, w.right, w.bottom);
        for (const Row& r : ListRows(list))
            std::printf("row %ld %ld %ld %ld %d %ls\n", r.bounds.left, r.bounds.top, r.bounds.right, r.bounds.bottom,
                        r.selected ? 1 : 0, r.text.c_str());
    }
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    for (HWND w = FindWindowW(L"TDKMenuTurn", nullptr); w; w = FindWindowExW(nullptr, w, L"TDKMenuTurn", nullptr)) {
        RECT r, on;
        GetWindowRect(w, &r);
        if (IsWindowVisible(w) && IntersectRect(&on, &r, &screen))
            std::printf("turn %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    }
}

// Where the bar's keys go: its thread's focus and active windows, by class and text.
void Focus() {
    HWND bar = Bar();
    GUITHREADINFO gi{sizeof gi};
    if (!bar || !GetGUIThreadInfo(GetWindowThreadProcessId(bar, nullptr), &gi)) {
        std::printf("focus none\n");
        return;
    }
    auto name = [](HWND w) {
        if (!w) return std::wstring(L"none");
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        std::wstring text;
        if (lstrcmpiW(cls, L"Edit") == 0) EditText(w, text, 2000);
        else {
            wchar_t buf[260] = {};
            GetWindowTextW(w, buf, 260);
            text = buf;
        }
        return std::wstring(cls) + L" " + text;
    };
    std::printf("focus %ls\nactive %ls\n", name(gi.hwndFocus).c_str(), name(gi.hwndActive).c_str());
}

struct Found {
    const wchar_t* text;
    HWND w;
};

BOOL CALLBACK FindTitled(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    wchar_t text[260] = {};
    GetWindowTextW(w, text, 260);
    if (IsWindowVisible(w) && lstrcmpW(text, f->text) == 0) f->w = w;
    else if (IsWindowVisible(w)) EnumChildWindows(w, FindTitled, lp);
    return f->w == nullptr;
}

// Now on the clock of the input events' times. Wine's GetTickCount is a copy its server refreshes
// about every millisecond, and later while the server is busy (as it is while the bar works): it
// can lag by several milliseconds, which would make the bar look faster than it is. The event
// times come from the precise clock; so does the performance counter, set here on the tick
// count's clock by its least lagging reading.
class EventClock {
public:
    EventClock() {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        perMs_ = static_cast<double>(f.QuadPart) / 1000.0;
        double end = Ms() + 50;
        offset_ = -1e300;
        for (DWORD last = GetTickCount(); Ms() < end;) {
            DWORD tick = GetTickCount();
            if (tick == last) continue;
            offset_ = std::max(offset_, static_cast<double>(tick) - Ms());  // just refreshed
            last = tick;
        }
    }
    DWORD Now() const { return static_cast<DWORD>(static_cast<long long>(Ms() + offset_)); }

private:
    double Ms() const {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return static_cast<double>(c.QuadPart) / perMs_;
    }
    double perMs_ = 1;
    double offset_ = 0;
};

// Typing: when each key went down and when the menu showed what it leads to. A key's time is
// the X server's time of the event, which Wine hands to low-level hooks; GetLastInputInfo would
// not do: Wine sets it only when the bar's busy thread gets round to reading the key. The hook
// runs on a thread of its own that only waits for it: a key reaches the bar only once every
// low-level hook has seen it, and the thread that watches the menu sleeps between looks.
std::mutex keyLock;
std::vector<DWORD> keyDowns;

size_t KeysDown() {
    std::lock_guard<std::mutex> hold(keyLock);
    return keyDowns.size();
}

LRESULT CALLBACK NoteKeyDown(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && (wp == WM_KEYDOWN || wp == WM_SYSKEYDOWN)) {
        std::lock_guard<std::mutex> hold(keyLock);
        keyDowns.push_back(reinterpret_cast<KBDLLHOOKSTRUCT*>(lp)->time);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

struct KeyHookThread {
    HANDLE thread = nullptr;
    DWORD id = 0;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool hooked = false;

    KeyHookThread() {
        thread = CreateThread(nullptr, 0, Run, this, 0, &id);
        if (thread) WaitForSingleObject(ready, 10000);
    }
    ~KeyHookThread() {
        if (thread) {
            PostThreadMessageW(id, WM_QUIT, 0, 0);
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
        }
        CloseHandle(ready);
    }
    static DWORD WINAPI Run(void* p) {
        auto* self = static_cast<KeyHookThread*>(p);
        HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, NoteKeyDown, GetModuleHandleW(nullptr), 0);
        self->hooked = hook != nullptr;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before "ready"
        SetEvent(self->ready);
        while (hook && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        if (hook) UnhookWindowsHookEx(hook);
        return 0;
    }
};

// What the menu looks like to the window server: the filter box and the places of the visible
// menu windows (submenus close and open along the path). Read without asking the bar: asking it
// over and over while it works slows it down severalfold.
struct Shape {
    HWND box = nullptr;
    std::wstring windows;
    bool operator==(const Shape&) const = default;
};

// The shape with few requests to Wine's server, which is one thread: each request of a watcher
// that looks every millisecond is one the bar's own calls wait behind. The menu windows are
// listed afresh every 50 ms, or at once when one not listed lies on top; in between only the
// listed ones' style and the shown ones' place are read, and the box is looked for again only
// when it is no longer shown.
class MenuWatch {
public:
    Shape Read() {
        DWORD now = GetTickCount();
        HWND top = FindWindowW(L"TDKMenuForm", nullptr);
        if (forms_.empty() || now - listed_ > 50 || std::find(forms_.begin(), forms_.end(), top) == forms_.end())
            List(now);
        std::vector<std::pair<RECT, HWND>> shown;
        for (HWND w : forms_) {
            RECT r;
            if (!(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) || !GetWindowRect(w, &r)) continue;
            shown.push_back({r, w});
        }
        if (!box_ || !IsWindowVisible(box_)) {
            box_ = nullptr;
            for (auto& [r, w] : shown) {
                HWND list = FindWindowExW(w, nullptr, L"SysListView32", nullptr);
                if (HWND e = list ? VisibleEdit(list) : nullptr) box_ = e;
            }
        }
        Shape s;
        s.box = box_;
        std::sort(shown.begin(), shown.end(), [](auto& a, auto& b) {
            return std::make_pair(a.first.left, a.first.top) < std::make_pair(b.first.left, b.first.top);
        });
        for (auto& [r, w] : shown)
            s.windows += std::to_wstring(reinterpret_cast<UINT_PTR>(w)) + L" " + std::to_wstring(r.left) + L"," +
                         std::to_wstring(r.top) + L"," + std::to_wstring(r.right) + L"," + std::to_wstring(r.bottom) +
                         L";";
        return s;
    }

private:
    void List(DWORD now) {
        forms_ = MenuForms();
        listed_ = now;
    }
    std::vector<HWND> forms_;
    DWORD listed_ = 0;
    HWND box_ = nullptr;
};

// Prints per key when the menu showed it as it then stayed until the next key, and "last N ms"
// for the whole word: from the key's down until the bar's thread answers with the word in the
// box and the menu in its final shape (no change for half a second after it).
int Typed(const std::wstring& word, DWORD limit) {
    auto hook = std::make_unique<KeyHookThread>();
    struct Seen {
        Shape shape;
        std::wstring text;  // the box's, as the bar answered
        DWORD answered;
    };
    // The bar answers once it is done with what it was doing; the menu may have changed shape
    // while it was: the shape is looked at again after the answer, and while it differs the bar
    // is asked again, so a state is stamped with an answer given while it stood.
    MenuWatch watch;
    const EventClock clock;
    auto look = [&watch, &clock] {
        Seen s{watch.Read(), L"", 0};
        for (int tries = 0; tries < 20; ++tries) {
            // Nothing when the box went away meanwhile.
            if (s.shape.box) EditText(s.shape.box, s.text, 5000);
            s.answered = clock.Now();
            Shape after = watch.Read();
            if (after == s.shape) break;
            s.shape = after;
        }
        return s;
    };
    std::vector<Seen> seen{look()};
    if (!hook->hooked || !seen[0].shape.box) {
        std::printf("no filter box\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const DWORD settle = 500;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limit &&
           !(seen.back().text == word && clock.Now() - seen.back().answered > settle)) {
        Sleep(1);
        // The bar is asked again while its box lags behind the keys that went down (a filtering
        // may change nothing the window server sees) and whenever the shape changed. While the
        // key is on its way only the text is asked for: the shape is read once the text moved.
        size_t down = KeysDown();
        bool behind = down > 0 && seen.back().text != word.substr(0, down);
        if (behind) {
            std::wstring text;
            if (seen.back().shape.box) EditText(seen.back().shape.box, text, 5000);
            if (text == seen.back().text) continue;
        } else if (watch.Read() == seen.back().shape) {
            continue;
        }
        Seen now = look();
        if (!(now.shape == seen.back().shape) || now.text != seen.back().text) seen.push_back(now);
    }
    hook.reset();
    if (seen.back().text != word) {
        std::printf("the box holds '%ls' after %lu ms\n", seen.back().text.c_str(), GetTickCount() - start);
        return 1;
    }
    if (keyDowns.size() != word.size()) {
        std::printf("%zu keys went down for %zu characters\n", keyDowns.size(), word.size());
        return 1;
    }
    auto windows = [](const Seen& e) { return std::count(e.shape.windows.begin(), e.shape.windows.end(), L';'); };
    DWORD done = 0;  // when the previous key's menu was complete; 0: not seen
    for (size_t i = 0; i < word.size(); ++i) {
        std::wstring typed = word.substr(0, i + 1);
        std::printf("key %zu %lc: down", i + 1, word[i]);
        if (i > 0) std::printf(" %lu ms after the previous key", keyDowns[i] - keyDowns[i - 1]);
        // The last change while the box held this text, leaving out the next key's first step,
        // closing submenus: the menu as it stayed.
        auto s = seen.end();
        for (auto e = seen.begin() + 1; e != seen.end(); ++e)
            if (e->text == typed && !(e->shape.box == e[-1].shape.box && windows(*e) < windows(e[-1]))) s = e;
        if (s == seen.end()) {
            std::printf(", never shown alone\n");
            done = 0;
            continue;
        }
        std::printf(", shown %lu ms after", s->answered - keyDowns[i]);
        // Busy with this key: from its down or the previous key's end, whichever came later.
        if (i == 0 || done) std::printf(" (the bar's own %lu ms)", s->answered - std::max(done, keyDowns[i]));
        std::printf("\n");
        done = s->answered;
    }
    std::printf("last %lu ms\n", seen.back().answered - keyDowns.back());
    return 0;
}

// The control with the id among the descendants of the visible top-level window titled Title.
HWND ControlOf(const char* Title, const char* Id) {
    wchar_t title[260] = {};
    MultiByteToWideChar(CP_ACP, 0, Title, -1, title, 260);
    struct Search {
        const wchar_t* title;
        int id;
        HWND found;
    } s{title, std::atoi(Id), nullptr};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            wchar_t text[260] = {};
            GetWindowTextW(w, text, 260);
            if (!IsWindowVisible(w) || lstrcmpW(text, s->title) != 0) return TRUE;
            EnumChildWindows(
                w,
                [](HWND c, LPARAM lp) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(lp);
                    if (GetDlgCtrlID(c) == s->id && IsWindowVisible(c)) s->found = c;
                    return s->found == nullptr;
                },
                lp);
            return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Pointer moves: when the last one went down, in the X server's time that Wine hands to hooks.
DWORD lastMove = 0;

LRESULT CALLBACK NoteMove(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == WM_MOUSEMOVE) lastMove = reinterpret_cast<MSLLHOOKSTRUCT*>(lp)->time;
    return CallNextHookEx(nullptr, code, wp, lp);
}

// A menu window opening: from the pointer's last move before it until the window server has it
// visible (the bar hands the window its picture before it shows it). Read without asking the bar.
int Shown(DWORD limit) {
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, NoteMove, GetModuleHandleW(nullptr), 0);
    if (!hook) return 1;
    const std::vector<HWND> before = VisibleMenus();
    const EventClock clock;
    std::printf("ready\n");
    std::fflush(stdout);
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < limit) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        for (HWND w : VisibleMenus()) {
            if (std::find(before.begin(), before.end(), w) != before.end()) continue;
            DWORD now = clock.Now();
            // Moves the hook has not been handed yet are older than this.
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            UnhookWindowsHookEx(hook);
            if (!lastMove) {
                std::printf("no pointer move seen\n");
                return 1;
            }
            RECT r;
            GetWindowRect(w, &r);
            std::printf("shown %lu ms after the pointer's last move %ld %ld %ld %ld\n", now - lastMove, r.left, r.top,
                        r.right - r.left, r.bottom - r.top);
            return 0;
        }
        Sleep(1);
    }
    UnhookWindowsHookEx(hook);
    std::printf("no menu window showed within %lu ms\n", limit);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (std::strcmp(argv[1], "info") == 0) {
        Info();
        return 0;
    }
    if (std::strcmp(argv[1], "typed") == 0 && argc > 3) {
        wchar_t word[260] = {};
        MultiByteToWideChar(CP_ACP, 0, argv[2], -1, word, 260);
        return Typed(word, static_cast<DWORD>(std::atoi(argv[3])));
    }
    if (std::strcmp(argv[1], "shown") == 0 && argc > 2) return Shown(static_cast<DWORD>(std::atoi(argv[2])));
    if (std::strcmp(argv[1], "focus") == 0) {
        Focus();
        return 0;
    }
    if (std::strcmp(argv[1], "rows") == 0) {
        Rows();
        return 0;
    }
    if (std::strcmp(argv[1], "layout") == 0) {
        Layout();
        return 0;
    }
    if (std::strcmp(argv[1], "find") == 0 && argc > 2) {
        wchar_t text[260] = {};
        MultiByteToWideChar(CP_ACP, 0, argv[2], -1, text, 260);
        Found f{text, nullptr};
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&f));
        if (!f.w) return 1;
        RECT r;
        GetWindowRect(f.w, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return 0;
    }
    if (std::strcmp(argv[1], "control") == 0 && argc > 3) {
        HWND c = ControlOf(argv[2], argv[3]);
        if (!c) return 1;
        RECT r;
        GetWindowRect(c, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (std::strcmp(argv[1], "listrow") == 0 && argc > 4) {
        HWND c = ControlOf(argv[2], argv[3]);
        if (!c) return 1;
        int height = static_cast<int>(SendMessageW(c, LB_GETITEMHEIGHT, 0, 0));
        int top = static_cast<int>(SendMessageW(c, LB_GETTOPINDEX, 0, 0));
        POINT p{20, (std::atoi(argv[4]) - top) * height + height / 2};
        ClientToScreen(c, &p);
        std::printf("%ld %ld\n", p.x, p.y);
        return 0;
    }
    if (std::strcmp(argv[1], "combo") == 0 && argc > 3) {
        HWND c = ControlOf(argv[2], argv[3]);
        if (!c) return 1;
        int n = static_cast<int>(SendMessageW(c, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            wchar_t text[260] = {};
            if (SendMessageW(c, CB_GETLBTEXTLEN, i, 0) < 260) SendMessageW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            char utf8[1024] = {};
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("row %s\n", utf8);
        }
        return 0;
    }
    if (std::strcmp(argv[1], "alpha") == 0) {
        for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
             w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr)) {
            BYTE alpha = 0;
            GetLayeredWindowAttributes(w, nullptr, &alpha, nullptr);
            std::printf("alpha %d\n", alpha);
        }
        return 0;
    }
    if (std::strcmp(argv[1], "notes") == 0) {
        for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
             w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr)) {
            wchar_t text[1024] = {};
            DWORD_PTR got = 0;
            SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &got);
            std::wstring line;
            for (const wchar_t* p = text; *p; ++p) {
                if (*p == L'\r') continue;
                if (*p == L'\n') line += L" | ";
                else line += *p;
            }
            char utf8[4096] = {};
            WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("note %s\n", utf8);
        }
        return 0;
    }
    if (std::strcmp(argv[1], "endsession") == 0) {
        HWND bar = Bar();
        if (!bar) return 1;
        DWORD_PTR answer = 99;
        SendMessageTimeoutW(bar, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &answer);
        std::printf("answer %d\n", static_cast<int>(answer));
        return 0;
    }
    if (std::strcmp(argv[1], "count") == 0 && argc > 3) {
        gui::SqliteHandle db;
        gui::SqliteStatementHandle st;
        if (sqlite3_open(argv[2], db.put()) != SQLITE_OK ||
            sqlite3_prepare_v2(db.get(), argv[3], -1, st.put(), nullptr) != SQLITE_OK ||
            sqlite3_step(st.get()) != SQLITE_ROW)
            return 1;
        std::printf("%lld\n", sqlite3_column_int64(st.get(), 0));
        return 0;
    }
    if (std::strcmp(argv[1], "cover") == 0 && argc > 2) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"BarProbeCover";
        RegisterClassW(&wc);
        HWND w = CreateWindowExW(0, wc.lpszClassName, L"cover", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), 300, nullptr, nullptr, wc.hInstance, nullptr);
        DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
        MSG msg;
        while (IsWindow(w) && GetTickCount() < until) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(10);
        }
        return 0;
    }
    return 2;
}
