#include "Subclass.h"

#include <unordered_map>

namespace gui {

namespace {

struct Entry {
    WNDPROC original = nullptr;
    SubclassProc proc = nullptr;  // null once unsubclassed while another procedure sits above ours
    DWORD_PTR data = 0;
};

// Windows belong to the thread that made them; every menu control is made on the UI thread.
// Never freed: a window destroyed by a static object's destructor at exit still finds it.
std::unordered_map<HWND, Entry>& Entries() {
    static auto* m = new std::unordered_map<HWND, Entry>;
    return *m;
}

LRESULT CALLBACK Dispatch(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto it = Entries().find(hwnd);
    if (it == Entries().end()) return DefWindowProcW(hwnd, msg, wp, lp);
    Entry e = it->second;  // the procedure may unsubclass the window
    LRESULT r = e.proc ? e.proc(hwnd, msg, wp, lp, e.data) : CallWindowProcW(e.original, hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) Entries().erase(hwnd);
    return r;
}

}  // namespace

bool Subclass(HWND hwnd, SubclassProc proc, DWORD_PTR data) {
    if (!hwnd || !proc) return false;
    auto it = Entries().find(hwnd);
    if (it != Entries().end()) {
        it->second.proc = proc;
        it->second.data = data;
        return true;
    }
    auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    if (!original) return false;
    Entries()[hwnd] = Entry{original, proc, data};
    if (!SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Dispatch))) {
        Entries().erase(hwnd);
        return false;
    }
    return true;
}

void Unsubclass(HWND hwnd) {
    auto it = Entries().find(hwnd);
    if (it == Entries().end()) return;
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &Dispatch) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(it->second.original));
        Entries().erase(it);
    } else {
        // Someone subclassed the window after us: stay in their chain, passing everything on.
        it->second.proc = nullptr;
        it->second.data = 0;
    }
}

LRESULT CallOriginal(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto it = Entries().find(hwnd);
    // Unsubclassed meanwhile: the control's own procedure is back in place.
    WNDPROC p = it != Entries().end() ? it->second.original
                                      : reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    if (!p || p == &Dispatch) return DefWindowProcW(hwnd, msg, wp, lp);
    return CallWindowProcW(p, hwnd, msg, wp, lp);
}

DWORD_PTR SubclassData(HWND hwnd, SubclassProc proc) {
    auto it = Entries().find(hwnd);
    return it == Entries().end() || it->second.proc != proc ? 0 : it->second.data;
}

}  // namespace gui
