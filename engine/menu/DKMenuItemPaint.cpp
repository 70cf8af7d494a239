// Painting of a menu window into its off-screen picture and hand-over to the layered window.
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <memory>

#include "settings/DKLog.h"
#include "settings/Configs.h"
#include "util/DKUtils.h"
#include "Handles.h"
#include "menu/MenuForm.h"
#include "menu/ShellIcon.h"
#include "SysUtils.h"

using Gdiplus::Color;
using Gdiplus::LinearGradientBrush;
using Gdiplus::Pen;
using Gdiplus::PointF;
using Gdiplus::RectF;

namespace {

Color ARGB(BYTE a, COLORREF c) { return Color(a, GetRValue(c), GetGValue(c), GetBValue(c)); }

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

// A horizontal gradient between two x positions (y = 0 for both points), tiled.
std::unique_ptr<LinearGradientBrush> HGradient(float x1, Color c1, float x2, Color c2) {
    if (x2 == x1) x2 = x1 + 1;  // GDI+ refuses a gradient of no length
    auto b = std::make_unique<LinearGradientBrush>(PointF(x1, 0), PointF(x2, 0), c1, c2);
    b->SetWrapMode(Gdiplus::WrapModeTile);
    return b;
}

// An icon as a straight-alpha GDI+ picture (icons without alpha take it from their mask).
std::unique_ptr<Gdiplus::Bitmap> IconPicture(HICON icon) {
    if (!icon) return nullptr;
    ICONINFO ii{};
    if (!GetIconInfo(icon, &ii)) return nullptr;
    gui::BitmapHandle colorBits(ii.hbmColor), maskBits(ii.hbmMask);
    BITMAP bm{};
    HBITMAP src = ii.hbmColor ? ii.hbmColor : ii.hbmMask;
    GetObjectW(src, sizeof(bm), &bm);
    int w = bm.bmWidth, h = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    std::unique_ptr<Gdiplus::Bitmap> out;
    if (w > 0 && h > 0 && ii.hbmColor) {
        std::vector<DWORD> color(static_cast<size_t>(w) * h), mask(static_cast<size_t>(w) * h);
        BITMAPINFO bi = TopDown32(w, h);
        gui::WindowDC dc(nullptr);
        GetDIBits(dc.get(), ii.hbmColor, 0, h, color.data(), &bi, DIB_RGB_COLORS);
        GetDIBits(dc.get(), ii.hbmMask, 0, h, mask.data(), &bi, DIB_RGB_COLORS);
        bool hasAlpha = false;
        for (DWORD p : color)
            if (p >> 24) {
                hasAlpha = true;
                break;
            }
        out = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppARGB);
        Gdiplus::BitmapData data{};
        Gdiplus::Rect r(0, 0, w, h);
        if (out->LockBits(&r, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) == Gdiplus::Ok) {
            for (int y = 0; y < h; ++y) {
                auto* line = reinterpret_cast<DWORD*>(static_cast<BYTE*>(data.Scan0) + y * data.Stride);
                for (int x = 0; x < w; ++x) {
                    DWORD p = color[static_cast<size_t>(y) * w + x];
                    if (!hasAlpha) p = (p & 0xFFFFFF) | ((mask[static_cast<size_t>(y) * w + x] & 0xFFFFFF) ? 0 : 0xFF000000);
                    line[x] = p;
                }
            }
            out->UnlockBits(&data);
        }
    }
    return out;
}

// Where an edit box's painted caret stands in the box's picture: after the text before its caret.
int CaretX(HDC dc, HWND edit) {
    gui::SelectScope fontIn(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
    std::wstring text = gui::WindowText(edit);
    DWORD selStart = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), 0);
    SIZE ext{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(std::min<size_t>(selStart, text.size())), &ext);
    return ext.cx + 2;
}

// Draws a picture 16 pixels high, turning about x = L + 14 when `turning`.
void DrawTurned(Gdiplus::Graphics& g, Gdiplus::Image* pic, int L, int IT, bool turning, short degree) {
    if (!pic) return;
    if (turning) {
        double w = -8.0 * std::cos(degree * 2.0 * 3.14159265358979323846 / 360.0);
        float width = static_cast<float>(-2.0 * w);
        if (std::fabs(width) < 0.01f) return;  // edge-on
        g.DrawImage(pic, RectF(static_cast<float>(L + 14 + w), static_cast<float>(IT + 3), width, 16.0f));
    } else {
        g.DrawImage(pic, L + 6, IT + 3, 16, 16);
    }
}


// ---- Direct pixel work on the window's picture (top-down premultiplied 32-bit DIB). ----
// GDI+ is slow per call, so the plain fills, rules, fades and captions are composed here and
// GDI+ is kept for the rarer or transformed parts (turning icons, marks, edit boxes).

struct Canvas {
    DWORD* bits = nullptr;
    int w = 0, h = 0;  // w: the pixels of a line of bits
    RECT clip{};  // the row being painted, within the picture
};

inline DWORD Mul255(DWORD v, DWORD a) {
    DWORD t = v * a + 128;
    return (t + (t >> 8)) >> 8;
}

