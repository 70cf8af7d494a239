#include "bar/BarLayout.h"

#include <cmath>

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

std::vector<int> ButtonWidths(int formWidth, int count) {
    std::vector<int> w;
    if (count <= 0) return w;
    int share = RoundHalfEven(static_cast<double>(formWidth) / count);
    w.assign(static_cast<size_t>(count), share);
    w.back() = formWidth - share * (count - 1);
    return w;
}

int SlideTick(int top, int height, int direction, bool& done) {
    done = false;
    if (direction == 1) {
        if (top < 0) return top + SLIDE_STEP;
        done = true;
        return 0;
    }
    if (top > -height) return top - SLIDE_STEP;
    done = true;
    return -height;
}

bool CoversScreen(const RECT& r, int screenWidth, int screenHeight) {
    return r.left <= 0 && r.top <= 0 && r.right >= screenWidth && r.bottom >= screenHeight;
}
