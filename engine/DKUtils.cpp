#include "DKUtils.h"

HIMAGELIST SysSmallImageList = nullptr;
IShellFolder* DesktopFolder = nullptr;

static COLORREF ResolveColor(COLORREF c) {
    // A system-colour reference carries 0x80 in its top byte and the colour index below.
    if ((c & 0xFF000000u) == 0x80000000u) return GetSysColor(static_cast<int>(c & 0xFF));
    return c & 0x00FFFFFFu;
}

COLORREF DarkenColor(COLORREF Color, BYTE Percent) {
    COLORREF c = ResolveColor(Color);
    int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    r -= MulDiv(r, Percent, 100);
    g -= MulDiv(g, Percent, 100);
    b -= MulDiv(b, Percent, 100);
    return RGB(r, g, b);
}

COLORREF LightenColor(COLORREF Color, BYTE Percent) {
    COLORREF c = ResolveColor(Color);
    int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    r += MulDiv(255 - r, Percent, 100);
    g += MulDiv(255 - g, Percent, 100);
    b += MulDiv(255 - b, Percent, 100);
    return RGB(r, g, b);
}

void InitializeDKUtils() {
    SHFILEINFOW info{};
    SysSmallImageList = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (FAILED(SHGetDesktopFolder(&DesktopFolder))) DesktopFolder = nullptr;
}

void FinalizeDKUtils() {
    if (DesktopFolder) DesktopFolder->Release();
    DesktopFolder = nullptr;
    if (SysSmallImageList) ImageList_Destroy(SysSmallImageList);
    SysSmallImageList = nullptr;
}
