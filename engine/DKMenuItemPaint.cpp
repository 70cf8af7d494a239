// Painting of a menu window into its off-screen picture and hand-over to the layered window.
#include <cmath>
#include <memory>

#include "Configs.h"
#include "DKUtils.h"
#include "MenuForm.h"
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
    BITMAP bm{};
    HBITMAP src = ii.hbmColor ? ii.hbmColor : ii.hbmMask;
    GetObjectW(src, sizeof(bm), &bm);
    int w = bm.bmWidth, h = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    std::unique_ptr<Gdiplus::Bitmap> out;
    if (w > 0 && h > 0 && ii.hbmColor) {
        std::vector<DWORD> color(static_cast<size_t>(w) * h), mask(static_cast<size_t>(w) * h);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        HDC dc = GetDC(nullptr);
        GetDIBits(dc, ii.hbmColor, 0, h, color.data(), &bi, DIB_RGB_COLORS);
        GetDIBits(dc, ii.hbmMask, 0, h, mask.data(), &bi, DIB_RGB_COLORS);
        ReleaseDC(nullptr, dc);
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
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    return out;
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

}  // namespace

DWORD TDKMenuItem::PicturePixel(int x, int y) const {
    if (!bmp || x < 0 || y < 0 || x >= sz.cx || y >= sz.cy) return 0;
    DIBSECTION ds{};
    if (!GetObjectW(bmp, sizeof(ds), &ds) || !ds.dsBm.bmBits) return 0;
    GdiFlush();
    DWORD p = static_cast<const DWORD*>(ds.dsBm.bmBits)[static_cast<size_t>(y) * sz.cx + x];
    DWORD a = p >> 24;
    if (a == 0) return 0;
    auto un = [a](DWORD c) { return std::min<DWORD>(255, (c * 255 + a / 2) / a); };
    return (a << 24) | (un((p >> 16) & 255) << 16) | (un((p >> 8) & 255) << 8) | un(p & 255);
}

void TDKMenuItem::UpdateWindow(int ItemInd, bool RedrawIcon) {
    (void)RedrawIcon;
    if (!FForm || !FForm->Handle() || !IsWindowVisible(FForm->Handle()) || !BackGround || !Graphics) return;
    int rows = RowCount();
    if (rows <= 0) return;
    try {
        if (FPopupMenu) FColor = Config.ActiveScheme().MenuColors.at(FPopupMenu->FMenuID);
    } catch (const std::exception& e) {
        Log(4, L"(c9) /" + std::to_wstring(MenuIdForLog()) + L"/ " + What(e));
    }
    RECT last = RowBounds(rows - 1);
    int selected = SelectedRow();
    if (ItemInd < 0) {
        for (int r = 0; r < rows; ++r) PaintRow(r, last, rows, selected);
    } else if (ItemInd < rows) {
        PaintRow(ItemInd, last, rows, selected);
    }
    Graphics->ResetClip();
    Graphics->Flush(Gdiplus::FlushIntentionSync);
    // The whole picture is handed over; after a one-row paint only that row is new, which the
    // dirty rectangle tells the system so it need not copy the rest again.
    UPDATELAYEREDWINDOWINFO info{};
    info.cbSize = sizeof(info);
    info.pptDst = &pt1;
    info.psize = &sz;
    info.hdcSrc = DC;
    info.pptSrc = &pt2;
    info.pblend = &bf;
    info.dwFlags = ULW_ALPHA;
    RECT dirty{};
    if (ItemInd >= 0 && ItemInd < rows) {
        dirty = RowBounds(ItemInd);
        info.prcDirty = &dirty;
    }
    if (!UpdateLayeredWindowIndirect(FForm->Handle(), &info))
        UpdateLayeredWindow(FForm->Handle(), nullptr, &pt1, &sz, DC, &pt2, 0, &bf, ULW_ALPHA);
}

