#include "Timer.h"

#include <map>

#include "Application.h"

namespace gui {

namespace {
// Thread timers are told apart by the id SetTimer hands out.
thread_local std::map<UINT_PTR, Timer*> g_timers;
}

Timer::~Timer() { SetEnabled(false); }

void Timer::SetInterval(UINT ms) {
    interval_ = ms;
    if (id_) {
        SetEnabled(false);
        SetEnabled(true);
    }
}

void Timer::SetEnabled(bool on) {
    if (on && !id_) {
        id_ = SetTimer(nullptr, 0, interval_, Proc);
        if (id_) g_timers[id_] = this;
    } else if (!on && id_) {
        KillTimer(nullptr, id_);
        g_timers.erase(id_);
        id_ = 0;
    }
}

void CALLBACK Timer::Proc(HWND, UINT, UINT_PTR id, DWORD) {
    auto it = g_timers.find(id);
    if (it == g_timers.end()) return;
    Timer* t = it->second;
    if (t->OnTimer) Guarded(t->senderClass, t->OnTimer);
}

}  // namespace gui
