#pragma once
// Icons of opaque 32-bit pixels made in memory, for tests and their helper programs.
#include <windows.h>

#include <functional>

namespace testing_support {

// A size x size icon whose pixel (x, y) is pixel(x, y) as 0xAARRGGBB; null when it cannot be made.
inline HICON MakeIcon32(int size, const std::function<DWORD(int x, int y)>& pixel) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB};
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!colour) return nullptr;
    auto* px = static_cast<DWORD*>(bits);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) px[y * size + x] = pixel(x, y);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO ii{TRUE, 0, 0, mask, colour};
    HICON icon = CreateIconIndirect(&ii);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
}

// A one-colour icon.
inline HICON SolidIcon32(int size, DWORD argb) {
    return MakeIcon32(size, [argb](int, int) { return argb; });
}

}  // namespace testing_support