void TDKMenuItem::PaintRow(int Row, const RECT& Last, int RowsTotal, int Selected) {
    Gdiplus::Graphics& g = *Graphics;
    TMenuRowData* data = RowData(Row);
    if (!data || !FItems || data->ItemIndex < 0 || data->ItemIndex >= Count()) return;
    TDKMenuItem* child = (*FItems)[data->ItemIndex];
    BYTE T = Config.ActiveScheme().Transparency;
    RECT rc = RowBounds(Row);
    const int L = rc.left, Tp = rc.top, R = rc.right, B = rc.bottom, H = B - Tp;
    const int IT = RowIconRect(Row).top;
    const COLORREF c = FColor;
    const COLORREF D10 = DarkenColor(c, 10), D20 = DarkenColor(c, 20), D30 = DarkenColor(c, 30),
                   D35 = DarkenColor(c, 35), D70 = DarkenColor(c, 70), D90 = DarkenColor(c, 90);

    // 1. Start from transparent.
    g.SetClip(Gdiplus::Rect(L, Tp, R - L, H), Gdiplus::CombineModeReplace);
    g.Clear(Gdiplus::Color(0));

    // 2. Background; rows with nothing to their right fade out.
    BYTE A = child->FGroupTitle ? 246 : T;
    bool noNeighbour = L == Last.left || (R + 5 > Last.left && B > Last.bottom);
    Gdiplus::SolidBrush solid(ARGB(A, c));
    if (noNeighbour) {
        g.FillRectangle(&solid, L, Tp, R - L - 70, H);
        auto fade = HGradient(static_cast<float>(R - 70), ARGB(A, c), static_cast<float>(R), ARGB(0, c));
        g.FillRectangle(fade.get(), R - 70, Tp, 70, H);
    } else {
        g.FillRectangle(&solid, L, Tp, R - L, H);
    }

    // 3. Column rules: left edge and the edge of the icon strip.
    Pen rule(ARGB(255, D35), 2.0f);
    g.DrawLine(&rule, L + 1, Tp, L + 1, B);
    g.DrawLine(&rule, L + 27, Tp, L + 27, B);

    // 4. Bottom rule.
    bool endsColumn = Row == RowsTotal - 1 || RowBounds(Row + 1).top < Tp;
    {
        COLORREF rc2 = endsColumn ? D35 : D10;
        int x0 = endsColumn ? L : L + 28;
        auto grad = HGradient(static_cast<float>(x0), ARGB(255, rc2), static_cast<float>(R), ARGB(0, rc2));
        Pen p(grad.get(), endsColumn ? 2.0f : 1.0f);
        g.DrawLine(&p, x0, B - 1, R, B - 1);
    }

    // 5. Top rule of a column's first row.
    if (Row == 0 || RowBounds(Row - 1).top > Tp) {
        auto grad = HGradient(static_cast<float>(L), ARGB(255, D35), static_cast<float>(R), ARGB(0, D35));
        Pen p(grad.get(), 2.0f);
        g.DrawLine(&p, L, Tp + 1, R, Tp + 1);
    }

    // 6. Selected row.
    bool isSelected = Row == Selected;
    if (isSelected) {
        COLORREF S = FGradientSelected ? D30 : c;
        {
            Gdiplus::LinearGradientBrush vg(PointF(0, static_cast<float>(Tp - 1)), PointF(0, static_cast<float>(B)),
                                            ARGB(255, c), ARGB(255, S));
            vg.SetWrapMode(Gdiplus::WrapModeTile);
            g.FillRectangle(&vg, L, Tp, R - 70 - L, H);
            for (int k = 0; k < 70; ++k) {
                BYTE a = static_cast<BYTE>(std::nearbyint(255.0 - 255.0 * k / 70.0));
                vg.SetLinearColors(ARGB(a, c), ARGB(a, S));
                g.FillRectangle(&vg, R - 70 + k, Tp, 1, H);
            }
        }
        Pen strip(ARGB(255, D35), 2.0f);
        g.DrawLine(&strip, L + 27, Tp + 1, L + 27, B - 1);
        auto grad = HGradient(static_cast<float>(L - 1), ARGB(255, D70), static_cast<float>(R), ARGB(0, D70));
        Pen outline(grad.get(), 1.0f);
        g.DrawRectangle(&outline, L, Tp, R - L - 1, H - 1);
    }

    // 7. Icon, turning on the selected row.
    // The picture made from an icon is kept with the window's rows.
    if (child->FIconInGlobList) {
        int index = static_cast<int>(reinterpret_cast<INT_PTR>(child->FIcon));
        auto& pic = FSysIconPictures[index];
        if (!pic) {
            HICON icon = ImageList_GetIcon(SysSmallImageList, index, ILD_NORMAL);
            pic = IconPicture(icon);
            if (icon) DestroyIcon(icon);
        }
        DrawTurned(g, pic.get(), L, IT, isSelected, FRotateDegree);
    } else if (child->FIcon) {
        auto& pic = FIconPictures[child->FIcon];
        if (!pic) pic = IconPicture(child->FIcon);
        DrawTurned(g, pic.get(), L, IT, isSelected, FRotateDegree);
    }

    // 8. Check mark, read from its file at each paint; it turns only in the first column.
    if (child->FChecked) {
        std::wstring file = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\checkmark.ico";
        HICON mark = static_cast<HICON>(LoadImageW(nullptr, file.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
        if (mark) {
            auto pic = IconPicture(mark);
            DestroyIcon(mark);
            POINT probe{1, IT};
            bool turning = isSelected && PtInRect(&rc, probe);
            DrawTurned(g, pic.get(), L, IT, turning, FRotateDegree);
        }
    }

    // 9. Drop mark.
    if (FDragPosition.Row >= 0.0f && static_cast<int>(std::trunc(FDragPosition.Row)) == Row) {
        auto grad = HGradient(0, Gdiplus::Color(255, 0, 0, 0), static_cast<float>(sz.cx), Gdiplus::Color(0, 0, 0, 0));
        Pen p(grad.get(), 2.0f);
        float frac = FDragPosition.Row - std::trunc(FDragPosition.Row);
        if (frac > 0.5f) {
            g.DrawLine(&p, L, B, R, B);
            g.DrawLine(&p, L + 1, B, L + 1, B - 4);
        } else {
            g.DrawLine(&p, L, Tp, R, Tp);
            g.DrawLine(&p, L + 1, Tp, L + 1, Tp + 4);
        }
    }

    // 10. Splitter.
    if (child->FHasSplitter) {
        auto grad = HGradient(static_cast<float>(L + 27), ARGB(255, D35), static_cast<float>(R), ARGB(0, D35));
        Pen p(grad.get(), 2.0f);
        g.DrawLine(&p, L, Tp, R, Tp);
    }

    // 11. Edit box or caption.
    if (child->FEdited && data->Edit && data->Edit->Handle) {
        HWND eh = data->Edit->Handle;
        RECT er{};
        GetClientRect(eh, &er);
        int w = er.right, h = er.bottom;
        if (w > 0 && h > 0) {
            BITMAPINFO bi{};
            bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
            bi.bmiHeader.biWidth = w;
            bi.bmiHeader.biHeight = -h;
            bi.bmiHeader.biPlanes = 1;
            bi.bmiHeader.biBitCount = 32;
            bi.bmiHeader.biCompression = BI_RGB;
            void* bits = nullptr;
            HBITMAP shot = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
            HDC mem = CreateCompatibleDC(nullptr);
            HGDIOBJ oldBmp = SelectObject(mem, shot);
            SendMessageW(eh, WM_PRINT, reinterpret_cast<WPARAM>(mem),
                         PRF_CLIENT | PRF_NONCLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
            if ((Config.KeyBoardMode || isSelected) && FRotateDegree % 180 > 90) {
                HGDIOBJ oldFont = SelectObject(mem, reinterpret_cast<HFONT>(SendMessageW(eh, WM_GETFONT, 0, 0)));
                int len = GetWindowTextLengthW(eh);
                std::wstring text(static_cast<size_t>(len) + 1, L'\0');
                GetWindowTextW(eh, text.data(), len + 1);
                DWORD selStart = 0;
                SendMessageW(eh, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), 0);
                SIZE ext{};
                GetTextExtentPoint32W(mem, text.c_str(), static_cast<int>(std::min<DWORD>(selStart, len)), &ext);
                int x = ext.cx + 2;
                HPEN caret = CreatePen(PS_SOLID, 2, 0x808080);
                HGDIOBJ oldPen = SelectObject(mem, caret);
                MoveToEx(mem, x, 2, nullptr);
                LineTo(mem, x, h - 3);
                SelectObject(mem, oldPen);
                DeleteObject(caret);
                SelectObject(mem, oldFont);
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
            SelectObject(mem, oldBmp);
            DeleteDC(mem);
            DeleteObject(shot);
            g.DrawImage(&faded, L + 28, IT + 1, w, h);
        }
    } else {
        brush->SetColor(ARGB(255, D90));
        std::wstring text = RowText(Row);
        if (child->FGroupTitle) text = L"   * " + text + L" *";
        g.DrawString(text.c_str(), static_cast<INT>(text.size()), Font.get(),
                     PointF(static_cast<float>(L + 29), static_cast<float>(IT + 2)), brush.get());
    }

    // 12. Submenu mark.
    if (child->FItems) {
        Pen p(ARGB(0x60, D20), 2.0f);
        g.DrawLine(&p, R - 20, Tp + 6, R - 16, Tp + 10);
        g.DrawLine(&p, R - 20, Tp + 14, R - 16, Tp + 10);
        g.DrawLine(&p, R - 20, Tp + 6, R - 20, Tp + 14);
    }
}
