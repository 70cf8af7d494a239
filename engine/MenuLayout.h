#pragma once
// Arithmetic of the menu windows: column width, caption cuts, height, columns, placement.
// Plain numbers in and out, so it can be checked without a window.
#include <functional>
#include <string>
#include <vector>

namespace menu_layout {

constexpr int RowPitch = 21;        // image-list height 20 + 1
constexpr int MinColumnWidth = 230;
constexpr int FadeBand = 70;

using MeasureFn = std::function<int(const std::wstring&)>;

// Top edge after fitting `visible` rows of a window asked at y on a screen screenH high.
int FitTop(int y, int visible, int screenH);
// Column width from the measured caption widths of all rows: at most a tenth of the rows
// (rounded down) may be wider than the column; never narrower than 230.
int ColumnWidth(const std::vector<int>& widths);
// The caption as the row shows it in a column w wide: cut with "..." to fit w - 42.
std::wstring CutCaption(const std::wstring& caption, int w, const MeasureFn& measure);

struct WindowSize {
    int Height;
    int Columns;
    int Width;
};
WindowSize SizeWindow(int rows, int columnWidth, int top, int screenH);

// Left edge of a window `width` wide asked at `left`; ownerLeft is the left edge of the
// parent's window, or INT_MIN when there is none.
int LeftEdge(int left, int width, int screenW, int ownerLeft);

// Width of the part of a window at `left` that is made and painted: whole columns up to the
// first one that reaches past the screen's right edge. The rest can never be seen.
int ShownWidth(int left, const WindowSize& size, int columnWidth, int screenW);

}  // namespace menu_layout
