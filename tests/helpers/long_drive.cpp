// Drives the running bar for a while as a user would, from a seed: hovers, clicks, right clicks,
// typing into edit rows, drags and keys across the eight menus, then ends the session and checks
// the stored rows in dk.pdb against what the steps did to them.
//   long_drive <seed> <seconds> [<first step to stop at>]
// Input goes through the script that started it: each line "X <xdotool arguments>" on stdout is
// run there and answered with a line on stdin. Every other line is the drive's own report; a
// failing run prints its seed and step. Run in the bar's folder (dk.pdb beside it).
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Handles.h"
#include "sqlite3.h"

namespace {

unsigned g_seed = 0;
int g_step = 0;
int g_failures = 0;

std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

void Say(const std::string& s) {
    std::printf("%s\n", s.c_str());
    std::fflush(stdout);
}

void Fail(const std::string& what) {
    ++g_failures;
    Say("FAIL: seed " + std::to_string(g_seed) + " step " + std::to_string(g_step) + ": " + what);
}

// One xdotool command, run by the script; false when the script did not answer.
bool Xdo(const std::string& args) {
    Say("X " + args);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin)) return false;
    return std::strncmp(line, "ok", 2) == 0;
}

void Pause(int ms) { Sleep(static_cast<DWORD>(ms)); }

// ---- what the bar shows ----

HWND Bar() { return FindWindowW(L"TOrvane", nullptr); }

DWORD BarPid() {
    DWORD pid = 0;
    if (HWND b = Bar()) GetWindowThreadProcessId(b, &pid);
    return pid;
}

// The bar's thread answers within 5 s.
bool Answers(HWND w, UINT ms = 5000) {
    DWORD_PTR r = 0;
    return SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ms, &r) != 0;
}

struct UiRow {
    std::wstring text;
    RECT r{};  // on the screen
    bool selected = false;
};
struct UiEdit {
    HWND h = nullptr;
    RECT r{};
    std::wstring text;
};
struct UiWin {
    HWND form = nullptr, list = nullptr;
    int menu = -1;
    RECT r{};
    bool visible = false;
    std::vector<UiRow> rows;
    std::vector<UiEdit> edits;
};

// Reads a list of the bar's process through memory lent there (its rows hold no text of ours).
class Remote {
public:
    explicit Remote(DWORD pid)
        : proc_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid)) {
        if (proc_) mem_ = static_cast<Block*>(VirtualAllocEx(proc_.get(), nullptr, sizeof(Block), MEM_COMMIT, PAGE_READWRITE));
    }
    ~Remote() {
        if (mem_) VirtualFreeEx(proc_.get(), mem_, 0, MEM_RELEASE);
    }
    Remote(const Remote&) = delete;
    Remote& operator=(const Remote&) = delete;
    bool Ok() const { return mem_ != nullptr; }
    // False when the bar did not answer in time.
    bool Row(HWND list, int i, UiRow& row) {
        Block local{};
        local.item.cchTextMax = 260;
        local.item.pszText = mem_->text;
        local.rect.left = LVIR_BOUNDS;
        if (!WriteProcessMemory(proc_.get(), mem_, &local, sizeof local, nullptr)) return false;
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&mem_->item), SMTO_ABORTIFHUNG,
                                 5000, &r) ||
            !SendMessageTimeoutW(list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&mem_->rect), SMTO_ABORTIFHUNG,
                                 5000, &r))
            return false;
        if (!ReadProcessMemory(proc_.get(), mem_, &local, sizeof local, nullptr)) return false;
        local.text[259] = 0;
        row.text = local.text;
        row.r = local.rect;
        MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&row.r), 2);
        DWORD_PTR state = 0;
        SendMessageTimeoutW(list, LVM_GETITEMSTATE, i, LVIS_SELECTED, SMTO_ABORTIFHUNG, 5000, &state);
        row.selected = (state & LVIS_SELECTED) != 0;
        return true;
    }

private:
    struct Block {
        LVITEMW item;
        RECT rect;
        wchar_t text[260];
    };
    gui::KernelHandle proc_;
    Block* mem_ = nullptr;
};

bool g_hung = false;