// Source-over of a straight colour with alpha a.
inline void Over(DWORD& d, DWORD a, COLORREF c) {
    if (a == 0) return;
    DWORD r = Mul255(GetRValue(c), a), g = Mul255(GetGValue(c), a), b = Mul255(GetBValue(c), a);
    if (a == 255) {
        d = 0xFF000000u | (r << 16) | (g << 8) | b;
        return;
    }
    DWORD k = 255 - a;
    DWORD da = d >> 24, dr = (d >> 16) & 255, dg = (d >> 8) & 255, db = d & 255;
    d = ((a + Mul255(da, k)) << 24) | ((r + Mul255(dr, k)) << 16) | ((g + Mul255(dg, k)) << 8) | (b + Mul255(db, k));
}

// Source-over of a premultiplied pixel.
inline void OverP(DWORD& d, DWORD s) {
    DWORD a = s >> 24;
    if (a == 0) return;
    if (a == 255) {
        d = s;
        return;
    }
    DWORD k = 255 - a;
    DWORD da = d >> 24, dr = (d >> 16) & 255, dg = (d >> 8) & 255, db = d & 255;
    d = ((a + Mul255(da, k)) << 24) | ((((s >> 16) & 255) + Mul255(dr, k)) << 16) |
        ((((s >> 8) & 255) + Mul255(dg, k)) << 8) | ((s & 255) + Mul255(db, k));
}

BYTE Lerp(BYTE a, BYTE b, double t) { return static_cast<BYTE>(std::lround(a + (b - a) * t)); }

// Position of pixel x within a tiled gradient from x1 to x2 (0..1).
double GradientAt(int x, double x1, double x2) {
    double t = (x + 0.5 - x1) / (x2 - x1);
    return t - std::floor(t);
}

// Fills [x0, x1) x [y0, y1) with alpha a0 at gx1 fading to a1 at gx2 (tiled), one colour.
void FillFade(Canvas& cv, int x0, int y0, int x1, int y1, COLORREF c, BYTE a0, double gx1, BYTE a1, double gx2,
              bool tiled) {
    x0 = std::max<int>(x0, cv.clip.left), x1 = std::min<int>(x1, cv.clip.right);
    y0 = std::max<int>(y0, cv.clip.top), y1 = std::min<int>(y1, cv.clip.bottom);
    if (x0 >= x1 || y0 >= y1) return;
    if (gx2 == gx1) gx2 = gx1 + 1;
    for (int x = x0; x < x1; ++x) {
        double t = tiled ? GradientAt(x, gx1, gx2) : std::clamp((x + 0.5 - gx1) / (gx2 - gx1), 0.0, 1.0);
        BYTE a = Lerp(a0, a1, t);
        if (!a) continue;
        for (int y = y0; y < y1; ++y) Over(cv.bits[static_cast<size_t>(y) * cv.w + x], a, c);
    }
}

void FillSolid(Canvas& cv, int x0, int y0, int x1, int y1, COLORREF c, BYTE a) {
    FillFade(cv, x0, y0, x1, y1, c, a, 0, a, 1, false);
}

// A caption as coverage (text drawn once in white on nothing), laid over rows in their colour.
struct CaptionMask {
    int w = 0, h = 0;
    std::vector<BYTE> cover;
    RECT ink{};  // where the coverage is not nothing: only that part is laid over
};

const CaptionMask& CaptionFor(const std::wstring& text, Gdiplus::Font* font, Gdiplus::TextRenderingHint hint, int w,
                              int h, int dx, int dy) {
    static std::map<std::tuple<std::wstring, int, int, int, int, int>, CaptionMask> cache;
    auto key = std::make_tuple(text, w, h, dx, dy, static_cast<int>(hint));
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    if (cache.size() > 4000) cache.clear();  // only ever a few menus' worth of captions in use
    CaptionMask m;
    m.w = w, m.h = h;
    m.cover.assign(static_cast<size_t>(w) * h, 0);
    if (w > 0 && h > 0) {
        Gdiplus::Bitmap pic(w, h, PixelFormat32bppPARGB);
        {
            Gdiplus::Graphics g(&pic);
            g.SetTextRenderingHint(hint);
            Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
            g.DrawString(text.c_str(), static_cast<INT>(text.size()), font,
                         PointF(static_cast<float>(dx), static_cast<float>(dy)), &white);
        }
        Gdiplus::BitmapData bd{};
        Gdiplus::Rect r(0, 0, w, h);
        if (pic.LockBits(&r, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &bd) == Gdiplus::Ok) {
            m.ink = RECT{w, h, 0, 0};
            for (int y = 0; y < h; ++y) {
                auto* line = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(bd.Scan0) + y * bd.Stride);
                for (int x = 0; x < w; ++x) {
                    BYTE a = static_cast<BYTE>(line[x] >> 24);
                    m.cover[static_cast<size_t>(y) * w + x] = a;
                    if (!a) continue;
                    m.ink.left = std::min<LONG>(m.ink.left, x), m.ink.right = std::max<LONG>(m.ink.right, x + 1);
                    m.ink.top = std::min<LONG>(m.ink.top, y), m.ink.bottom = std::max<LONG>(m.ink.bottom, y + 1);
                }
            }
            pic.UnlockBits(&bd);
            if (m.ink.left >= m.ink.right) m.ink = RECT{};
        }
    }
    return cache.emplace(key, std::move(m)).first->second;
}

