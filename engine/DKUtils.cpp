#include "DKUtils.h"

#include <atomic>
#include <mutex>

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

namespace {

std::mutex gShellLock;
std::atomic<HIMAGELIST> gSmallImages{nullptr};
std::atomic<IShellFolder*> gDesktop{nullptr};

}  // namespace

HIMAGELIST SysSmallImageList() {
    if (HIMAGELIST list = gSmallImages.load(std::memory_order_acquire)) return list;
    std::lock_guard lock(gShellLock);
    if (!gSmallImages.load(std::memory_order_relaxed)) {
        SHFILEINFOW info{};
        gSmallImages.store(reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info),
                                                                        SHGFI_SYSICONINDEX | SHGFI_SMALLICON)),
                           std::memory_order_release);
    }
    return gSmallImages.load(std::memory_order_relaxed);
}

IShellFolder* DesktopFolder() {
    if (IShellFolder* folder = gDesktop.load(std::memory_order_acquire)) return folder;
    std::lock_guard lock(gShellLock);
    if (!gDesktop.load(std::memory_order_relaxed)) {
        IShellFolder* folder = nullptr;
        if (SUCCEEDED(SHGetDesktopFolder(&folder))) gDesktop.store(folder, std::memory_order_release);
    }
    return gDesktop.load(std::memory_order_relaxed);
}

void InitializeDKUtils() {
    // Nothing to make here: the shell state comes on first use.
}

void FinalizeDKUtils() {
    std::lock_guard lock(gShellLock);
    if (IShellFolder* folder = gDesktop.exchange(nullptr)) folder->Release();
    if (HIMAGELIST list = gSmallImages.exchange(nullptr)) ImageList_Destroy(list);
}
