#include "util/DKUtils.h"

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

BITMAPINFO TopDown32(int w, int h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

namespace {

std::mutex gShellLock;
std::atomic<HIMAGELIST> gSmallImages{nullptr};
std::atomic<IShellFolder*> gDesktop{nullptr};

// The object in slot, made by make on the first call that finds none.
template <class T, class Make>
T MadeOnce(std::atomic<T>& slot, Make make) {
    if (T made = slot.load(std::memory_order_acquire)) return made;
    std::lock_guard lock(gShellLock);
    if (!slot.load(std::memory_order_relaxed)) slot.store(make(), std::memory_order_release);
    return slot.load(std::memory_order_relaxed);
}

}  // namespace

HIMAGELIST SysSmallImageList() {
    return MadeOnce(gSmallImages, [] {
        SHFILEINFOW info{};
        return reinterpret_cast<HIMAGELIST>(
            SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    });
}

IShellFolder* DesktopFolder() {
    return MadeOnce(gDesktop, [] {
        IShellFolder* folder = nullptr;
        return SUCCEEDED(SHGetDesktopFolder(&folder)) ? folder : nullptr;
    });
}

void InitializeDKUtils() {
    // Nothing to make here: the shell state comes on first use.
}

void FinalizeDKUtils() {
    std::lock_guard lock(gShellLock);
    if (IShellFolder* folder = gDesktop.exchange(nullptr)) folder->Release();
    // The system image list belongs to the shell: it is let go, never destroyed.
    gSmallImages.store(nullptr);
}
