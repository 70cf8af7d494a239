#include "util/IconsToFile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

struct Rgb {
    BYTE r, g, b;
};

// The twenty static colours of the system palette: ten at the start, ten at the end.
constexpr Rgb kStaticLow[10] = {{0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                {0, 0, 128},   {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                {192, 220, 192}, {166, 202, 240}};
constexpr Rgb kStaticHigh[10] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                 {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                 {0, 255, 255},   {255, 255, 255}};

std::array<RGBQUAD, 256> BuildPalette() {
    std::array<RGBQUAD, 256> p{};
    auto put = [&](int i, int r, int g, int b) {
        p[static_cast<size_t>(i)] = RGBQUAD{static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r), 0};
    };
    for (int i = 0; i < 10; ++i) put(i, kStaticLow[i].r, kStaticLow[i].g, kStaticLow[i].b);
    for (int i = 0; i < 10; ++i) put(246 + i, kStaticHigh[i].r, kStaticHigh[i].g, kStaticHigh[i].b);
    // Fourteen hue ramps of sixteen shades, light to dark, then twelve greys down to 14.
    static const Rgb hues[14] = {{255, 0, 0},   {255, 128, 0}, {255, 255, 0}, {128, 255, 0}, {0, 255, 0},
                                 {0, 255, 128}, {0, 255, 255}, {0, 128, 255}, {0, 0, 255},   {128, 0, 255},
                                 {255, 0, 255}, {255, 0, 128}, {160, 96, 64}, {96, 128, 160}};
    int i = 10;
    for (const Rgb& h : hues) {
        for (int s = 0; s < 16; ++s) {
            // First half: from a pale tint to the pure hue; second half: the hue darkening.
            auto shade = [s](int c) {
                if (s < 8) return 255 - (255 - c) * (s + 1) / 8;
                return c * (16 - s + 1) / 9;
            };
            put(i++, shade(h.r), shade(h.g), shade(h.b));
        }
    }
    for (int g = 234; g >= 14; g -= 20) put(i++, g, g, g);
    return p;
}

constexpr RGBQUAD kMonoPalette[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};

void Put16(BYTE* p, WORD v) { std::memcpy(p, &v, 2); }
void Put32(BYTE* p, DWORD v) { std::memcpy(p, &v, 4); }

// Colour bitmap of an icon, made from the mask when the icon has none; false when neither exists.
bool EnsureColourBitmap(ICONINFO& info) {
    if (reinterpret_cast<UINT_PTR>(info.hbmColor) <= 32) {
        info.hbmColor = nullptr;
        if (reinterpret_cast<UINT_PTR>(info.hbmMask) > 32) info.hbmColor = SplitMonoMask(info.hbmMask);
    }
    return info.hbmColor != nullptr;
}

}  // namespace

const RGBQUAD* FixedPalette256() {
    static const std::array<RGBQUAD, 256> palette = BuildPalette();
    return palette.data();
}

int InitBitmapInfoHeader(BITMAPINFOHEADER& Header, int Width, int Height, BYTE Depth) {
    std::memset(&Header, 0, sizeof(Header));
    Header.biSize = sizeof(BITMAPINFOHEADER);
    Header.biWidth = Width;
    Header.biHeight = Height;
    Header.biPlanes = 1;
    switch (Depth) {
    case 0: Header.biBitCount = 1; Header.biClrUsed = 2; break;
    case 1: Header.biBitCount = 4; Header.biClrUsed = 16; break;
    case 2: Header.biBitCount = 8; Header.biClrUsed = 256; break;
    case 4: Header.biBitCount = 32; break;
    default: Header.biBitCount = 24; break;
    }
    Header.biCompression = BI_RGB;
    Header.biClrImportant = Header.biClrUsed;
    DWORD stride = ((static_cast<DWORD>(Width) * Header.biBitCount + 31) & ~31u) / 8;
    Header.biSizeImage = stride * static_cast<DWORD>(Height < 0 ? -Height : Height);
    return Header.biBitCount <= 8 ? 40 + 4 * static_cast<int>(Header.biClrUsed) : 40;
}

