#include "Application.h"

#include <algorithm>

#include <memory>

#include "SysUtils.h"

namespace gui {

namespace {
constexpr UINT WM_APP_SYNC = WM_APP + 0x3F00;
constexpr UINT WM_APP_QUEUE = WM_APP + 0x3F01;

struct SyncCall {
    const std::function<void()>* fn;
    std::exception_ptr error;
};
}  // namespace

Application& Application::Instance() {
    static Application app;
    return app;
}

std::wstring Application::DefaultTitle(const std::wstring& exePath) {
    std::wstring name = ExtractFileName(exePath);
    size_t dot = name.find(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    if (name.size() > 1) name = name.substr(0, 1) + AnsiLowerCase(name.substr(1));
    return name;
}

void Application::Initialize() {
    if (handle_) return;
    mainThread_ = GetCurrentThreadId();
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = WindowClassName();
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), L"MAINICON");
    RegisterClassExW(&wc);
    std::wstring title = DefaultTitle(ExeFileName());
    // A real (not message-only) top-level window so another instance can find it by class and title.
    handle_ = CreateWindowExW(WS_EX_TOOLWINDOW, WindowClassName(), title.c_str(), WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::wstring Application::Title() const {
    if (!handle_) return {};
    wchar_t buf[513] = {};
    GetWindowTextW(handle_, buf, 513);
    return buf;
}

void Application::SetTitle(const std::wstring& title) {
    if (!handle_) return;
    if (MainFormOnTaskBar) {
        if (MainForm) SetWindowTextW(MainForm, title.c_str());
        SetWindowTextW(handle_, L"");
    } else {
        SetWindowTextW(handle_, title.c_str());
    }
}

void Application::Run() {
    MSG msg;
    while (!terminated_) {
        BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) break;
        Dispatch(msg);
    }
    terminated_ = true;
}

void Application::Dispatch(MSG& msg) {
    // Our window procedures catch their own; this is for whatever the system calls on our behalf.
    try {
        if (DialogMessage(msg)) return;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    } catch (...) {
        HandleException("TApplication");
    }
}

void Application::Terminate() {
    if (!terminated_) {
        terminated_ = true;
        PostQuitMessage(0);
    }
}

void Application::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        Dispatch(msg);
    }
}

void Application::AddDialog(HWND wnd) {
    if (wnd && std::find(dialogs_.begin(), dialogs_.end(), wnd) == dialogs_.end()) dialogs_.push_back(wnd);
}

void Application::RemoveDialog(HWND wnd) { std::erase(dialogs_, wnd); }

bool Application::DialogMessage(MSG& msg) {
    if (dialogs_.empty() || !msg.hwnd) return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (std::find(dialogs_.begin(), dialogs_.end(), root) == dialogs_.end()) return false;
    return IsDialogMessageW(root, &msg) != FALSE;
}

void Application::Synchronize(const std::function<void()>& fn) {
    if (!handle_ || OnMainThread()) {
        fn();
        return;
    }
    SyncCall call{&fn, nullptr};
    SendMessageW(handle_, WM_APP_SYNC, 0, reinterpret_cast<LPARAM>(&call));
    if (call.error) std::rethrow_exception(call.error);
}

void Application::Queue(std::function<void()> fn) {
    if (!handle_) {
        fn();
        return;
    }
    auto* heap = new std::function<void()>(std::move(fn));
    if (!PostMessageW(handle_, WM_APP_QUEUE, 0, reinterpret_cast<LPARAM>(heap))) delete heap;
}

void Application::HandleException(const char* senderClass, const std::exception& e) {
    if (OnException) {
        try {
            OnException(senderClass ? senderClass : "", e.what());
        } catch (...) {
        }
    }
}

void Application::HandleException(const char* senderClass) {
    try {
        throw;
    } catch (const std::exception& e) {
        HandleException(senderClass, e);
    } catch (...) {
        std::runtime_error unknown("Unknown exception");
        HandleException(senderClass, unknown);
    }
}

void Application::NotifyActivateApp(bool active) {
    if (active == active_) return;
    active_ = active;
    Guarded("TApplication", [&] {
        if (active && OnActivate) OnActivate();
        if (!active && OnDeactivate) OnDeactivate();
    });
}

LRESULT CALLBACK Application::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Application& app = Instance();
    switch (msg) {
    case WM_APP_SYNC: {
        auto* call = reinterpret_cast<SyncCall*>(lp);
        try {
            (*call->fn)();
        } catch (...) {
            call->error = std::current_exception();
        }
        return 0;
    }
    case WM_APP_QUEUE: {
        std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lp));
        Guarded("TApplication", *fn);
        return 0;
    }
    case WM_ACTIVATEAPP:
        app.NotifyActivateApp(wp != 0);
        break;
    case WM_CLOSE:
        // The main form decides; without one the program simply ends.
        if (app.MainForm) SendMessageW(app.MainForm, WM_CLOSE, 0, 0);
        else app.Terminate();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace gui
