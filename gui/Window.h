#pragma once
// Base of our top-level windows and forms: class registration and message dispatch to a
// virtual handler. Exceptions a handler lets out go to the application's exception event.
#include <windows.h>

#include <string>

namespace gui {

struct WindowClass {
    const wchar_t* name;
    UINT style = CS_DBLCLKS;
    HBRUSH background = nullptr;
    HCURSOR cursor = nullptr;  // the arrow when null
    HICON icon = nullptr;
};

class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return hwnd_; }
    bool Create(const WindowClass& cls, const std::wstring& title, DWORD style, DWORD exStyle, int x, int y,
                int w, int h, HWND parent = nullptr, HMENU menu = nullptr);
    void Destroy();

    void Show(int cmd = SW_SHOW) const { ShowWindow(hwnd_, cmd); }
    void Hide() const { ShowWindow(hwnd_, SW_HIDE); }
    bool Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }
    RECT BoundsRect() const;
    void SetBounds(int x, int y, int w, int h, UINT flags = SWP_NOZORDER | SWP_NOACTIVATE) const;
    std::wstring Caption() const;
    void SetCaption(const std::wstring& text) const { SetWindowTextW(hwnd_, text.c_str()); }

    // The object behind one of our windows, or null.
    static Window* FromHandle(HWND hwnd);

protected:
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DefaultHandler(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd_, msg, wp, lp); }
    // Called after WM_NCDESTROY; the handle is already gone.
    virtual void Destroyed() {}
    virtual const char* ClassNameForErrors() const { return "TForm"; }

private:
    static LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_ = nullptr;
};

bool RegisterWindowClass(const WindowClass& cls, WNDPROC proc);

// Any window's text (a control's contents, a top-level window's title).
std::wstring WindowText(HWND hwnd);

}  // namespace gui