// A 16 x 16 picture's premultiplied pixels (empty for other sizes).
std::vector<DWORD> PicturePixels(Gdiplus::Bitmap* pic) {
    std::vector<DWORD> px;
    if (!pic || pic->GetWidth() != 16 || pic->GetHeight() != 16) return px;
    Gdiplus::BitmapData bd{};
    Gdiplus::Rect r(0, 0, 16, 16);
    if (pic->LockBits(&r, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &bd) != Gdiplus::Ok) return px;
    px.resize(256);
    for (int j = 0; j < 16; ++j) {
        auto* line = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(bd.Scan0) + j * bd.Stride);
        std::copy(line, line + 16, px.begin() + j * 16);
    }
    pic->UnlockBits(&bd);
    return px;
}

// A 16 x 16 icon turned by `degree` as DrawTurned draws it, on nothing, 20 x 16 from 2 pixels left
// of the icon's place; made once per angle (an angle and 360 less it look alike).
const std::vector<DWORD>& TurnedPixels(TDKMenuItem::TIconPicture& pic, short degree) {
    const int key = std::min<int>(degree, 360 - degree);
    auto it = pic.Turned.find(key);
    if (it != pic.Turned.end()) return it->second;
    std::vector<DWORD> px(20 * 16, 0);
    {
        Gdiplus::Bitmap turned(20, 16, PixelFormat32bppPARGB);
        {
            Gdiplus::Graphics g(&turned);
            // Drawn at x = L + 14 + w in the row: 10 + w here.
            DrawTurned(g, pic.Picture.get(), -4, -3, true, static_cast<short>(key));
        }
        Gdiplus::BitmapData bd{};
        Gdiplus::Rect r(0, 0, 20, 16);
        if (turned.LockBits(&r, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &bd) == Gdiplus::Ok) {
            for (int j = 0; j < 16; ++j) {
                auto* line = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(bd.Scan0) + j * bd.Stride);
                std::copy(line, line + 20, px.begin() + j * 20);
            }
            turned.UnlockBits(&bd);
        }
    }
    return pic.Turned.emplace(key, std::move(px)).first->second;
}

// Lays premultiplied pixels (w x h) over the canvas 1:1 at (x, y).
void BlitPixels(Canvas& cv, const std::vector<DWORD>& px, int w, int h, int x, int y) {
    if (px.size() < static_cast<size_t>(w) * h) return;
    for (int j = 0; j < h; ++j) {
        int yy = y + j;
        if (yy < cv.clip.top || yy >= cv.clip.bottom) continue;
        for (int i = 0; i < w; ++i) {
            int xx = x + i;
            if (xx < cv.clip.left || xx >= cv.clip.right) continue;
            OverP(cv.bits[static_cast<size_t>(yy) * cv.w + xx], px[static_cast<size_t>(j) * w + i]);
        }
    }
}

// Counts pictures painted: the check mark file is looked at once per picture, not per row.
unsigned g_paintSerial = 0;
// The running paint drew with GDI+ (which must then be flushed); most rows are composed directly.
bool g_gdiplusDrew = false;

// The check mark file's picture, loaded again whenever the file changes (empty when missing).
const std::vector<DWORD>& CheckMarkPixels(const std::wstring& file) {
    static std::wstring lastFile;
    static WIN32_FILE_ATTRIBUTE_DATA lastStamp{};
    static std::vector<DWORD> px;
    static unsigned lookedAt = 0;
    if (file == lastFile && lookedAt == g_paintSerial) return px;
    lookedAt = g_paintSerial;
    WIN32_FILE_ATTRIBUTE_DATA stamp{};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &stamp)) {
        lastFile.clear();
        px.clear();
        return px;
    }
    if (file == lastFile && CompareFileTime(&stamp.ftLastWriteTime, &lastStamp.ftLastWriteTime) == 0 &&
        stamp.nFileSizeLow == lastStamp.nFileSizeLow && stamp.nFileSizeHigh == lastStamp.nFileSizeHigh)
        return px;
    px.clear();
    lastFile = file;
    lastStamp = stamp;
    gui::IconHandle mark(static_cast<HICON>(LoadImageW(nullptr, file.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE)));
    if (mark) px = PicturePixels(IconPicture(mark.get()).get());
    return px;
}

// The submenu mark (three strokes) drawn once per colour on nothing; 24 x 20, its right edge
// on the row's right edge and its top on the row's top.
const std::vector<DWORD>& SubmenuMark(COLORREF c) {
    static std::map<COLORREF, std::vector<DWORD>> cache;
    auto it = cache.find(c);
    if (it != cache.end()) return it->second;
    std::vector<DWORD> px(24 * 20, 0);
    {
        Gdiplus::Bitmap pic(24, 20, PixelFormat32bppPARGB);
        {
            Gdiplus::Graphics g(&pic);
            Pen p(ARGB(0x60, c), 2.0f);
            g.DrawLine(&p, 4, 6, 8, 10);
            g.DrawLine(&p, 4, 14, 8, 10);
            g.DrawLine(&p, 4, 6, 4, 14);
        }
        Gdiplus::BitmapData bd{};
        Gdiplus::Rect r(0, 0, 24, 20);
        if (pic.LockBits(&r, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &bd) == Gdiplus::Ok) {
            for (int j = 0; j < 20; ++j) {
                auto* line = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(bd.Scan0) + j * bd.Stride);
                std::copy(line, line + 24, px.begin() + j * 24);
            }
            pic.UnlockBits(&bd);
        }
    }
    return cache.emplace(c, std::move(px)).first->second;
}