int GetBitmapBits(HBITMAP Bitmap, TBitmapBits& Out, BYTE Depth) {
    BITMAP bm{};
    if (!GetObjectW(Bitmap, sizeof(bm), &bm)) return 0;
    BITMAPINFOHEADER h;
    int size = InitBitmapInfoHeader(h, bm.bmWidth, bm.bmHeight, Depth);
    Out.HeaderBlock.assign(static_cast<size_t>(size), 0);
    std::memcpy(Out.HeaderBlock.data(), &h, sizeof(h));
    auto* bi = reinterpret_cast<BITMAPINFO*>(Out.HeaderBlock.data());
    gui::MemoryDCHandle dc(CreateCompatibleDC(nullptr));
    if (!dc) return 0;
    if (Depth == 2) {
        std::memcpy(Out.HeaderBlock.data() + 40, FixedPalette256(), 256 * sizeof(RGBQUAD));
        void* bits = nullptr;
        Out.Section.reset(CreateDIBSection(dc.get(), bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!Out.Section) return 0;
        Out.Bits = static_cast<BYTE*>(bits);
        gui::MemoryDCHandle src(CreateCompatibleDC(nullptr));
        HGDIOBJ oldDst = SelectObject(dc.get(), Out.Section.get());
        HGDIOBJ oldSrc = SelectObject(src.get(), Bitmap);
        GdiFlush();
        BOOL ok = BitBlt(dc.get(), 0, 0, bm.bmWidth, bm.bmHeight, src.get(), 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(src.get(), oldSrc);
        SelectObject(dc.get(), oldDst);
        if (!ok) return 0;
    } else {
        Out.Owned.assign(h.biSizeImage, 0);
        Out.Bits = Out.Owned.data();
        if (GetDIBits(dc.get(), Bitmap, 0, static_cast<UINT>(bm.bmHeight), Out.Bits, bi, DIB_RGB_COLORS) == 0)
            return 0;
        // GetDIBits may rewrite the header; keep the layout we asked for.
        Out.Header()->biSizeImage = h.biSizeImage;
        Out.Header()->biClrUsed = h.biClrUsed;
        Out.Header()->biClrImportant = h.biClrImportant;
    }
    return size;
}

HBITMAP SplitMonoMask(HBITMAP& Mask) {
    BITMAP bm{};
    if (!GetObjectW(Mask, sizeof(bm), &bm)) return nullptr;
    int half = bm.bmHeight / 2;
    BYTE block[sizeof(BITMAPINFOHEADER) + sizeof(kMonoPalette)];
    auto* bi = reinterpret_cast<BITMAPINFO*>(block);
    InitBitmapInfoHeader(bi->bmiHeader, bm.bmWidth, half, 0);
    std::memcpy(bi->bmiColors, kMonoPalette, sizeof(kMonoPalette));
    gui::MemoryDCHandle dst(CreateCompatibleDC(nullptr)), src(CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    gui::BitmapHandle xorImage(CreateDIBSection(dst.get(), bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    gui::BitmapHandle andMask(CreateDIBSection(dst.get(), bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!xorImage || !andMask) return nullptr;
    HGDIOBJ oldSrc = SelectObject(src.get(), Mask);
    HGDIOBJ oldDst = SelectObject(dst.get(), andMask.get());
    BitBlt(dst.get(), 0, 0, bm.bmWidth, half, src.get(), 0, 0, SRCCOPY);
    SelectObject(dst.get(), xorImage.get());
    BitBlt(dst.get(), 0, 0, bm.bmWidth, half, src.get(), 0, half, SRCCOPY);
    GdiFlush();
    SelectObject(dst.get(), oldDst);
    SelectObject(src.get(), oldSrc);
    gui::BitmapHandle consumed(Mask);  // the caller's mask is replaced by the new one
    Mask = andMask.release();
    return xorImage.release();
}

int WriteIconFile(const std::wstring& FileName, BYTE* HeaderBlock, const BYTE* ColourBits,
                  const BYTE* MaskBits, int HeaderSize, int MaskSize) {
    if (!HeaderBlock || !ColourBits || !MaskBits) return -5;
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(HeaderBlock);
    BYTE dir[6] = {};
    Put16(dir + 2, 1);
    Put16(dir + 4, 1);
    BYTE entry[16] = {};
    entry[0] = static_cast<BYTE>(h->biWidth & 0xFF);
    entry[1] = static_cast<BYTE>(h->biHeight & 0xFF);
    entry[2] = h->biBitCount == 1 ? 2 : h->biBitCount == 4 ? 16 : 0;
    Put16(entry + 4, 1);
    Put16(entry + 6, h->biBitCount);
    Put32(entry + 8, static_cast<DWORD>(HeaderSize) + h->biSizeImage + static_cast<DWORD>(MaskSize));
    Put32(entry + 12, 22);
    h->biHeight *= 2;

    gui::KernelHandle f(CreateFileW(FileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!f) return -6;
    struct Piece {
        const void* data;
        DWORD size;
    } pieces[] = {{dir, 6}, {entry, 16}, {HeaderBlock, static_cast<DWORD>(HeaderSize)},
                  {ColourBits, h->biSizeImage}, {MaskBits, static_cast<DWORD>(MaskSize)}};
    int result = 0;
    for (const Piece& p : pieces) {
        DWORD put = 0;
        if (!WriteFile(f.get(), p.data, p.size, &put, nullptr) || put != p.size) {
            result = -7;
            break;
        }
        result += static_cast<int>(put);
    }
    f.reset();
    if (result == -7) DeleteFileW(FileName.c_str());
    return result;
}

int SaveIconToFile(const std::wstring& FileName, HICON Icon, BYTE Depth) {
    if (FileName.size() < 4) return -1;
    gui::IconBitmaps bitmaps(Icon);
    if (!bitmaps.ok) return -2;
    ICONINFO& info = bitmaps.info;
    int result;
    if (!EnsureColourBitmap(info)) {
        result = -3;
    } else {
        TBitmapBits colour, mask;
        int headerSize = GetBitmapBits(info.hbmColor, colour, Depth);
        int maskHeader = GetBitmapBits(info.hbmMask, mask, 0);
        if (!headerSize || !maskHeader)
            result = -4;
        else
            result = WriteIconFile(FileName, colour.HeaderBlock.data(), colour.Bits, mask.Bits, headerSize,
                                   static_cast<int>(mask.Header()->biSizeImage));
    }
    return result;
}

HICON CopyIconToDepth(HICON Icon, BYTE /*Depth*/) {
    gui::IconBitmaps bitmaps(Icon);
    if (!bitmaps.ok) return nullptr;
    bitmaps.info.fIcon = TRUE;
    return EnsureColourBitmap(bitmaps.info) ? CreateIconIndirect(&bitmaps.info) : nullptr;
}
