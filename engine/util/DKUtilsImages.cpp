// Icon objects, PNG favicons, image-type detection and black-to-transparent icons.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstring>
#include <stdexcept>

#include "util/DKUtils.h"
#include "Handles.h"
#include "util/IconsToFile.h"

namespace {

WORD Get16(const BYTE* p) {
    WORD v;
    std::memcpy(&v, p, 2);
    return v;
}
DWORD Get32(const BYTE* p) {
    DWORD v;
    std::memcpy(&v, p, 4);
    return v;
}
void Put16(TMemoryStream& s, WORD v) {
    s.push_back(static_cast<BYTE>(v & 0xFF));
    s.push_back(static_cast<BYTE>(v >> 8));
}
void Put32(TMemoryStream& s, DWORD v) {
    Put16(s, static_cast<WORD>(v & 0xFFFF));
    Put16(s, static_cast<WORD>(v >> 16));
}

// One directory entry of an .ico file whose image lies inside the data.
struct IcoEntry {
    const BYTE* entry;  // the 16 bytes
    const BYTE* image;
    DWORD size;
    int width, height;
};

// The entries of an .ico file; those whose image runs past the data are left out.
std::vector<IcoEntry> ParseIco(const TMemoryStream& s) {
    std::vector<IcoEntry> out;
    if (s.size() < 6 || Get16(&s[0]) != 0 || Get16(&s[2]) != 1) return out;
    size_t count = Get16(&s[4]);
    for (size_t i = 0; i < count && 6 + (i + 1) * 16 <= s.size(); ++i) {
        const BYTE* e = &s[6 + i * 16];
        DWORD size = Get32(e + 8), offset = Get32(e + 12);
        if (size == 0 || offset > s.size() || size > s.size() - offset) continue;
        out.push_back({e, &s[offset], size, e[0] ? e[0] : 256, e[1] ? e[1] : 256});
    }
    return out;
}

TMemoryStream OneImageIco(const IcoEntry& e) {
    TMemoryStream s;
    Put16(s, 0);
    Put16(s, 1);
    Put16(s, 1);
    s.insert(s.end(), e.entry, e.entry + 12);
    Put32(s, 22);
    s.insert(s.end(), e.image, e.image + e.size);
    return s;
}

// A 32-bit icon from straight (not premultiplied) ARGB rows, top-down.
HICON IconFromArgb(int width, int height, const BYTE* rows, int stride) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB};
    void* bits = nullptr;
    gui::BitmapHandle colour(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!colour) return nullptr;
    for (int y = 0; y < height; ++y)
        std::memcpy(static_cast<BYTE*>(bits) + y * width * 4, rows + y * stride, static_cast<size_t>(width) * 4);
    gui::BitmapHandle mask(CreateBitmap(width, height, 1, 1, nullptr));
    ICONINFO ii{TRUE, 0, 0, mask.get(), colour.get()};
    return CreateIconIndirect(&ii);
}

}  // namespace

gui::IconHandle LoadSmallIconFile(const std::wstring& Path) {
    return gui::IconHandle(static_cast<HICON>(LoadImageW(nullptr, Path.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE)));
}

HICON TIcon::ReleaseHandle() {
    data_.clear();
    return handle_.release();
}

void TIcon::Clear() {
    handle_.reset();
    data_.clear();
}

static SIZE IconSize(HICON icon) {
    SIZE size{0, 0};
    gui::IconBitmaps bitmaps(icon);
    if (!bitmaps.ok) return size;
    const ICONINFO& ii = bitmaps.info;
    BITMAP bm{};
    GetObjectW(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof(bm), &bm);
    size.cx = bm.bmWidth;
    size.cy = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    return size;
}

int TIcon::Width() const { return IconSize(handle_.get()).cx; }
int TIcon::Height() const { return IconSize(handle_.get()).cy; }

void TIcon::LoadFromStream(const TMemoryStream& stream) {
    std::vector<IcoEntry> entries = ParseIco(stream);
    if (entries.empty()) throw std::runtime_error("Invalid icon stream");
    const IcoEntry& e = entries.front();
    HICON h = CreateIconFromResourceEx(const_cast<BYTE*>(e.image), e.size, TRUE, 0x00030000, e.width, e.height,
                                       LR_DEFAULTCOLOR);
    if (!h) throw std::runtime_error("Invalid icon stream");
    handle_.reset(h);
    data_ = stream;
}

void TIcon::SaveToStream(TMemoryStream& stream) const {
    if (!data_.empty()) {
        stream = data_;
        return;
    }
    stream.clear();
    gui::IconBitmaps bitmaps(handle_.get());
    if (!bitmaps.ok) return;
    ICONINFO& ii = bitmaps.info;
    if (!ii.hbmColor) ii.hbmColor = SplitMonoMask(ii.hbmMask);
    TBitmapBits colour, mask;
    int headerSize = ii.hbmColor ? GetBitmapBits(ii.hbmColor, colour, 4) : 0;
    int maskHeader = GetBitmapBits(ii.hbmMask, mask, 0);
    if (headerSize && maskHeader) {
        BITMAPINFOHEADER h = *colour.Header();
        DWORD colourSize = h.biSizeImage, maskSize = mask.Header()->biSizeImage;
        Put16(stream, 0);
        Put16(stream, 1);
        Put16(stream, 1);
        stream.push_back(static_cast<BYTE>(h.biWidth & 0xFF));
        stream.push_back(static_cast<BYTE>(h.biHeight & 0xFF));
        stream.push_back(0);
        stream.push_back(0);
        Put16(stream, 1);
        Put16(stream, 32);
        Put32(stream, static_cast<DWORD>(headerSize) + colourSize + maskSize);
        Put32(stream, 22);
        h.biHeight *= 2;
        const BYTE* hp = reinterpret_cast<const BYTE*>(&h);
        stream.insert(stream.end(), hp, hp + sizeof(h));
        stream.insert(stream.end(), colour.Bits, colour.Bits + colourSize);
        stream.insert(stream.end(), mask.Bits, mask.Bits + maskSize);
    }
}