// A row's ground (steps 1 to 5 of a row's paint) for a row of w x h at the origin.
void PaintGround(Canvas& cv, int w, int h, COLORREF c, BYTE A, bool noNeighbour, bool endsColumn,
                 bool startsColumn) {
    const int L = 0, Tp = 0, R = w, B = h;
    const COLORREF D10 = DarkenColor(c, 10), D35 = DarkenColor(c, 35);
    // 1. Start from transparent.
    std::fill_n(cv.bits, static_cast<size_t>(w) * h, 0u);
    // 2. Background; rows with nothing to their right fade out.
    if (noNeighbour) {
        FillSolid(cv, L, Tp, R - 70, B, c, A);
        FillFade(cv, R - 70, Tp, R, B, c, A, R - 70, 0, R, false);
    } else {
        FillSolid(cv, L, Tp, R, B, c, A);
    }
    // 3. Column rules: left edge and the edge of the icon strip.
    FillSolid(cv, L, Tp, L + 2, B, D35, 255);
    FillSolid(cv, L + 26, Tp, L + 28, B, D35, 255);
    // 4. Bottom rule.
    if (endsColumn)
        FillFade(cv, L, B - 2, R, B, D35, 255, L, 0, R, true);
    else
        FillFade(cv, L + 28, B - 1, R, B, D10, 255, L + 28, 0, R, true);
    // 5. Top rule of a column's first row.
    if (startsColumn) FillFade(cv, L, Tp, R, Tp + 2, D35, 255, L, 0, R, true);
}

// The lit body of a selected row (step 6) over its ground, for a row of w x h at the origin.
void PaintSelection(Canvas& cv, int w, int h, COLORREF c, bool gradient) {
    const int L = 0, Tp = 0, R = w, B = h;
    const COLORREF D30 = DarkenColor(c, 30), D35 = DarkenColor(c, 35), D70 = DarkenColor(c, 70);
    COLORREF S = gradient ? D30 : c;
    for (int y = Tp; y < B; ++y) {
        double t = GradientAt(y, Tp - 1, B);
        COLORREF col = RGB(Lerp(GetRValue(c), GetRValue(S), t), Lerp(GetGValue(c), GetGValue(S), t),
                           Lerp(GetBValue(c), GetBValue(S), t));
        DWORD* line = cv.bits + static_cast<size_t>(y) * cv.w;
        for (int x = L; x < R; ++x) {
            int k = x - (R - 70);
            BYTE a = k < 0 ? 255 : static_cast<BYTE>(std::nearbyint(255.0 - 255.0 * k / 70.0));
            Over(line[x], a, col);
        }
    }
    FillSolid(cv, L + 26, Tp + 1, L + 28, B - 1, D35, 255);
    // Outline.
    FillFade(cv, L, Tp, R, Tp + 1, D70, 255, L - 1, 0, R, true);
    FillFade(cv, L, B - 1, R, B, D70, 255, L - 1, 0, R, true);
    FillFade(cv, L, Tp + 1, L + 1, B - 1, D70, 255, L - 1, 0, R, true);
    FillFade(cv, R - 1, Tp + 1, R, B - 1, D70, 255, L - 1, 0, R, true);
}

// Every fill above depends on the position within the row only, so one ground serves every
// row of the same size, colour and kind (the selected row's too: it is painted 25 times a second).
const std::vector<DWORD>& RowGround(int w, int h, COLORREF c, BYTE A, bool noNeighbour, bool endsColumn,
                                    bool startsColumn, bool selected, bool gradient) {
    static std::map<std::tuple<int, int, COLORREF, int, int>, std::vector<DWORD>> cache;
    int kind = (noNeighbour ? 1 : 0) | (endsColumn ? 2 : 0) | (startsColumn ? 4 : 0) | (selected ? 8 : 0) |
               (gradient ? 16 : 0);
    auto key = std::make_tuple(w, h, c, static_cast<int>(A), kind);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    if (cache.size() > 256) cache.clear();  // a few menus' colours and column widths at a time
    std::vector<DWORD> px(static_cast<size_t>(std::max(w, 0)) * std::max(h, 0));
    if (!px.empty()) {
        Canvas cv;
        cv.bits = px.data();
        cv.w = w, cv.h = h;
        cv.clip = RECT{0, 0, w, h};
        PaintGround(cv, w, h, c, A, noNeighbour, endsColumn, startsColumn);
        if (selected) PaintSelection(cv, w, h, c, gradient);
    }
    return cache.emplace(key, std::move(px)).first->second;
}

}  // namespace

DWORD TDKMenuItem::PicturePixel(int x, int y) const {
    if (!bmp || x < 0 || y < 0 || x >= sz.cx || y >= sz.cy) return 0;
    DIBSECTION ds{};
    if (!GetObjectW(bmp.get(), sizeof(ds), &ds) || !ds.dsBm.bmBits) return 0;
    GdiFlush();
    DWORD p = static_cast<const DWORD*>(ds.dsBm.bmBits)[static_cast<size_t>(y) * ds.dsBm.bmWidth + x];
    DWORD a = p >> 24;
    if (a == 0) return 0;
    auto un = [a](DWORD c) { return std::min<DWORD>(255, (c * 255 + a / 2) / a); };
    return (a << 24) | (un((p >> 16) & 255) << 16) | (un((p >> 8) & 255) << 8) | un(p & 255);
}