// The menu windows, the top one first (hidden ones too when asked: a list may keep a selection).
std::vector<UiWin> MenuWindows(bool hiddenToo = false) {
    std::vector<UiWin> out;
    DWORD pid = BarPid();
    if (!pid) return out;
    Remote remote(pid);
    if (!remote.Ok()) return out;
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        if (lstrcmpW(cls, L"TDKMenuForm") != 0) continue;
        DWORD wp = 0;
        GetWindowThreadProcessId(w, &wp);
        if (wp != pid) continue;
        UiWin win;
        win.form = w;
        win.visible = IsWindowVisible(w) != FALSE;
        if (!win.visible && !hiddenToo) continue;
        wchar_t title[16] = {};
        GetWindowTextW(w, title, 16);
        win.menu = title[0] == L'f' ? _wtoi(title + 1) : -1;
        GetWindowRect(w, &win.r);
        win.list = FindWindowExW(w, nullptr, L"SysListView32", nullptr);
        if (!win.list) continue;
        DWORD_PTR n = 0;
        if (!SendMessageTimeoutW(win.list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &n)) {
            g_hung = true;
            return out;
        }
        for (int i = 0; i < static_cast<int>(n) && i < 400; ++i) {
            UiRow row;
            if (!remote.Row(win.list, i, row)) {
                if (!IsWindow(win.list)) break;
                g_hung = true;
                return out;
            }
            win.rows.push_back(row);
        }
        for (HWND e = FindWindowExW(win.list, nullptr, L"Edit", nullptr); e; e = FindWindowExW(win.list, e, L"Edit", nullptr)) {
            if (!IsWindowVisible(e)) continue;
            UiEdit ed;
            ed.h = e;
            GetWindowRect(e, &ed.r);
            wchar_t buf[260] = {};
            DWORD_PTR got = 0;
            SendMessageTimeoutW(e, WM_GETTEXT, 260, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &got);
            ed.text = buf;
            win.edits.push_back(ed);
        }
        out.push_back(std::move(win));
    }
    return out;
}

// ---- what must not be touched ----

bool StartsWith(const std::wstring& s, const std::wstring& p) { return s.compare(0, p.size(), p) == 0; }

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

// A row cut to its column ends in "...": compare what is left.
bool Names(const std::wstring& row, const std::wstring& caption) {
    if (row == caption) return true;
    if (row.size() > 3 && row.compare(row.size() - 3, 3, L"...") == 0)
        return StartsWith(caption, row.substr(0, row.size() - 3));
    return false;
}

bool NamesAny(const std::wstring& row, std::initializer_list<const wchar_t*> captions) {
    for (const wchar_t* c : captions)
        if (Names(row, c)) return true;
    return false;
}

// Rows whose click or Enter would end the session, restore the default shell, open the options
// dialog outside its own step, send a request over the network, or change files the prefix runs on.
bool Forbidden(const UiWin& w, const UiRow& row, bool isRoot) {
    const std::wstring& t = row.text;
    if (NamesAny(t, {L"Lock", L"Log Off", L"Switch User", L"Hibernate", L"Shutdown", L"Restart",
                     L"Restore Default Shell ( Exporer )", L"Configure This Shell Replacement"}))
        return true;
    if (Names(t, L"Sleep") && !(w.menu == 5 && isRoot)) return true;
    // Bookmarks typed here would be fetched over the network.
    if (NamesAny(t, {L"Create New Bookmark", L"Edit Bookmark URL"})) return true;
    // Files and folders of the prefix stay as they are.
    if (NamesAny(t, {L"Rename File", L"Rename Folder", L"Delete", L"Cut", L"Paste", L"Rename", L"Create Link",
                     L"Create Shortcut", L"Properties", L"Format...", L"Print", L"Install", L"Edit"}))
        return true;
    std::wstring low = Lower(t);
    if (low.find(L"send to") != std::wstring::npos || low.find(L"shortcut") != std::wstring::npos) return true;
    // Programs of the prefix are not started by name from its folders.
    size_t dot = low.rfind(L'.');
    if (dot != std::wstring::npos) {
        std::wstring ext = low.substr(dot);
        for (const wchar_t* x : {L".exe", L".com", L".bat", L".cmd", L".lnk", L".msi", L".cpl", L".scr", L".pif",
                                 L".vbs", L".js", L".reg", L".msc", L".dll", L".sys", L".drv", L".inf", L".hta",
                                 L".ocx", L".tlb", L".acm", L".ax", L".mui", L".nls"})
            if (ext == x) return true;
    }
    return false;
}

