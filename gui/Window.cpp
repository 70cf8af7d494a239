#include "Window.h"

#include <mutex>
#include <set>

#include "Application.h"

namespace gui {

bool RegisterWindowClass(const WindowClass& cls, WNDPROC proc) {
    static std::mutex lock;
    static std::set<std::wstring> done;
    std::lock_guard<std::mutex> g(lock);
    if (done.count(cls.name)) return true;
    WNDCLASSEXW wc{sizeof(wc)};
    wc.style = cls.style;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = cls.cursor ? cls.cursor : LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = cls.background;
    wc.hIcon = cls.icon;
    wc.lpszClassName = cls.name;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    done.insert(cls.name);
    return true;
}

Window::~Window() { Destroy(); }

bool Window::Create(const WindowClass& cls, const std::wstring& title, DWORD style, DWORD exStyle, int x, int y,
                    int w, int h, HWND parent, HMENU menu) {
    if (!RegisterWindowClass(cls, StaticProc)) return false;
    HWND h2 = CreateWindowExW(exStyle, cls.name, title.c_str(), style, x, y, w, h, parent, menu,
                              GetModuleHandleW(nullptr), this);
    return h2 != nullptr;
}

void Window::Destroy() {
    if (hwnd_) {
        HWND h = hwnd_;
        DestroyWindow(h);
        // A window of another thread cannot be destroyed from here; drop our link to it.
        if (hwnd_ == h) {
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
        }
    }
}

RECT Window::BoundsRect() const {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return r;
}

void Window::SetBounds(int x, int y, int w, int h, UINT flags) const {
    SetWindowPos(hwnd_, nullptr, x, y, w, h, flags);
}

std::wstring WindowText(HWND hwnd) {
    int n = GetWindowTextLengthW(hwnd);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(hwnd, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

std::wstring Window::Caption() const { return WindowText(hwnd_); }

Window* Window::FromHandle(HWND hwnd) {
    return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefaultHandler(msg, wp, lp); }

LRESULT CALLBACK Window::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Window* self;
    if (msg == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_ACTIVATEAPP) App().NotifyActivateApp(wp != 0);
    LRESULT r = 0;
    try {
        r = self->HandleMessage(msg, wp, lp);
    } catch (...) {
        App().HandleException(self->ClassNameForErrors());
        r = DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->Destroyed();
    }
    return r;
}

}  // namespace gui