bool TDKMenuItem::RowInPicture(int Row) const {
    RECT b = RowBounds(Row), picture{0, 0, sz.cx, sz.cy}, shown{};
    return IntersectRect(&shown, &b, &picture) != FALSE;
}

void TDKMenuItem::UpdateWindow(int ItemInd, bool RedrawIcon) {
    (void)RedrawIcon;
    if (!FForm || !FForm->Handle() || !IsWindowVisible(FForm->Handle()) || !BackGround || !Graphics) return;
    int rows = RowCount();
    if (rows <= 0) return;
    // Rows in columns scrolled out of the window are neither painted nor handed over.
    if (ItemInd >= 0 && (ItemInd >= rows || !RowInPicture(ItemInd))) return;
    PaintPicture(ItemInd);
    // The whole picture is handed over; after a one-row paint only that row is new, which the
    // dirty rectangle tells the system so it need not copy the rest again.
    RECT dirty{};
    if (ItemInd >= 0) {
        RECT b = RowBounds(ItemInd), picture{0, 0, sz.cx, sz.cy};
        IntersectRect(&dirty, &b, &picture);
    }
    Present(ItemInd >= 0 ? &dirty : nullptr);
}

// The whole picture from nothing: what lies outside the rows stays clear. A picture just made
// is clear already.
void TDKMenuItem::PaintAll(bool Cleared) {
    if (!bmp || !BackGround || !Graphics) return;
    DIBSECTION ds{};
    if (!Cleared && GetObjectW(bmp.get(), sizeof(ds), &ds) && ds.dsBm.bmBits) {
        GdiFlush();
        auto* bits = static_cast<DWORD*>(ds.dsBm.bmBits);
        for (int y = 0; y < sz.cy; ++y) std::fill_n(bits + static_cast<size_t>(y) * ds.dsBm.bmWidth, sz.cx, 0u);
    }
    if (RowCount() > 0) PaintPicture(-1);
}

void TDKMenuItem::PaintPicture(int ItemInd) {
    int rows = RowCount();
    try {
        if (FPopupMenu) FColor = Config.ActiveScheme().MenuColors.at(FPopupMenu->FMenuID);
    } catch (const std::exception& e) {
        Log(4, L"(c9) /" + std::to_wstring(MenuIdForLog()) + L"/ " + What(e));
    }
    ++g_paintSerial;
    g_gdiplusDrew = false;
    BeginRowIconLookups();
    RECT last = RowBounds(rows - 1);
    int selected = SelectedRow();
    if (ItemInd < 0) {
        for (int r = 0; r < rows; ++r)
            if (RowInPicture(r)) PaintRow(r, last, rows, selected);
    } else {
        PaintRow(ItemInd, last, rows, selected);
    }
    if (g_gdiplusDrew) {
        Graphics->ResetClip();
        Graphics->Flush(Gdiplus::FlushIntentionSync);
    }
}

namespace {
int g_presentBatch = 0;
TDKMenuItem::THandOvers g_handOvers;
std::vector<TDKMenuItem*>& PendingPresents() {
    static std::vector<TDKMenuItem*> v;
    return v;
}
}  // namespace

void TDKMenuItem::BeginPresentBatch() { ++g_presentBatch; }