// ---- stored rows ----

struct StoredRow {
    int mid, miid, parent;
    std::wstring caption, path;
};

std::vector<StoredRow> ReadRows(std::string& error) {
    std::vector<StoredRow> rows;
    gui::SqliteHandle db;
    if (sqlite3_open_v2("dk.pdb", db.put(), SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = "dk.pdb cannot be opened";
        return rows;
    }
    sqlite3_busy_timeout(db.get(), 5000);
    gui::SqliteStatementHandle st;
    if (sqlite3_prepare16_v2(db.get(), L"select MID, MIID, ParentID, Caption, ExecPath from MenuItems", -1, st.put(),
                             nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db.get());
    } else {
        while (sqlite3_step(st.get()) == SQLITE_ROW) {
            auto text = [&](int c) {
                const void* p = sqlite3_column_text16(st.get(), c);
                return p ? std::wstring(static_cast<const wchar_t*>(p)) : std::wstring();
            };
            rows.push_back({sqlite3_column_int(st.get(), 0), sqlite3_column_int(st.get(), 1),
                            sqlite3_column_int(st.get(), 2), text(3), text(4)});
        }
    }
    return rows;
}

// What the steps may have done to the stored rows: rows touched (by caption, or a whole menu),
// rows added at most.
struct Model {
    std::vector<StoredRow> initial;
    std::set<size_t> touched;
    std::map<int, int> added;
    void TouchTree(size_t i) {
        if (!touched.insert(i).second) return;
        for (size_t k = 0; k < initial.size(); ++k)
            if (initial[k].mid == initial[i].mid && initial[k].parent == initial[i].miid) TouchTree(k);
    }
    void Touch(int mid, const std::wstring& caption) {
        bool any = false;
        for (size_t i = 0; i < initial.size(); ++i)
            if (initial[i].mid == mid && Names(caption, initial[i].caption)) {
                TouchTree(i);
                any = true;
            }
        (void)any;
    }
    void TouchMenu(int mid) {
        for (size_t i = 0; i < initial.size(); ++i)
            if (initial[i].mid == mid) touched.insert(i);
    }
} g_model;

// ---- processes started by the steps ----

std::set<DWORD> g_startPids;

std::wstring ExeName(DWORD pid, const std::map<DWORD, std::wstring>& names) {
    auto it = names.find(pid);
    return it == names.end() ? L"" : Lower(it->second);
}

// Ends what the steps started (programs, folder windows, the shell's own dialogs of other
// processes) and closes the windows the bar opened besides its menus (the About box).
void CleanUp(bool closeBarWindows) {
    DWORD self = GetCurrentProcessId(), bar = BarPid();
    gui::KernelHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    std::map<DWORD, std::wstring> names;
    PROCESSENTRY32W pe{sizeof pe};
    if (snap && Process32FirstW(snap.get(), &pe)) do
            names[pe.th32ProcessID] = pe.szExeFile;
        while (Process32NextW(snap.get(), &pe));
    for (auto& [pid, name] : names) {
        if (g_startPids.count(pid) || pid == self || pid == bar) continue;
        std::wstring n = Lower(name);
        if (n == L"orvane.exe" || n == L"dkmonitor.exe" || n == L"long_drive.exe" || n == L"bar_probe.exe" ||
            n == L"services.exe" || n == L"winedevice.exe" || n == L"plugplay.exe" || n == L"rpcss.exe" ||
            n == L"svchost.exe" || n == L"conhost.exe" || n == L"explorer.exe" || n == L"winemenubuilder.exe" ||
            n == L"tabtip.exe" || n == L"start.exe")
            continue;
        gui::KernelHandle p(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
        if (p) {
            TerminateProcess(p.get(), 0);
            Say("  ended " + Narrow(name));
        }
    }
    // Folder windows of explorer and the bar's own dialogs go with a close request.
    struct Ctx {
        DWORD bar;
        bool closeBar;
        const std::map<DWORD, std::wstring>* names;
    } ctx{bar, closeBarWindows, &names};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(lp);
            if (!IsWindowVisible(w)) return TRUE;
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[64] = {};
            GetClassNameW(w, cls, 64);
            std::wstring k = cls;
            if (pid == c->bar) {
                if (!c->closeBar || k == L"TOrvane" || k == L"TDKMenuForm" || k == L"TDKMenuTurn" ||
                    k == L"TfrmShowMessTransp" || k == L"tooltips_class32" || k == L"Shell_TrayWnd")
                    return TRUE;
                Say("  closed a window of the bar: " + Narrow(k));
                PostMessageW(w, WM_CLOSE, 0, 0);
            } else if (ExeName(pid, *c->names) == L"explorer.exe" && k != L"Shell_TrayWnd" && k != L"Progman") {
                PostMessageW(w, WM_CLOSE, 0, 0);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
}

// ---- the drive ----

std::mt19937 g_rng;
int Pick(int n) { return n <= 0 ? 0 : static_cast<int>(g_rng() % static_cast<unsigned>(n)); }
bool Chance(int percent) { return Pick(100) < percent; }

std::string Pt(LONG x, LONG y) { return std::to_string(x) + " " + std::to_string(y); }
std::string Mid(const RECT& r) { return Pt(r.left + std::min<LONG>(60, (r.right - r.left) / 2), (r.top + r.bottom) / 2); }

std::wstring Word() {
    static const wchar_t* parts[] = {L"no", L"ta", L"pe", L"ri", L"mo", L"ka", L"lu", L"ve", L"so", L"di", L"ne",
                                     L"op", L"ar", L"in", L"el", L"us"};
    std::wstring w;
    int n = 1 + Pick(3);
    for (int i = 0; i < n; ++i) w += parts[Pick(16)];
    return w;
}

// A word typed into the System menu's filter box is run as a command by Enter: only one that
// names no program of the prefix.
bool RunsNothing(const std::wstring& word) {
    wchar_t found[MAX_PATH];
    for (const wchar_t* ext : {L".exe", L".com", L".bat", L".cmd"})
        if (SearchPathW(nullptr, word.c_str(), ext, MAX_PATH, found, nullptr)) return false;
    return true;
}

std::vector<RECT> Buttons() {
    std::vector<RECT> out;
    HWND bar = Bar();
    if (!bar) return out;
    for (HWND c = FindWindowExW(bar, nullptr, L"TDKButton", nullptr); c; c = FindWindowExW(bar, c, L"TDKButton", nullptr)) {
        RECT r;
        GetWindowRect(c, &r);
        out.push_back(r);
    }
    std::sort(out.begin(), out.end(), [](const RECT& a, const RECT& b) { return a.left < b.left; });
    if (out.size() > 8) out.resize(8);  // the clock is last
    return out;
}

// The submenu window w opened from: the row of another window of its menu beside which it stands.
const UiRow* OwnerRow(const std::vector<UiWin>& wins, const UiWin& w) {
    const UiRow* found = nullptr;
    int n = 0;
    for (const UiWin& o : wins) {
        if (o.form == w.form || o.menu != w.menu) continue;
        for (const UiRow& r : o.rows)
            if (r.selected && std::abs(r.r.top + 1 - w.r.top) <= 1) {
                found = &r;
                ++n;
            }
    }
    return n == 1 ? found : nullptr;
}

bool IsRootWindow(const std::vector<UiWin>& wins, const UiWin& w) {
    int lowest = 1 << 30;
    for (const UiWin& o : wins)
        if (o.menu == w.menu) lowest = std::min<int>(lowest, o.r.top);
    // The root opens under the bar; a submenu opens beside a row, lower down or fitted.
    return w.r.top <= 25 && w.r.top == lowest;
}

// What a click on a command row does to the stored rows.
void NoteCommand(const std::vector<UiWin>& wins, const UiWin& w, const std::wstring& t) {
    int mid = w.menu;
    auto owner = [&]() -> std::wstring {
        const UiRow* r = OwnerRow(wins, w);
        return r ? r->text : L"";
    };
    auto touchOwner = [&] {
        std::wstring o = owner();
        if (o.empty()) g_model.TouchMenu(mid);
        else g_model.Touch(mid, o);
    };
    if (NamesAny(t, {L"Create New Group", L"Create New Subgroup", L"Add to Favorites", L"Create a Folder"})) {
        g_model.added[mid] += 1;
    } else if (Names(t, L"Clear Favorites")) {
        g_model.TouchMenu(mid);
    } else if (NamesAny(t, {L"Remove Group", L"Remove from Favorites", L"Delete Bookmark",
                            L"Delete Application from Group", L"Rename Group", L"Rename Bookmark"})) {
        touchOwner();
    } else if (Names(t, L"Copy to Favorites Root")) {
        g_model.added[mid] += 1000;  // a whole group may be copied
    } else if (mid == 2) {
        // A running program added to an Applications group.
        const UiRow* o = OwnerRow(wins, w);
        if (o && Names(o->text, L"Add from Running Applications")) g_model.added[mid] += 1;
    }
}

struct Target {
    const UiWin* win;
    const UiRow* row;
};

std::vector<Target> Allowed(const std::vector<UiWin>& wins) {
    std::vector<Target> out;
    for (const UiWin& w : wins) {
        bool root = IsRootWindow(wins, w);
        for (const UiRow& r : w.rows)
            if (r.r.bottom > r.r.top && r.r.left >= 0 && r.r.left < GetSystemMetrics(SM_CXSCREEN) - 40 &&
                r.r.top >= 0 && r.r.bottom <= GetSystemMetrics(SM_CYSCREEN) && !Forbidden(w, r, root))
                out.push_back({&w, &r});
    }
    return out;
}

// Enter acts on the selection of the focused window, handed down to the deepest open one: it is
// pressed only while no list anywhere has a forbidden row selected.
bool EnterIsSafe(const std::vector<UiWin>& all) {
    for (const UiWin& w : all)
        for (const UiRow& r : w.rows)
            if (r.selected && Forbidden(w, r, false) && !(w.menu == 5 && Names(r.text, L"Sleep") && w.r.top <= 25))
                return false;
    return true;
}

void NoteEnter(const std::vector<UiWin>& all) {
    // Enter fires the selection handed down from the focused window, which the drive cannot see
    // for certain: any stored row of a shown menu may change, and one row may be added.
    std::set<int> menus;
    for (const UiWin& w : all)
        if (w.visible) menus.insert(w.menu);
    for (int m : menus) {
        g_model.TouchMenu(m);
        g_model.added[m] += 1;
    }
}

// The row under the pointer now, in the topmost window there: the click goes where the pointer
// rests only if that is still the row chosen (a submenu may have opened over it meanwhile).
bool StillUnder(const std::wstring& caption, LONG x, LONG y) {
    std::vector<UiWin> wins = MenuWindows();
    if (g_hung) return false;
    POINT p{x, y};
    for (const UiWin& w : wins) {
        if (!PtInRect(&w.r, p)) continue;
        for (const UiRow& r : w.rows)
            if (PtInRect(&r.r, p)) return r.text == caption && !Forbidden(w, r, IsRootWindow(wins, w));
        return false;
    }
    return false;
}

bool ClickRow(const std::wstring& caption, const RECT& r, int button) {
    LONG x = r.left + std::min<LONG>(60, (r.right - r.left) / 2), y = (r.top + r.bottom) / 2;
    if (!Xdo("mousemove " + Pt(x, y) + " sleep 0.15")) return false;
    if (!StillUnder(caption, x, y)) {
        Say("  the row moved; no click");
        return !g_hung;
    }
    return Xdo("click " + std::to_string(button) + " sleep 0.2");
}

bool OpenMenu() {
    auto b = Buttons();
    if (b.size() < 8) return false;
    int m = Pick(8);
    Say("step " + std::to_string(g_step) + ": open menu " + std::to_string(m));
    return Xdo("mousemove " + Mid(b[m]) + " sleep 0.1 click 1");
}

// The options dialog: the View page, a new colour scheme, OK.
bool ChangeScheme(const std::vector<UiWin>& wins) {
    for (const UiWin& w : wins) {
        if (w.menu != 5) continue;
        for (const UiRow& r : w.rows) {
            if (!Names(r.text, L"Configure This Shell Replacement")) continue;
            Say("step " + std::to_string(g_step) + ": options dialog, new scheme");
            if (!Xdo("mousemove " + Mid(r.r) + " sleep 0.1 click 1")) return false;
            HWND dlg = nullptr;
            for (int i = 0; i < 50 && !dlg; ++i) {
                Pause(100);
                for (HWND t = GetTopWindow(nullptr); t && !dlg; t = GetWindow(t, GW_HWNDNEXT)) {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(t, &pid);
                    if (pid == BarPid() && IsWindowVisible(t) && FindWindowExW(t, nullptr, L"ListBox", nullptr)) dlg = t;
                }
            }
            if (!dlg) {
                Say("  no options dialog");
                return true;
            }
            HWND lb = FindWindowExW(dlg, nullptr, L"ListBox", nullptr);
            RECT lr;
            GetWindowRect(lb, &lr);
            DWORD_PTR ih = 16;
            SendMessageTimeoutW(lb, LB_GETITEMHEIGHT, 0, 0, SMTO_ABORTIFHUNG, 5000, &ih);
            Xdo("mousemove " + Pt(lr.left + 20, lr.top + static_cast<LONG>(ih) * 3 / 2) + " sleep 0.2 click 1 sleep 0.3");
            // The "+" of the visible page adds a scheme and makes it the active one.
            struct Find {
                HWND plus = nullptr, ok = nullptr, cancel = nullptr;
            } f;
            EnumChildWindows(
                dlg,
                [](HWND c, LPARAM lp) -> BOOL {
                    auto* f = reinterpret_cast<Find*>(lp);
                    wchar_t text[32] = {};
                    GetWindowTextW(c, text, 32);
                    if (!IsWindowVisible(c)) return TRUE;
                    if (lstrcmpW(text, L"+") == 0 && !f->plus) f->plus = c;
                    if (lstrcmpW(text, L"OK") == 0) f->ok = c;
                    if (lstrcmpW(text, L"Cancel") == 0) f->cancel = c;
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&f));
            RECT br;
            if (f.plus && GetWindowRect(f.plus, &br)) Xdo("mousemove " + Mid(br) + " sleep 0.2 click 1 sleep 0.3");
            HWND close = Chance(80) ? f.ok : f.cancel;
            if (close && GetWindowRect(close, &br)) Xdo("mousemove " + Mid(br) + " sleep 0.2 click 1 sleep 0.3");
            return true;
        }
    }
    return false;
}

bool Step() {
    std::vector<UiWin> wins = MenuWindows();
    if (g_hung) return false;
    std::string at = "step " + std::to_string(g_step) + ": ";
    if (wins.empty() || Chance(4)) return OpenMenu();
    std::vector<Target> targets = Allowed(wins);
    int kind = Pick(100);
    if (kind < 2) {
        if (ChangeScheme(wins)) return true;
        kind = 2;
    }
    if (kind < 30 && !targets.empty()) {
        Target t = targets[static_cast<size_t>(Pick(static_cast<int>(targets.size())))];
        Say(at + "hover [" + std::to_string(t.win->menu) + "] " + Narrow(t.row->text));
        return Xdo("mousemove " + Mid(t.row->r) + " sleep " + (Chance(50) ? "0.7" : "0.2"));
    }
    if (kind < 55 && !targets.empty()) {
        Target t = targets[static_cast<size_t>(Pick(static_cast<int>(targets.size())))];
        Say(at + "click [" + std::to_string(t.win->menu) + "] " + Narrow(t.row->text));
        NoteCommand(wins, *t.win, t.row->text);
        return ClickRow(t.row->text, t.row->r, 1);
    }
    if (kind < 62 && !targets.empty()) {
        Target t = targets[static_cast<size_t>(Pick(static_cast<int>(targets.size())))];
        Say(at + "right-click [" + std::to_string(t.win->menu) + "] " + Narrow(t.row->text));
        return ClickRow(t.row->text, t.row->r, 3);
    }
    if (kind < 74) {
        // Typing into a filter box or an edit row, sometimes ended by Enter.
        std::vector<std::pair<const UiWin*, const UiEdit*>> edits;
        for (const UiWin& w : wins)
            for (const UiEdit& e : w.edits) edits.push_back({&w, &e});
        if (!edits.empty()) {
            auto [w, e] = edits[static_cast<size_t>(Pick(static_cast<int>(edits.size())))];
            std::wstring word = Word();
            // A filter or search box stands under its title; any other edit row is a group being
            // named or renamed.
            bool filter = false;
            for (size_t i = 1; i < w->rows.size(); ++i)
                if (w->rows[i].r.top <= e->r.top && e->r.top < w->rows[i].r.bottom)
                    filter = NamesAny(w->rows[i - 1].text, {L"Filter", L"Search"});
            // An edit row of a group being named or renamed: its stored row changes.
            if (!filter) g_model.Touch(w->menu, e->text);
            Say(at + "type '" + Narrow(word) + "' into [" + std::to_string(w->menu) + "] " + Narrow(e->text));
            if (!Xdo("mousemove " + Pt(e->r.left + 30, (e->r.top + e->r.bottom) / 2) + " sleep 0.15 click 1 sleep 0.1 type --delay 40 " + Narrow(word)))
                return false;
            if (Chance(50)) {
                // The bar first takes in what was typed (the filter opens its path).
                Pause(300);
                if (!Bar() || !Answers(Bar())) return false;
                std::vector<UiWin> all = MenuWindows(true);
                if (g_hung) return false;
                if (EnterIsSafe(all) && (w->menu != 5 || RunsNothing(word))) {
                    Say(at + "Enter");
                    NoteEnter(all);
                    return Xdo("key Return sleep 0.2");
                }
            }
            return true;
        }
    }
    if (kind < 80 && targets.size() > 1) {
        // A drag from one row to another (only stored items move).
        Target a = targets[static_cast<size_t>(Pick(static_cast<int>(targets.size())))];
        Target b = targets[static_cast<size_t>(Pick(static_cast<int>(targets.size())))];
        Say(at + "drag [" + std::to_string(a.win->menu) + "] " + Narrow(a.row->text) + " to [" +
            std::to_string(b.win->menu) + "] " + Narrow(b.row->text));
        g_model.Touch(a.win->menu, a.row->text);
        LONG y2 = b.row->r.top + Pick(std::max<LONG>(1, b.row->r.bottom - b.row->r.top));
        return Xdo("mousemove " + Mid(a.row->r) + " sleep 0.15 mousedown 1 sleep 0.1 mousemove " +
                   Pt(a.row->r.left + 62, (a.row->r.top + a.row->r.bottom) / 2 + 3) + " sleep 0.1 mousemove " +
                   Pt(b.row->r.left + 60, y2) + " sleep " + (Chance(30) ? "0.7" : "0.2") + " mouseup 1 sleep 0.2");
    }
    if (kind < 96) {
        static const char* keys[] = {"Up", "Down", "Down", "Left", "Right", "Right", "Escape", "Return"};
        const char* key = keys[Pick(8)];
        if (std::strcmp(key, "Return") == 0) {
            std::vector<UiWin> all = MenuWindows(true);
            if (g_hung) return false;
            if (!EnterIsSafe(all)) key = "Down";
            else NoteEnter(all);
        }
        Say(at + "key " + key);
        return Xdo(std::string("key ") + key + " sleep 0.1");
    }
    // A click away from the menus (they hide on losing the activation).
    Say(at + "click elsewhere");
    return Xdo("mousemove " + Pt(300 + Pick(600), 1000) + " sleep 0.1 click 1 sleep 0.2");
}

int Check() {
    std::string error;
    std::vector<StoredRow> now = ReadRows(error);
    if (!error.empty()) {
        Fail("after the quit: " + error);
        return 1;
    }
    std::map<std::pair<int, int>, int> seen;
    std::map<int, int> initialCount, finalCount;
    for (const StoredRow& r : g_model.initial) ++initialCount[r.mid];
    for (const StoredRow& r : now) {
        ++finalCount[r.mid];
        if (++seen[{r.mid, r.miid}] == 2)
            Fail("(MID " + std::to_string(r.mid) + ", MIID " + std::to_string(r.miid) + ") is stored twice");
    }
    int lost = 0;
    for (size_t i = 0; i < g_model.initial.size(); ++i) {
        if (g_model.touched.count(i)) continue;
        const StoredRow& a = g_model.initial[i];
        bool kept = std::any_of(now.begin(), now.end(), [&](const StoredRow& b) {
            return b.mid == a.mid && b.miid == a.miid && b.parent == a.parent && b.caption == a.caption &&
                   b.path == a.path;
        });
        if (!kept) {
            ++lost;
            Fail("row (MID " + std::to_string(a.mid) + ", MIID " + std::to_string(a.miid) + ") '" + Narrow(a.caption) +
                 "' was lost, though no step touched it");
        }
    }
    for (auto& [mid, n] : finalCount) {
        int most = initialCount[mid] + g_model.added[mid];
        if (n > most)
            Fail("menu " + std::to_string(mid) + " stores " + std::to_string(n) + " rows, more than the " +
                 std::to_string(initialCount[mid]) + " it had and the " + std::to_string(g_model.added[mid]) +
                 " the steps could add");
    }
    Say("rows: " + std::to_string(g_model.initial.size()) + " at the start, " + std::to_string(now.size()) +
        " after the quit, " + std::to_string(g_model.touched.size()) + " touched by the steps");
    return lost;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    g_seed = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    DWORD seconds = static_cast<DWORD>(std::atoi(argv[2]));
    int stopAt = argc > 3 ? std::atoi(argv[3]) : -1;
    g_rng.seed(g_seed);
    if (!Bar() || !Answers(Bar())) {
        Fail("no bar to drive");
        return 1;
    }
    std::string error;
    g_model.initial = ReadRows(error);
    if (!error.empty()) {
        Fail(error);
        return 1;
    }
    {
        gui::KernelHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W pe{sizeof pe};
        if (snap && Process32FirstW(snap.get(), &pe)) do
                g_startPids.insert(pe.th32ProcessID);
            while (Process32NextW(snap.get(), &pe));
    }
    Say("seed " + std::to_string(g_seed) + ", " + std::to_string(seconds) + " s, " +
        std::to_string(g_model.initial.size()) + " stored rows");
    DWORD start = GetTickCount();
    DWORD slowest = 0;
    for (g_step = 1; GetTickCount() - start < seconds * 1000 && g_step != stopAt; ++g_step) {
        if (!Step()) {
            if (!g_hung) Fail("the input script stopped answering");
            break;
        }
        // The bar answers within 5 s after every step, and is still there.
        HWND bar = Bar();
        DWORD t0 = GetTickCount();
        if (!bar) {
            Fail("the bar is gone");
            break;
        }
        if (g_hung || !Answers(bar)) {
            Fail("the bar did not answer within 5 s");
            break;
        }
        slowest = std::max(slowest, GetTickCount() - t0);
        CleanUp(true);
    }
    int steps = g_step - 1;
    Say("steps " + std::to_string(steps) + " in " + std::to_string((GetTickCount() - start) / 1000) +
        " s, slowest answer " + std::to_string(slowest) + " ms");
    if (g_failures) return 1;
    // The session ends: the bar saves its menus and goes.
    HWND bar = Bar();
    DWORD pid = BarPid();
    gui::KernelHandle proc(OpenProcess(SYNCHRONIZE, FALSE, pid));
    DWORD_PTR answer = 99;
    SendMessageTimeoutW(bar, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &answer);
    if (!proc || WaitForSingleObject(proc.get(), 30000) != WAIT_OBJECT_0) {
        Fail("the bar did not end after the session end");
        return 1;
    }
    CleanUp(false);
    Check();
    Say(g_failures ? "drive failed" : "drive passed");
    return g_failures ? 1 : 0;
}
