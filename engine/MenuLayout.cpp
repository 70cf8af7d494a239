#include "MenuLayout.h"

#include <algorithm>
#include <climits>

namespace menu_layout {

int FitTop(int y, int visible, int screenH) {
    int need = (visible + 1) * RowPitch;
    if (screenH < need + y) y = std::max(screenH - need - 3, 3);
    return y;
}

int ColumnWidth(const std::vector<int>& widths) {
    std::vector<int> wide;
    for (int w : widths)
        if (w > MinColumnWidth) wide.push_back(w);
    std::sort(wide.begin(), wide.end());
    int K = static_cast<int>(wide.size());
    int a = static_cast<int>(widths.size() * 0.1);
    int k = K - a - 1;
    return (k >= 0 && k <= K - 1) ? wide[k] : MinColumnWidth;
}

std::wstring CutCaption(const std::wstring& caption, int w, const MeasureFn& measure) {
    int limit = w - 42;
    if (measure(caption) <= limit) return caption;
    auto fits = [&](size_t n) { return measure(caption.substr(0, n) + L"...") < limit; };
    if (caption.empty() || !fits(1)) return caption;
    // The longest start that fits with the dots: a longer start is never narrower, so halving
    // the range finds it with a few measurements instead of one per character.
    size_t lo = 1, hi = caption.size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo + 1) / 2;
        if (fits(mid)) lo = mid;
        else hi = mid - 1;
    }
    return caption.substr(0, lo) + L"...";
}

WindowSize SizeWindow(int rows, int columnWidth, int top, int screenH) {
    WindowSize s{};
    s.Height = std::min(rows * RowPitch + 17, screenH - top + 8);
    int usable = s.Height - 8;
    s.Columns = (usable > 0 ? rows * RowPitch / usable : 0) + 1;
    s.Width = columnWidth * s.Columns;
    return s;
}

int LeftEdge(int left, int width, int screenW, int ownerLeft) {
    if (left + width - screenW > FadeBand) left = screenW - width + FadeBand;
    if (ownerLeft != INT_MIN && ownerLeft > left) left = ownerLeft - width + FadeBand;
    if (left <= 0) left = 1;
    return left;
}

int ShownWidth(int left, const WindowSize& size, int columnWidth, int screenW) {
    if (columnWidth <= 0) return size.Width;
    int room = std::max(screenW - left, 1);
    int columns = (room + columnWidth - 1) / columnWidth;
    return std::min(size.Width, columns * columnWidth);
}

}  // namespace menu_layout
