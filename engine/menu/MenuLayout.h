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
constexpr int SubmenuOverlap = 50;  // a submenu starts this far before the end of its row, in the row's fade band

using MeasureFn = std::function<int(const std::wstring&)>;

// Where menu windows may lie: the work area, below the bar.
struct Area {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
};

// Top edge after fitting `visible` rows of a window asked at y: moved up when they do not fit
// below it, never above the area's top + 2 (where a bar menu opens).
int FitTop(int y, int visible, const Area& area);
// Column width from the measured caption widths of all rows: at most a tenth of the rows
// (rounded down) may be wider than the column; never narrower than 230.
int ColumnWidth(const std::vector<int>& widths);
// The caption as the row shows it in a column w wide: cut with "..." to fit w - 42.
std::wstring CutCaption(const std::wstring& caption, int w, const MeasureFn& measure);

// The row a submenu opens from, on the screen, and whether its own window opened to the left.
struct Opening {
    int RowLeft = 0, RowRight = 0;
    bool Leftward = false;
};

// The widest column the area allows: half its width, so that a submenu always has room beside
// its parent; a submenu's column is at most as wide as the wider side of its opening row.
int ColumnCap(const Area& area, const Opening* from);

struct WindowSize {
    int Height;     // rows x 21 + 17, cut so the window (one pixel taller with rows) ends in the area
    int PerColumn;  // rows a column holds
    int Columns;    // columns all the rows take
};
WindowSize SizeWindow(int rows, int top, const Area& area);

struct Placement {
    int Left;
    int Columns;  // columns shown; the others are reached by scrolling
    bool Leftward;
};
// Left edge and shown columns of a window of `columns` columns `columnWidth` wide. A bar menu
// opens at `left`, moved back inside the area. A submenu opens at its row's right end - 50, or
// when it does not fit there, with its right edge on its row's left edge; it keeps going the
// way its parent went while it fits. Where it fits on neither side it takes the side that shows
// more of its columns. It never covers its row before the row's fade band, never leaves the area.
Placement Place(int left, int columnWidth, int columns, const Area& area, const Opening* from);

}  // namespace menu_layout