void TDKMenuItem::CancelPresent() {
    if (!FPresentPending) return;
    FPresentPending = false;
    auto& v = PendingPresents();
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void TDKMenuItem::EndPresentBatch() {
    if (--g_presentBatch > 0) return;
    auto pending = std::move(PendingPresents());
    PendingPresents().clear();
    for (TDKMenuItem* item : pending) {
        if (!item->FPresentPending) continue;  // its window went meanwhile
        item->FPresentPending = false;
        RECT dirty = item->FPresentDirty;
        item->Present(item->FPresentWhole ? nullptr : &dirty);
    }
}

void TDKMenuItem::Present(const RECT* Dirty) {
    if (!FForm || !FForm->Handle() || !DC) return;
    // A hidden window is handed its picture at once: it is about to show.
    if (g_presentBatch > 0 && IsWindowVisible(FForm->Handle())) {
        if (!FPresentPending) {
            PendingPresents().push_back(this);
            FPresentPending = true;
            FPresentWhole = false;
            FPresentDirty = RECT{};
        }
        if (!Dirty) FPresentWhole = true;
        else UnionRect(&FPresentDirty, &FPresentDirty, Dirty);
        return;
    }
    if (FPresentPending) {
        // What the batch held back goes now too: the whole picture, and nothing left for the batch.
        CancelPresent();
        Dirty = nullptr;
    }
    UPDATELAYEREDWINDOWINFO info{};
    info.cbSize = sizeof(info);
    info.pptDst = &pt1;
    info.psize = &sz;
    info.hdcSrc = DC.get();
    info.pptSrc = &pt2;
    info.pblend = &bf;
    info.dwFlags = ULW_ALPHA;
    info.prcDirty = Dirty;
    if (!UpdateLayeredWindowIndirect(FForm->Handle(), &info))
        UpdateLayeredWindow(FForm->Handle(), nullptr, &pt1, &sz, DC.get(), &pt2, 0, &bf, ULW_ALPHA);
    ++g_handOvers.Windows;
    // The window now shows its turning row as it is: the turn window can go.
    ParkTurn();
}

// ---- the turning row ----

TDKMenuItem::THandOvers TDKMenuItem::HandOvers() { return g_handOvers; }

HWND TDKMenuItem::TurnWindowShown() const {
    return FTurnWindow && FTurnWindow->Shown ? FTurnWindow->Handle() : nullptr;
}

void TDKMenuItem::TurnRow(int Row) {
    if (!FForm || !FForm->Handle() || !IsWindowVisible(FForm->Handle()) || !BackGround || !Graphics) return;
    if (Row < 0 || Row >= RowCount() || !RowInPicture(Row)) return;
    PaintPicture(Row);
    if (ShowTurn(Row)) return;
    RECT dirty{}, b = RowBounds(Row), picture{0, 0, sz.cx, sz.cy};
    IntersectRect(&dirty, &b, &picture);
    Present(&dirty);
}

namespace {

const gui::WindowClass kTurnClass{L"TDKMenuTurn", CS_OWNDC};

// Parked where no screen is: hiding would unmap it, which some window systems answer slowly.
constexpr int kParked = -32000;

struct TAboveWalk {
    HWND form;
    const std::vector<HWND>* meeting;
    std::vector<HWND> above;
};

// Top-level windows come from the top down: those met before the form are above it.
BOOL CALLBACK CollectAbove(HWND w, LPARAM lp) {
    auto* k = reinterpret_cast<TAboveWalk*>(lp);
    if (w == k->form) return FALSE;
    if (std::find(k->meeting->begin(), k->meeting->end(), w) != k->meeting->end()) k->above.push_back(w);
    return TRUE;
}

// What of the rectangle r of the screen the menu windows above `form` leave open: 0 none of them
// meets r, 1 they cover part of it (`open` gets the rest, relative to r), 2 they cover all of it.
// The order of the windows is asked of the system only when another menu window meets r.
int CoveredAbove(HWND form, const TDKMenuItem* self, const RECT& r, gui::RegionHandle& open) {
    std::vector<HWND> meeting;
    for (TDKMenuItem* item : menu_window::ShownWindows()) {
        if (item == self) continue;
        RECT w = item->Form()->BoundsRect(), both{};
        if (IntersectRect(&both, &w, &r)) meeting.push_back(item->Form()->Handle());
    }
    if (meeting.empty()) return 0;
    TAboveWalk walk{form, &meeting, {}};
    EnumWindows(CollectAbove, reinterpret_cast<LPARAM>(&walk));
    if (walk.above.empty()) return 0;
    open.reset(CreateRectRgn(0, 0, r.right - r.left, r.bottom - r.top));
    for (HWND w : walk.above) {
        RECT wr{};
        GetWindowRect(w, &wr);
        OffsetRect(&wr, -r.left, -r.top);
        gui::RegionHandle cut(CreateRectRgnIndirect(&wr));
        CombineRgn(open.get(), open.get(), cut.get(), RGN_DIFF);
    }
    RECT left{};
    return GetRgnBox(open.get(), &left) == NULLREGION ? 2 : 1;
}

}  // namespace

bool TDKMenuItem::ShowTurn(int Row) {
    if (g_presentBatch > 0 || FPresentPending || !DC) return false;
    TMenuRowData* data = RowData(Row);
    if (!data || !FItems || data->ItemIndex < 0 || data->ItemIndex >= Count()) return false;
    // The selected row's body is opaque; its last 70 pixels fade out and are left to the window.
    RECT b = RowBounds(Row), body{b.left, b.top, b.right - 70, b.bottom}, picture{0, 0, sz.cx, sz.cy};
    if (!IntersectRect(&body, &body, &picture)) return false;
    TDKMenuItem* child = (*FItems)[data->ItemIndex];
    if (child->FEdited && data->Edit && data->Edit->Handle()) {
        // An edit box's caret blinks with the turn: it must lie within the body.
        gui::MemoryDCHandle mem(CreateCompatibleDC(nullptr));
        if (b.left + 28 + CaretX(mem.get(), data->Edit->Handle()) + 1 >= body.right) {
            ParkTurn();
            return false;
        }
    }
    RECT screen = body;
    OffsetRect(&screen, pt1.x, pt1.y);
    HWND form = FForm->Handle();
    gui::RegionHandle open;
    const int covered = CoveredAbove(form, this, screen, open);
    if (covered == 2) {
        // Nothing of it shows: the window gets the row with its next hand-over.
        ParkTurn();
        return true;
    }
    if (!FTurnWindow) {
        auto turn = std::make_unique<TTurnWindow>(this);
        if (!turn->Create(kTurnClass, L"", WS_POPUP,
                          WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kParked, kParked,
                          1, 1, form))
            return false;
        // Layered with a constant alpha only: the pointer passes through it to the menu window.
        SetLayeredWindowAttributes(turn->Handle(), 0, 255, LWA_ALPHA);
        FTurnWindow = std::move(turn);
    }
    TTurnWindow& turn = *FTurnWindow;
    turn.Source = body;
    HWND h = turn.Handle();
    // Where other menu windows lie over the row, the turn window shows only the rest of it.
    if (open ? !turn.Open || !EqualRgn(open.get(), turn.Open.get()) : static_cast<bool>(turn.Open)) {
        HRGN shape = nullptr;
        if (open) {
            shape = CreateRectRgn(0, 0, 0, 0);
            CombineRgn(shape, open.get(), nullptr, RGN_COPY);
        }
        SetWindowRgn(h, shape, TRUE);  // the window owns it from here on
        turn.Open = std::move(open);
    }
    if (!turn.Shown || !EqualRect(&turn.Screen, &screen)) {
        UINT flags = SWP_NOACTIVATE | SWP_NOOWNERZORDER;
        HWND after = nullptr;
        if (!IsWindowVisible(h)) {
            // Shown for the first time: right above its menu window, under whatever covers that.
            flags |= SWP_SHOWWINDOW;
            after = GetWindow(form, GW_HWNDPREV);
            if (!after || (GetWindowLongW(after, GWL_EXSTYLE) & WS_EX_TOPMOST)) after = HWND_TOP;
        } else {
            flags |= SWP_NOZORDER;
        }
        SetWindowPos(h, after, screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top, flags);
        turn.Screen = screen;
        turn.Shown = true;
    }
    GdiFlush();
    gui::WindowDC to(h);
    BitBlt(to.get(), 0, 0, body.right - body.left, body.bottom - body.top, DC.get(), body.left, body.top, SRCCOPY);
    ++g_handOvers.Rows;
    g_handOvers.LastRow = screen;
    return true;
}

void TDKMenuItem::ParkTurn() {
    if (!FTurnWindow || !FTurnWindow->Shown) return;
    FTurnWindow->Shown = false;
    SetWindowPos(FTurnWindow->Handle(), nullptr, kParked, kParked, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

LRESULT TTurnWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        if (Item && Item->DC)
            BitBlt(dc, 0, 0, Source.right - Source.left, Source.bottom - Source.top, Item->DC.get(), Source.left,
                   Source.top, SRCCOPY);
        EndPaint(Handle(), &ps);
        return 0;
    }
    }
    return DefaultHandler(msg, wp, lp);
}

