#include "menu/MenuLayout.h"

#include <algorithm>

namespace menu_layout {

int FitTop(int y, int visible, const Area& area) {
    int need = (visible + 1) * RowPitch;
    if (area.Bottom < need + y) y = std::max(area.Bottom - need - 3, area.Top + 2);
    return std::max(y, area.Top);
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

namespace {
int RoomRight(const Area& area, const Opening& from) { return area.Right - (from.RowRight - SubmenuOverlap); }
int RoomLeft(const Area& area, const Opening& from) { return from.RowLeft - area.Left; }
}  // namespace

int ColumnCap(const Area& area, const Opening* from) {
    int cap = std::max(1, area.Width() / 2);
    if (from) cap = std::min(cap, std::max({1, RoomRight(area, *from), RoomLeft(area, *from)}));
    return cap;
}

WindowSize SizeWindow(int rows, int top, const Area& area) {
    WindowSize s{};
    s.Height = rows * RowPitch + 17;
    if (rows > 0) s.Height = std::clamp(area.Bottom - top - 1, 17 + RowPitch, s.Height);
    s.PerColumn = std::max(1, (s.Height - 17) / RowPitch);
    s.Columns = rows > 0 ? (rows + s.PerColumn - 1) / s.PerColumn : 1;
    return s;
}

Placement Place(int left, int columnWidth, int columns, const Area& area, const Opening* from) {
    const int W = std::max(1, columnWidth);
    auto fit = [W](int room) { return std::max(0, room / W); };
    columns = std::max(1, columns);
    Placement p{left, 1, false};
    if (!from) {
        p.Columns = std::clamp(fit(area.Width()), 1, columns);
        p.Left = std::max(std::min(left, area.Right - p.Columns * W), area.Left);
        return p;
    }
    const int right = RoomRight(area, *from), leftRoom = RoomLeft(area, *from), need = columns * W;
    const int ahead = from->Leftward ? leftRoom : right, back = from->Leftward ? right : leftRoom;
    if (need <= ahead) p.Leftward = from->Leftward;
    else if (need <= back) p.Leftward = !from->Leftward;
    else p.Leftward = fit(back) > fit(ahead) ? !from->Leftward : from->Leftward;
    p.Columns = std::clamp(fit(p.Leftward ? leftRoom : right), 1, columns);
    int width = p.Columns * W;
    p.Left = p.Leftward ? from->RowLeft - width : from->RowRight - SubmenuOverlap;
    p.Left = std::max(std::min(p.Left, area.Right - width), area.Left);
    return p;
}

}  // namespace menu_layout