BYTE DetectImageType(const TMemoryStream* Stream) {
    if (!Stream) return 0;
    // Only the first ten bytes count; bytes past a shorter stream match nothing.
    const TMemoryStream& s = *Stream;
    auto is = [&](size_t at, std::initializer_list<BYTE> bytes) {
        if (at + bytes.size() > s.size() || at + bytes.size() > 10) return false;
        size_t i = at;
        for (BYTE b : bytes)
            if (s[i++] != b) return false;
        return true;
    };
    BYTE result = 0;
    if (is(0, {0x42, 0x4D})) result = 1;
    if (is(0, {0x49, 0x49, 0x2A, 0x00}) || is(0, {0x4D, 0x4D, 0x00, 0x2A})) result = 2;
    if (is(6, {0x4A, 0x46, 0x49, 0x46})) result = 3;
    if (is(0, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A})) result = 4;
    if (is(0, {0xB1, 0x68, 0xDE, 0x3A})) result = 5;
    if (is(0, {0x0A})) result = 6;
    if (is(0, {0xD7, 0xCD, 0xC6, 0x9A})) result = 7;
    if (is(0, {0x01, 0x00, 0x00, 0x00})) result = 7;
    if (is(0, {0x47, 0x49, 0x46})) result = 8;
    return result;
}

void Pick16x16Icon(TIcon& Icon) {
    TMemoryStream data;
    Icon.SaveToStream(data);
    for (const IcoEntry& e : ParseIco(data)) {
        if (e.entry[0] != 16) continue;
        TIcon one;
        try {
            one.LoadFromStream(OneImageIco(e));
        } catch (const std::runtime_error&) {
            continue;  // an image the system cannot read is passed over
        }
        Icon = std::move(one);
    }
}

namespace {

// Decodes and converts while the stream lives (GDI+ may read it lazily).
HICON PngToIcon(IStream* stream) {
    Gdiplus::Bitmap png(stream);
    Gdiplus::Status st = png.GetLastStatus();
    if (st != Gdiplus::Ok) throw std::runtime_error("Invalid PNG image (status " + std::to_string(static_cast<int>(st)) + ")");
    // The whole picture, scaled to the 16 x 16 of a menu icon when it has another size.
    Gdiplus::Bitmap small(16, 16, PixelFormat32bppARGB);
    Gdiplus::Bitmap* source = &png;
    if (png.GetWidth() != 16 || png.GetHeight() != 16) {
        Gdiplus::Graphics g(&small);
        g.Clear(Gdiplus::Color(0, 0, 0, 0));
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        g.DrawImage(&png, Gdiplus::Rect(0, 0, 16, 16), 0, 0, static_cast<INT>(png.GetWidth()),
                    static_cast<INT>(png.GetHeight()), Gdiplus::UnitPixel);
        source = &small;
    }
    Gdiplus::Rect all(0, 0, 16, 16);
    Gdiplus::BitmapData data{};
    if (source->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Gdiplus::Ok)
        throw std::runtime_error("Invalid PNG image");
    HICON icon = IconFromArgb(16, 16, static_cast<const BYTE*>(data.Scan0), data.Stride);
    source->UnlockBits(&data);
    if (!icon) throw std::runtime_error("Out of system resources");
    return icon;
}

}  // namespace

TIcon PngStreamToIcon(const TMemoryStream& Stream) {
    if (DetectImageType(&Stream) != 4) throw std::runtime_error("Invalid PNG image (no PNG signature)");
    gui::ComPtr<IStream> stream(SHCreateMemStream(Stream.data(), static_cast<UINT>(Stream.size())));
    if (!stream) throw std::runtime_error("Out of memory");
    return TIcon(PngToIcon(stream.get()));
}

HICON BlackToTransparentIcon(HBITMAP Bitmap) {
    Gdiplus::Bitmap* bmp = Gdiplus::Bitmap::FromHBITMAP(Bitmap, nullptr);
    if (!bmp) return nullptr;
    HICON icon = nullptr;
    Gdiplus::Rect all(0, 0, static_cast<INT>(bmp->GetWidth()), static_cast<INT>(bmp->GetHeight()));
    Gdiplus::BitmapData data{};
    if (bmp->GetLastStatus() == Gdiplus::Ok &&
        bmp->LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) ==
            Gdiplus::Ok) {
        for (UINT y = 0; y < data.Height; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(data.Scan0) + static_cast<INT_PTR>(y) * data.Stride);
            for (UINT x = 0; x < data.Width; ++x)
                if ((row[x] & 0x00FFFFFFu) == 0) row[x] = 0x009393FFu;  // alpha 0, red 147, green 147, blue 255
        }
        icon = IconFromArgb(static_cast<int>(data.Width), static_cast<int>(data.Height),
                            static_cast<const BYTE*>(data.Scan0), data.Stride);
        bmp->UnlockBits(&data);
    }
    delete bmp;
    return icon;
}
