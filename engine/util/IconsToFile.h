#pragma once
// Icon handles written as one-image .ico files at a chosen colour depth, and icon copies.
// Depth index: 0 = 1 bit per pixel, 1 = 4, 2 = 8 (fixed palette), 4 = 32, any other = 24.
#include <windows.h>

#include <string>
#include <vector>

#include "Handles.h"

// Bytes written, or -1 name shorter than 4 characters, -2 no icon bitmaps, -3 no colour
// bitmap and no mask, -4 pixels unreadable, -5 a buffer missing, -6 file not created,
// -7 a write failed (the partial file is deleted).
int SaveIconToFile(const std::wstring& FileName, HICON Icon, BYTE Depth);
// An independent icon with the same pixels (the depth does not change it), or 0.
HICON CopyIconToDepth(HICON Icon, BYTE Depth);

// Fills the 40-byte header; returns header plus palette size.
int InitBitmapInfoHeader(BITMAPINFOHEADER& Header, int Width, int Height, BYTE Depth);

// Pixels of a bitmap in the layout of a depth index.
struct TBitmapBits {
    std::vector<BYTE> HeaderBlock;  // header and palette
    std::vector<BYTE> Owned;        // the pixels, unless they live in Section
    BYTE* Bits = nullptr;
    gui::BitmapHandle Section;      // depth index 2 only
    BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(HeaderBlock.data()); }
};
// Header plus palette size, 0 on failure.
int GetBitmapBits(HBITMAP Bitmap, TBitmapBits& Out, BYTE Depth);
// For mask-only icons (upper half AND mask, lower half XOR image): Mask becomes the new AND
// mask, the result is the XOR image; 0 on failure.
HBITMAP SplitMonoMask(HBITMAP& Mask);
int WriteIconFile(const std::wstring& FileName, BYTE* HeaderBlock, const BYTE* ColourBits,
                  const BYTE* MaskBits, int HeaderSize, int MaskSize);

// The fixed 256-colour palette of depth index 2 (blue, green, red, 0 per entry).
const RGBQUAD* FixedPalette256();