void TDKMenuItem::PaintRow(int Row, const RECT& Last, int RowsTotal, int Selected) {
    TMenuRowData* data = RowData(Row);
    if (!data || !FItems || data->ItemIndex < 0 || data->ItemIndex >= Count()) return;
    TDKMenuItem* child = (*FItems)[data->ItemIndex];
    BYTE T = Config.ActiveScheme().Transparency;
    RECT rc = RowBounds(Row);
    const int L = rc.left, Tp = rc.top, R = rc.right, B = rc.bottom, H = B - Tp;
    const int IT = RowIconRect(Row).top;
    const COLORREF c = FColor;
    const COLORREF D20 = DarkenColor(c, 20), D35 = DarkenColor(c, 35), D90 = DarkenColor(c, 90);
    // GDI+ draws clipped to the row, set up when a part of the row needs it.
    auto gdi = [&, clipped = false]() mutable -> Gdiplus::Graphics& {
        if (!clipped) {
            Graphics->SetClip(Gdiplus::Rect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top),
                              Gdiplus::CombineModeReplace);
            clipped = g_gdiplusDrew = true;
        }
        return *Graphics;
    };

    Canvas cv;
    {
        DIBSECTION ds{};
        if (!bmp || !GetObjectW(bmp.get(), sizeof(ds), &ds) || !ds.dsBm.bmBits) return;
        cv.bits = static_cast<DWORD*>(ds.dsBm.bmBits);
        cv.w = ds.dsBm.bmWidth, cv.h = sz.cy;
        cv.clip = RECT{std::max(L, 0), std::max(Tp, 0), std::min<int>(R, sz.cx), std::min<int>(B, sz.cy)};
    }
    if (cv.clip.left >= cv.clip.right || cv.clip.top >= cv.clip.bottom) return;

    // 1.-6. The row's ground and rules, and the lit body of the selected row, the same for every
    // row of its kind: made once, copied.
    BYTE A = child->FGroupTitle ? 246 : T;
    bool noNeighbour = L == Last.left || (R + 5 > Last.left && B > Last.bottom);
    bool endsColumn = Row == RowsTotal - 1 || RowBounds(Row + 1).top < Tp;
    bool startsColumn = Row == 0 || RowBounds(Row - 1).top > Tp;
    bool isSelected = Row == Selected;
    const std::vector<DWORD>& ground =
        RowGround(R - L, H, c, A, noNeighbour, endsColumn, startsColumn, isSelected, FGradientSelected);
    for (int y = cv.clip.top; y < cv.clip.bottom; ++y)
        std::copy_n(ground.data() + static_cast<size_t>(y - Tp) * (R - L) + (cv.clip.left - L),
                    cv.clip.right - cv.clip.left, cv.bits + static_cast<size_t>(y) * cv.w + cv.clip.left);

    // 7. Icon, turning on the selected row.
    // The picture made from an icon is kept with the window's rows.
    TIconPicture* pic = nullptr;
    // A shell entry's icon not looked up yet shows when it is known (the row is painted again).
    int index = child->FIconInGlobList ? ShellIconIndexForRow(child, Row) : -1;
    if (index >= 0) {
        pic = &FSysIconPictures[index];
        if (!pic->Picture) {
            gui::IconHandle icon(ImageList_GetIcon(SysSmallImageList(), index, ILD_NORMAL));
            pic->Picture = IconPicture(icon.get());
            pic->Pixels = PicturePixels(pic->Picture.get());
        }
    } else if (!child->FIconInGlobList && child->FIcon) {
        pic = &FIconPictures[child->FIcon];
        if (!pic->Picture) {
            pic->Picture = IconPicture(child->FIcon);
            pic->Pixels = PicturePixels(pic->Picture.get());
        }
    }
    if (pic) {
        if (pic->Pixels.empty()) DrawTurned(gdi(), pic->Picture.get(), L, IT, isSelected, FRotateDegree);
        else if (!isSelected) BlitPixels(cv, pic->Pixels, 16, 16, L + 6, IT + 3);
        else BlitPixels(cv, TurnedPixels(*pic, FRotateDegree), 20, 16, L + 4, IT + 3);
    }

    // 8. Check mark from its file, looked at each paint (the picture is made again when the file
    // changes); it turns only in the first column.
    if (child->FChecked) {
        std::wstring file = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\checkmark.ico";
        POINT probe{1, IT};
        bool turning = isSelected && PtInRect(&rc, probe);
        if (turning) {
            gui::IconHandle mark(
                static_cast<HICON>(LoadImageW(nullptr, file.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE)));
            if (mark) DrawTurned(gdi(), IconPicture(mark.get()).get(), L, IT, true, FRotateDegree);
        } else {
            BlitPixels(cv, CheckMarkPixels(file), 16, 16, L + 6, IT + 3);
        }
    }

    // 9. Drop mark.
    if (FDragPosition.Row >= 0.0f && static_cast<int>(std::trunc(FDragPosition.Row)) == Row) {
        float width = static_cast<float>(sz.cx);
        auto grad = HGradient(0, Gdiplus::Color(255, 0, 0, 0), width, Gdiplus::Color(0, 0, 0, 0));
        Pen p(grad.get(), 2.0f);
        float frac = FDragPosition.Row - std::trunc(FDragPosition.Row);
        if (frac > 0.5f) {
            gdi().DrawLine(&p, L, B, R, B);
            gdi().DrawLine(&p, L + 1, B, L + 1, B - 4);
        } else {
            gdi().DrawLine(&p, L, Tp, R, Tp);
            gdi().DrawLine(&p, L + 1, Tp, L + 1, Tp + 4);
        }
    }

    // 10. Splitter.
    if (child->FHasSplitter) FillFade(cv, L, Tp, R, Tp + 1, D35, 255, L + 27, 0, R, true);

    // 11. Edit box or caption.
    if (child->FEdited && data->Edit && data->Edit->Handle()) {
        HWND eh = data->Edit->Handle();
        RECT er{};
        GetClientRect(eh, &er);
        int w = er.right, h = er.bottom;
        BITMAPINFO bi = TopDown32(w, h);
        void* bits = nullptr;
        gui::BitmapHandle shot(w > 0 && h > 0 ? CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0)
                                              : nullptr);
        if (shot) {
            gui::MemoryDCHandle mem(CreateCompatibleDC(nullptr));
            gui::SelectScope shotIn(mem.get(), shot.get());
            SendMessageW(eh, WM_PRINT, reinterpret_cast<WPARAM>(mem.get()),
                         PRF_CLIENT | PRF_NONCLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
            if ((Config.KeyBoardMode || isSelected) && FRotateDegree % 180 > 90) {
                int x = CaretX(mem.get(), eh);
                gui::PenHandle caret(CreatePen(PS_SOLID, 2, 0x808080));
                gui::SelectScope penIn(mem.get(), caret.get());
                MoveToEx(mem.get(), x, 2, nullptr);
                LineTo(mem.get(), x, h - 3);
            }
            GdiFlush();
            Gdiplus::Bitmap faded(w, h, PixelFormat32bppARGB);
            Gdiplus::BitmapData bd{};
            Gdiplus::Rect r(0, 0, w, h);
            if (faded.LockBits(&r, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &bd) == Gdiplus::Ok) {
                for (int y = 0; y < h; ++y) {
                    auto* src = static_cast<const DWORD*>(bits) + static_cast<size_t>(y) * w;
                    auto* dst = reinterpret_cast<DWORD*>(static_cast<BYTE*>(bd.Scan0) + y * bd.Stride);
                    for (int x = 0; x < w; ++x) {
                        DWORD a = static_cast<DWORD>(T - T * x / w);
                        dst[x] = (a << 24) | (src[x] & 0xFFFFFF);
                    }
                }
                faded.UnlockBits(&bd);
            }
            gdi().DrawImage(&faded, L + 28, IT + 1, w, h);
        }
    } else {
        std::wstring text = data->Text;
        if (child->FGroupTitle) text = L"   * " + text + L" *";
        const CaptionMask& m =
            CaptionFor(text, Font.get(), Graphics->GetTextRenderingHint(), R - L, H, 29, IT + 2 - Tp);
        int x0 = std::max<int>(cv.clip.left, L + m.ink.left), x1 = std::min<int>(cv.clip.right, L + m.ink.right);
        int y0 = std::max<int>(cv.clip.top, Tp + m.ink.top), y1 = std::min<int>(cv.clip.bottom, Tp + m.ink.bottom);
        for (int y = y0; y < y1; ++y) {
            const BYTE* cover = m.cover.data() + static_cast<size_t>(y - Tp) * m.w;
            DWORD* line = cv.bits + static_cast<size_t>(y) * cv.w;
            for (int x = x0; x < x1; ++x)
                if (BYTE a = cover[x - L]) Over(line[x], a, D90);
        }
    }

    // 12. Submenu mark.
    if (child->FItems) BlitPixels(cv, SubmenuMark(D20), 24, 20, R - 24, Tp);
}
