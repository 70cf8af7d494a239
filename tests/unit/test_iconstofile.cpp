#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "util/IconsToFile.h"
#include "SysUtils.h"
#include "TestIcons.h"
#include "TestSupport.h"

using testing_support::ReadFileBytes;
using testing_support::IconPixels;
using testing_support::TempDir;

namespace {

DWORD SourcePixel(int x, int y) { return 0xFF000000u | (static_cast<DWORD>(x * 16) << 16) | (static_cast<DWORD>(y * 16) << 8) | 0x80u; }

// A 16 x 16 icon of opaque 32-bit pixels with a gradient.
HICON MakeColourIcon() { return testing_support::MakeIcon32(16, SourcePixel); }


template <typename T>
T At(const std::string& s, size_t off) {
    T v{};
    std::memcpy(&v, s.data() + off, sizeof v);
    return v;
}

HICON LoadIconFile(const std::wstring& path) {
    return static_cast<HICON>(LoadImageW(nullptr, path.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
}

}  // namespace

TEST(IconsToFile, ThirtyTwoBitFileLayoutAndRoundTrip) {
    TempDir dir(L"ico");
    HICON icon = MakeColourIcon();
    std::wstring path = dir / L"a.ico";
    ASSERT_EQ(SaveIconToFile(path, icon, 4), 1150);
    std::string f = ReadFileBytes(path);
    ASSERT_EQ(f.size(), 1150u);
    EXPECT_EQ(At<WORD>(f, 0), 0);
    EXPECT_EQ(At<WORD>(f, 2), 1);
    EXPECT_EQ(At<WORD>(f, 4), 1);
    EXPECT_EQ(At<BYTE>(f, 6), 16);
    EXPECT_EQ(At<BYTE>(f, 7), 16);
    EXPECT_EQ(At<BYTE>(f, 8), 0);
    EXPECT_EQ(At<WORD>(f, 10), 1);
    EXPECT_EQ(At<WORD>(f, 12), 32);
    EXPECT_EQ(At<DWORD>(f, 14), 40u + 1024 + 64);
    EXPECT_EQ(At<DWORD>(f, 18), 22u);
    EXPECT_EQ(At<DWORD>(f, 22), 40u);
    EXPECT_EQ(At<LONG>(f, 26), 16);
    EXPECT_EQ(At<LONG>(f, 30), 32);  // colour rows plus mask rows
    // Bottom-up: the first stored row is the image's last.
    EXPECT_EQ(At<DWORD>(f, 62), SourcePixel(0, 15));

    HICON back = LoadIconFile(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(IconPixels(back), IconPixels(icon));
    DestroyIcon(back);
    DestroyIcon(icon);
}

TEST(IconsToFile, LowerDepthsHaveTheirRowsAndPalettes) {
    TempDir dir(L"ico");
    HICON icon = MakeColourIcon();

    std::wstring mono = dir / L"mono.ico";
    ASSERT_EQ(SaveIconToFile(mono, icon, 0), 198);
    std::string f = ReadFileBytes(mono);
    EXPECT_EQ(At<BYTE>(f, 8), 2);
    EXPECT_EQ(At<WORD>(f, 12), 1);
    EXPECT_EQ(At<DWORD>(f, 14), 48u + 64 + 64);
    EXPECT_EQ(At<DWORD>(f, 62), 0u);           // black
    EXPECT_EQ(At<DWORD>(f, 66), 0x00FFFFFFu);  // white

    std::wstring rgb = dir / L"rgb.ico";
    ASSERT_EQ(SaveIconToFile(rgb, icon, 3), 22 + 40 + 16 * 48 + 64);
    f = ReadFileBytes(rgb);
    EXPECT_EQ(At<WORD>(f, 12), 24);
    EXPECT_EQ(At<DWORD>(f, 22 + 20), 16u * 48);  // biSizeImage: 48-byte rows
    // Second stored pixel of the first stored row (image row 15, x = 1), blue green red.
    DWORD p = SourcePixel(1, 15);
    EXPECT_EQ(At<BYTE>(f, 62 + 3), p & 0xFF);
    EXPECT_EQ(At<BYTE>(f, 62 + 4), (p >> 8) & 0xFF);
    EXPECT_EQ(At<BYTE>(f, 62 + 5), (p >> 16) & 0xFF);
    HICON back = LoadIconFile(rgb);
    ASSERT_NE(back, nullptr);
    std::vector<DWORD> a = IconPixels(back), b = IconPixels(icon);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i] & 0xFFFFFF, b[i] & 0xFFFFFF) << i;
    DestroyIcon(back);

    EXPECT_EQ(SaveIconToFile(dir / L"four.ico", icon, 1), 22 + 40 + 64 + 128 + 64);
    std::wstring eight = dir / L"eight.ico";
    ASSERT_EQ(SaveIconToFile(eight, icon, 2), 22 + 40 + 1024 + 256 + 64);
    f = ReadFileBytes(eight);
    EXPECT_EQ(At<DWORD>(f, 62 + 7 * 4), 0x00C0C0C0u);
    EXPECT_EQ(At<DWORD>(f, 62 + 248 * 4), 0x00808080u);
    EXPECT_EQ(At<DWORD>(f, 62 + 255 * 4), 0x00FFFFFFu);
    back = LoadIconFile(eight);
    EXPECT_NE(back, nullptr);
    DestroyIcon(back);
    EXPECT_EQ(SaveIconToFile(dir / L"other.ico", icon, 200), 22 + 40 + 768 + 64);
    DestroyIcon(icon);
}

TEST(IconsToFile, MaskOnlyIconKeepsTheLowerHalfAsImage) {
    TempDir dir(L"ico");
    // 16 x 32 mask, word-aligned rows: upper half AND mask, lower half the image.
    WORD rows[32];
    for (int y = 0; y < 16; ++y) rows[y] = y == 0 ? 0xFFFF : 0x0000;
    for (int y = 16; y < 32; ++y) rows[y] = static_cast<WORD>(y % 2 ? 0xAA55 : 0x0FF0);
    HBITMAP mask = CreateBitmap(16, 32, 1, 1, rows);
    ICONINFO ii{TRUE, 0, 0, mask, nullptr};
    HICON icon = CreateIconIndirect(&ii);
    DeleteObject(mask);
    ASSERT_NE(icon, nullptr);

    std::wstring path = dir / L"m.ico";
    ASSERT_EQ(SaveIconToFile(path, icon, 0), 198);
    std::string f = ReadFileBytes(path);
    EXPECT_EQ(At<BYTE>(f, 7), 16);
    EXPECT_EQ(At<LONG>(f, 30), 32);
    for (int r = 0; r < 16; ++r) {  // stored bottom-up, 4-byte rows
        int y = 15 - r;
        EXPECT_EQ(std::memcmp(f.data() + 70 + r * 4, &rows[16 + y], 2), 0) << "colour row " << y;
        EXPECT_EQ(std::memcmp(f.data() + 134 + r * 4, &rows[y], 2), 0) << "mask row " << y;
    }
    HICON copy = CopyIconToDepth(icon, 0);
    ASSERT_NE(copy, nullptr);
    ICONINFO ci{};
    ASSERT_TRUE(GetIconInfo(copy, &ci));
    EXPECT_NE(ci.hbmColor, nullptr);  // the copy has a colour bitmap made from the mask
    DeleteObject(ci.hbmColor);
    DeleteObject(ci.hbmMask);
    DestroyIcon(copy);
    DestroyIcon(icon);
}

TEST(IconsToFile, FailuresGiveTheirCodes) {
    TempDir dir(L"ico");
    HICON icon = MakeColourIcon();
    EXPECT_EQ(SaveIconToFile(L"x.i", icon, 4), -1);
    EXPECT_FALSE(gui::FileExists(L"x.i"));
    EXPECT_EQ(SaveIconToFile(dir / L"bad.ico", reinterpret_cast<HICON>(static_cast<INT_PTR>(0x5a5a)), 4), -2);
    EXPECT_EQ(SaveIconToFile(dir / L"missing\\x.ico", icon, 4), -6);
    EXPECT_EQ(WriteIconFile(dir / L"y.ico", nullptr, nullptr, nullptr, 40, 64), -5);
    EXPECT_FALSE(gui::FileExists(dir / L"y.ico"));

    // A file that exists is replaced.
    testing_support::WriteFileBytes(dir / L"old.ico", std::string(5000, 'x'));
    EXPECT_EQ(SaveIconToFile(dir / L"old.ico", icon, 4), 1150);
    EXPECT_EQ(ReadFileBytes(dir / L"old.ico").size(), 1150u);

    HICON copy = CopyIconToDepth(icon, 0);  // the depth does not change the copy
    DestroyIcon(icon);
    ASSERT_NE(copy, nullptr);
    std::vector<DWORD> px = IconPixels(copy);
    ASSERT_EQ(px.size(), 256u);
    EXPECT_EQ(px[17] & 0xFFFFFF, SourcePixel(1, 1) & 0xFFFFFF);
    DestroyIcon(copy);
    EXPECT_EQ(CopyIconToDepth(nullptr, 4), nullptr);
}
