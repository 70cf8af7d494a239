#pragma once
// The application object: hidden application window, title, message loop, termination,
// activation and exception events, and the doors for work sent to the GUI thread.
#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <vector>
#include <string>

namespace gui {

class Application {
public:
    static Application& Instance();

    // Creates the hidden application window with the default title; call once on the GUI thread.
    void Initialize();
    bool Initialized() const { return handle_ != nullptr; }
    HWND Handle() const { return handle_; }
    DWORD MainThreadId() const { return mainThread_; }
    bool OnMainThread() const { return GetCurrentThreadId() == mainThread_; }

    // The executable's file name up to its first dot, every character after the first in lower case.
    static std::wstring DefaultTitle(const std::wstring& exePath);
    static const wchar_t* WindowClassName() { return L"TOrvaneApplication"; }
    std::wstring Title() const;
    void SetTitle(const std::wstring& title);
    // With this on, the title belongs to the main form's task-bar entry and the application
    // window's own text becomes empty.
    bool MainFormOnTaskBar = false;
    HWND MainForm = nullptr;

    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    void ProcessMessages();
    // Windows whose controls take Tab, arrows, Enter and Esc as a dialog's do.
    void AddDialog(HWND wnd);
    void RemoveDialog(HWND wnd);

    // Runs fn on the GUI thread and waits for it; an exception it throws is rethrown here.
    void Synchronize(const std::function<void()>& fn);
    // Posts fn to the GUI thread and returns at once.
    void Queue(std::function<void()> fn);

    std::function<void()> OnActivate;
    std::function<void()> OnDeactivate;
    // Sender's class name and the exception's message.
    std::function<void(const std::string& senderClass, const std::string& message)> OnException;
    void HandleException(const char* senderClass, const std::exception& e);
    void HandleException(const char* senderClass);  // inside a catch block, any exception
    // Called by our windows when the application gains or loses activation.
    void NotifyActivateApp(bool active);

private:
    Application() = default;
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    bool DialogMessage(MSG& msg);
    void Dispatch(MSG& msg);
    std::vector<HWND> dialogs_;
    HWND handle_ = nullptr;
    DWORD mainThread_ = 0;
    // Read by threads that must not start work for a program that is ending.
    std::atomic<bool> terminated_{false};
    bool active_ = false;
};

inline Application& App() { return Application::Instance(); }

// Runs fn, handing any exception to the application's exception event; true when none came.
template <class F>
bool Guarded(const char* senderClass, F&& fn) {
    try {
        fn();
        return true;
    } catch (...) {
        App().HandleException(senderClass);
        return false;
    }
}

// A window procedure whose exceptions go to the application's handler (named by the window's
// class) instead of unwinding through the system's frames, which would end the process.
template <WNDPROC Proc>
LRESULT CALLBACK GuardedProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    try {
        return Proc(hwnd, msg, wp, lp);
    } catch (...) {
        char name[64] = {};
        GetClassNameA(hwnd, name, sizeof name);
        App().HandleException(name);
        return 0;
    }
}

}  // namespace gui
