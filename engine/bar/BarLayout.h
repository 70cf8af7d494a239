#pragma once
// Bar arithmetic kept apart from windows so it can be checked directly.
#include <windows.h>

#include <vector>

constexpr int BAR_HEIGHT = 19;
constexpr int SLIDE_STEP = 3;

// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(double v);
// Widths of count buttons across formWidth: all but the last get the rounded share, the last
// fills the rest.
std::vector<int> ButtonWidths(int formWidth, int count);
// One slide tick: direction 1 moves the top towards 0, 0 towards -height. Returns the new top;
// done is set when the bar has settled.
int SlideTick(int top, int height, int direction, bool& done);
// A window rectangle that covers the whole primary screen.
bool CoversScreen(const RECT& r, int screenWidth, int screenHeight);
