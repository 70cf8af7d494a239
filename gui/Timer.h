#pragma once
// A timer of the thread that creates it (normally the GUI thread).
#include <windows.h>

#include <functional>

namespace gui {

class Timer {
public:
    Timer() = default;
    explicit Timer(UINT intervalMs) : interval_(intervalMs) {}
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void SetInterval(UINT ms);
    UINT Interval() const { return interval_; }
    void SetEnabled(bool on);
    bool Enabled() const { return id_ != 0; }
    // Ticks together with the thread's other shared timers of its interval, from one system timer:
    // one wake-up serves them all. Its first tick comes within one interval of being enabled.
    void SetShared(bool shared);

    std::function<void()> OnTimer;
    const char* senderClass = "TTimer";

private:
    static void CALLBACK Proc(HWND, UINT, UINT_PTR, DWORD);
    static void CALLBACK SharedProc(HWND, UINT, UINT_PTR, DWORD);
    UINT interval_ = 1000;
    UINT_PTR id_ = 0;
    bool shared_ = false;
};

}  // namespace gui
