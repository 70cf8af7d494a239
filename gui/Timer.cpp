#include "Timer.h"

#include <algorithm>
#include <map>
#include <vector>

#include "Application.h"

namespace gui {

namespace {
// Thread timers are told apart by the id SetTimer hands out.
thread_local std::map<UINT_PTR, Timer*> g_timers;
// Shared timers: the system timer of each interval and the timers it ticks, in order of enabling.
struct SharedClock {
    UINT_PTR id = 0;
    std::vector<Timer*> members;
};
thread_local std::map<UINT, SharedClock> g_clocks;  // by interval
}

Timer::~Timer() { SetEnabled(false); }

void Timer::SetInterval(UINT ms) {
    // Stopped under the old interval: a shared timer leaves the clock of that interval.
    bool on = Enabled();
    SetEnabled(false);
    interval_ = ms;
    SetEnabled(on);
}

void Timer::SetShared(bool shared) {
    if (shared == shared_) return;
    bool on = Enabled();
    SetEnabled(false);
    shared_ = shared;
    SetEnabled(on);
}

void Timer::SetEnabled(bool on) {
    if (shared_) {
        if (on && !id_) {
            SharedClock& clock = g_clocks[interval_];
            if (!clock.id) clock.id = SetTimer(nullptr, 0, interval_, SharedProc);
            if (!clock.id) return;
            clock.members.push_back(this);
            id_ = clock.id;
        } else if (!on && id_) {
            SharedClock& clock = g_clocks[interval_];
            clock.members.erase(std::remove(clock.members.begin(), clock.members.end(), this), clock.members.end());
            if (clock.members.empty()) {
                KillTimer(nullptr, clock.id);
                g_clocks.erase(interval_);
            }
            id_ = 0;
        }
        return;
    }
    if (on && !id_) {
        id_ = SetTimer(nullptr, 0, interval_, Proc);
        if (id_) g_timers[id_] = this;
    } else if (!on && id_) {
        KillTimer(nullptr, id_);
        g_timers.erase(id_);
        id_ = 0;
    }
}

void CALLBACK Timer::SharedProc(HWND, UINT, UINT_PTR id, DWORD) {
    auto clock = std::find_if(g_clocks.begin(), g_clocks.end(), [id](const auto& c) { return c.second.id == id; });
    if (clock == g_clocks.end()) return;
    const UINT interval = clock->first;
    // A tick may enable, disable or free timers: each is looked for again before it ticks.
    const std::vector<Timer*> members = clock->second.members;
    for (Timer* t : members) {
        auto now = g_clocks.find(interval);
        if (now == g_clocks.end()) return;
        const auto& current = now->second.members;
        if (std::find(current.begin(), current.end(), t) == current.end()) continue;
        if (t->OnTimer) Guarded(t->senderClass, t->OnTimer);
    }
}

void CALLBACK Timer::Proc(HWND, UINT, UINT_PTR id, DWORD) {
    auto it = g_timers.find(id);
    if (it == g_timers.end()) return;
    Timer* t = it->second;
    if (t->OnTimer) Guarded(t->senderClass, t->OnTimer);
}

}  // namespace gui
