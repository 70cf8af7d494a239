#pragma once
// Timing for the benchmark programs: a millisecond clock and mean/best of repeated runs.
#include <windows.h>

#include "SysUtils.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

inline double Now() { return gui::NowMs(); }

struct Result {
    double mean, best;
};

inline Result Measure(int runs, const std::function<void()>& fn) {
    double total = 0, best = 1e9;
    for (int i = 0; i < runs; ++i) {
        double t0 = Now();
        fn();
        double dt = Now() - t0;
        total += dt;
        if (dt < best) best = dt;
    }
    return {total / runs, best};
}

// Messages waiting for the thread are handled, as the program's loop would between two inputs.
inline void Idle() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Times of each run in milliseconds, sorted from fastest to slowest; the thread's messages are
// handled before each run, outside its time.
inline std::vector<double> SortedTimes(int runs, const std::function<void()>& fn) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        Idle();
        double t0 = Now();
        fn();
        t.push_back(Now() - t0);
    }
    std::sort(t.begin(), t.end());
    return t;
}

}  // namespace bench
