#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Application.h"
#include "util/DKUtils.h"
#include "util/IconsToFile.h"
#include "Registry.h"
#include "SysUtils.h"
#include "TestIcons.h"
#include "TestSupport.h"

using testing_support::BinDir;
using testing_support::IconPixels;
using testing_support::TempDir;

namespace {


// A PNG of the given size, each pixel from fn(x, y) as straight ARGB.
template <typename F>
TMemoryStream MakePng(int w, int h, F fn) {
    Gdiplus::Bitmap bmp(w, h, PixelFormat32bppARGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bmp.SetPixel(x, y, Gdiplus::Color(fn(x, y)));
    CLSID png;
    CLSIDFromString(L"{557CF406-1A04-11D3-9A73-0000F81EF32E}", &png);
    IStream* s = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    bmp.Save(s, &png, nullptr);
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    TMemoryStream out(static_cast<size_t>(st.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    s->Read(out.data(), static_cast<ULONG>(out.size()), &got);
    s->Release();
    return out;
}

HICON SolidIcon(int size, DWORD argb) { return testing_support::SolidIcon32(size, argb); }

HWND MakeWindow(DWORD style, DWORD ex = 0, HWND owner = nullptr) {
    return CreateWindowExW(ex, L"STATIC", L"w", style, 10, 10, 100, 60, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// A window that counts as visible by its style without being mapped on the display: Wine
// without a window manager waits two seconds for every mapped window that is hidden again.
HWND MakeStyledWindow(DWORD style, DWORD ex = 0, HWND owner = nullptr) {
    HWND w = MakeWindow(style & ~WS_VISIBLE, ex, owner);
    if (style & WS_VISIBLE) SetWindowLongW(w, GWL_STYLE, static_cast<LONG>(GetWindowLongW(w, GWL_STYLE) | WS_VISIBLE));
    return w;
}

}  // namespace

TEST(Colours, ShadesEachChannel) {
    const COLORREF c = 0x023917;  // red 0x17, green 0x39, blue 0x02
    EXPECT_EQ(LightenColor(c, 30), RGB(93, 116, 78));
    EXPECT_EQ(DarkenColor(c, 60), RGB(9, 23, 1));
    EXPECT_EQ(DarkenColor(c, 15), RGB(20, 48, 2));
    EXPECT_EQ(DarkenColor(c, 0), c);
    EXPECT_EQ(LightenColor(c, 0), c);
    EXPECT_EQ(DarkenColor(c, 100), 0u);
    EXPECT_EQ(LightenColor(c, 100), 0xFFFFFFu);
    EXPECT_EQ(DarkenColor(0xFFFFFF, 60), RGB(102, 102, 102));
    EXPECT_EQ(LightenColor(0, 30), RGB(77, 77, 77));
    // A system-colour reference is resolved first.
    EXPECT_EQ(DarkenColor(0x80000000u | COLOR_WINDOW, 0), GetSysColor(COLOR_WINDOW));
}

TEST(ImageType, SignaturesAndShortStreams) {
    auto type = [](std::initializer_list<int> bytes) {
        TMemoryStream s;
        for (int b : bytes) s.push_back(static_cast<BYTE>(b));
        return DetectImageType(&s);
    };
    EXPECT_EQ(DetectImageType(nullptr), 0);
    EXPECT_EQ(type({}), 0);
    EXPECT_EQ(type({0x42, 0x4D, 0, 0, 0, 0, 0, 0, 0, 0}), 1);
    EXPECT_EQ(type({0x4D, 0x4D, 0x00, 0x2A, 0, 0, 0, 0}), 2);
    EXPECT_EQ(type({0x49, 0x49, 0x2A, 0x00}), 2);
    EXPECT_EQ(type({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0}), 3);
    EXPECT_EQ(type({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}), 4);
    EXPECT_EQ(type({0xB1, 0x68, 0xDE, 0x3A}), 5);
    EXPECT_EQ(type({0x0A}), 6);
    EXPECT_EQ(type({0xD7, 0xCD, 0xC6, 0x9A, 0}), 7);
    EXPECT_EQ(type({0x01, 0x00, 0x00, 0x00, 0x6C}), 7);
    EXPECT_EQ(type({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}), 8);
    EXPECT_EQ(type({'G', 'I', 'F'}), 8);
    EXPECT_EQ(type({0x42}), 0);
    // Bytes past the end take part in no match, even when the memory behind holds them.
    TMemoryStream s = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'};
    s.resize(9);
    EXPECT_EQ(DetectImageType(&s), 0);
}

TEST(Icons, PngBecomesA16PixelIcon) {
    TMemoryStream png = MakePng(16, 16, [](int x, int y) -> Gdiplus::ARGB {
        return x < 8 ? 0xFFFF0000 : (y < 8 ? 0x800000FF : 0x00000000);
    });
    ASSERT_EQ(DetectImageType(&png), 4);
    TIcon icon = PngStreamToIcon(png);
    ASSERT_FALSE(icon.Empty());
    EXPECT_EQ(icon.Width(), 16);
    std::vector<DWORD> px = IconPixels(icon.Handle());
    ASSERT_EQ(px.size(), 256u);
    EXPECT_EQ(px[0], 0xFFFF0000u);
    // Translucent pixels keep their straight colour.
    EXPECT_EQ(px[12] >> 24, 0x80u);
    EXPECT_EQ(px[12] & 0xFF, 0xFFu);
    EXPECT_EQ(px[15 * 16 + 15] >> 24, 0u);

    // A larger picture is scaled, not cut: both halves stay visible.
    TMemoryStream big = MakePng(32, 32, [](int x, int) -> Gdiplus::ARGB { return x < 16 ? 0xFFFF0000 : 0xFF0000FF; });
    TIcon scaled = PngStreamToIcon(big);
    px = IconPixels(scaled.Handle());
    ASSERT_EQ(px.size(), 256u);
    EXPECT_EQ(px[8 * 16 + 1], 0xFFFF0000u);
    EXPECT_EQ(px[8 * 16 + 14], 0xFF0000FFu);

    TMemoryStream junk = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_THROW(PngStreamToIcon(junk), std::runtime_error);
}

TEST(Icons, Pick16x16KeepsTheLast16PixelImage) {
    TempDir dir(L"pick");
    // Three single-image files joined into one icon file: 32 green, 16 red, 16 blue.
    std::string parts[3];
    HICON icons[3] = {SolidIcon(32, 0xFF00FF00), SolidIcon(16, 0xFFFF0000), SolidIcon(16, 0xFF0000FF)};
    for (int i = 0; i < 3; ++i) {
        std::wstring p = dir / (L"p" + std::to_wstring(i) + L".ico");
        ASSERT_GT(SaveIconToFile(p, icons[i], 4), 0);
        parts[i] = testing_support::ReadFileBytes(p);
        DestroyIcon(icons[i]);
    }
    TMemoryStream ico = {0, 0, 1, 0, 3, 0};
    DWORD offset = 6 + 3 * 16;
    for (auto& p : parts) {
        DWORD size = static_cast<DWORD>(p.size() - 22);
        ico.insert(ico.end(), p.begin() + 6, p.begin() + 14);
        ico.insert(ico.end(), reinterpret_cast<BYTE*>(&size), reinterpret_cast<BYTE*>(&size) + 4);
        ico.insert(ico.end(), reinterpret_cast<BYTE*>(&offset), reinterpret_cast<BYTE*>(&offset) + 4);
        offset += size;
    }
    for (auto& p : parts) ico.insert(ico.end(), p.begin() + 22, p.end());

    TIcon icon;
    icon.LoadFromStream(ico);
    EXPECT_EQ(icon.Width(), 32);
    Pick16x16Icon(icon);
    EXPECT_EQ(icon.Width(), 16);
    EXPECT_EQ(IconPixels(icon.Handle())[0], 0xFF0000FFu);
    TMemoryStream saved;
    icon.SaveToStream(saved);
    EXPECT_EQ(saved[4], 1);  // a one-image icon now

    // Without a 16-pixel image the icon stays as it was.
    TIcon large;
    TMemoryStream one(parts[0].begin(), parts[0].end());
    large.LoadFromStream(one);
    Pick16x16Icon(large);
    EXPECT_EQ(large.Width(), 32);

    // A directory pointing past the data is not read.
    TMemoryStream bad = ico;
    DWORD beyond = 100000;
    std::memcpy(&bad[6 + 16 + 12], &beyond, 4);
    std::memcpy(&bad[6 + 32 + 12], &beyond, 4);
    TIcon fromBad;
    fromBad.LoadFromStream(bad);
    Pick16x16Icon(fromBad);
    EXPECT_EQ(fromBad.Width(), 32);
    EXPECT_THROW(fromBad.LoadFromStream(TMemoryStream{1, 2, 3}), std::runtime_error);
}

TEST(Icons, BlackBecomesTransparent) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, -4, 1, 24, BI_RGB};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* p = static_cast<BYTE*>(bits);  // 12-byte rows: blue green red
    std::memset(p, 0, 48);
    p[3] = 0x30; p[4] = 0x20; p[5] = 0x10;  // pixel (1, 0)
    HICON icon = BlackToTransparentIcon(bmp);
    DeleteObject(bmp);
    ASSERT_NE(icon, nullptr);
    std::vector<DWORD> px = IconPixels(icon);
    ASSERT_EQ(px.size(), 16u);
    EXPECT_EQ(px[0] >> 24, 0u);
    EXPECT_EQ(px[1], 0xFF102030u);
    EXPECT_EQ(px[15] >> 24, 0u);
    DestroyIcon(icon);
}

TEST(Icons, ShellSmallIcons) {
    TempDir dir(L"ssi");
    testing_support::WriteFileBytes(dir / L"real.txt", "x");
    HICON missing = GetShellSmallIcon(L"C:\\no\\such\\folder\\ghost.txt");
    HICON real = GetShellSmallIcon(dir / L"real.txt");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(IconPixels(missing), IconPixels(real));
    HICON computer = GetShellSmallIcon(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    ASSERT_NE(computer, nullptr);
    EXPECT_NE(IconPixels(computer), IconPixels(missing));
    for (HICON i : {missing, real, computer}) DestroyIcon(i);
}

// The menu builders ask for the shell state at once on first use: one list and one folder for all,
// and new ones after the module end gave them back.
TEST(Icons, ShellStateMadeOnceUnderRace) {
    FinalizeDKUtils();
    std::vector<HIMAGELIST> lists(8);
    std::vector<IShellFolder*> folders(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < lists.size(); ++i)
        threads.emplace_back([&, i] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            folders[i] = DesktopFolder();
            lists[i] = SysSmallImageList();
            CoUninitialize();
        });
    for (auto& t : threads) t.join();
    ASSERT_NE(lists[0], nullptr);
    ASSERT_NE(folders[0], nullptr);
    for (size_t i = 1; i < lists.size(); ++i) {
        EXPECT_EQ(lists[i], lists[0]);
        EXPECT_EQ(folders[i], folders[0]);
    }
    EXPECT_GT(ImageList_GetImageCount(lists[0]), 0);
    FinalizeDKUtils();
    IShellFolder* again = DesktopFolder();
    ASSERT_NE(again, nullptr);
    ULONG eaten = 0;
    LPITEMIDLIST list = nullptr;
    std::wstring c = L"C:\\";
    EXPECT_EQ(again->ParseDisplayName(nullptr, nullptr, c.data(), &eaten, &list, nullptr), S_OK);
    CoTaskMemFree(list);
    EXPECT_NE(SysSmallImageList(), nullptr);
}

TEST(Windows, TaskbarWindowRules) {
    HWND plain = MakeStyledWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    EXPECT_TRUE(IsTaskbarWindow(plain));
    HWND hidden = MakeStyledWindow(WS_OVERLAPPEDWINDOW);
    EXPECT_FALSE(IsTaskbarWindow(hidden));
    HWND tool = MakeStyledWindow(WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW);
    EXPECT_FALSE(IsTaskbarWindow(tool));
    HWND dialog = MakeStyledWindow(WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, plain);
    EXPECT_FALSE(IsTaskbarWindow(dialog));
    // Owned popups have their owner as parent; owned overlapped windows have none.
    HWND appOfHidden = MakeStyledWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE, WS_EX_APPWINDOW, hidden);
    EXPECT_TRUE(IsTaskbarWindow(appOfHidden));
    HWND popupOfHidden = MakeStyledWindow(WS_POPUP | WS_CAPTION | WS_VISIBLE, WS_EX_APPWINDOW, hidden);
    EXPECT_FALSE(IsTaskbarWindow(popupOfHidden));
    HWND appOfShown = MakeStyledWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE, WS_EX_APPWINDOW, plain);
    EXPECT_FALSE(IsTaskbarWindow(appOfShown));
    HWND child = MakeStyledWindow(WS_CHILD | WS_VISIBLE, 0, plain);
    EXPECT_FALSE(IsTaskbarWindow(child));
    HWND marked = MakeStyledWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetWindowLongPtrW(marked, GWLP_USERDATA, 0x7FFFFFFF);
    EXPECT_FALSE(IsTaskbarWindow(marked));
    EXPECT_FALSE(IsTaskbarWindow(nullptr));

    EXPECT_EQ(GetWindowExeName(plain), gui::AnsiLowerCase(gui::ExeFileName()));
    SetWindowTextW(plain, std::wstring(300, L'a').c_str());
    EXPECT_EQ(GetWindowCaption(plain), std::wstring(254, L'a'));  // 255 characters with the terminator
    EXPECT_EQ(GetWindowExeName(reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7654))), L"");
    for (HWND w : {child, appOfShown, popupOfHidden, appOfHidden, dialog, tool, hidden, marked, plain}) {
        SetWindowLongW(w, GWL_STYLE, static_cast<LONG>(GetWindowLongW(w, GWL_STYLE) & ~WS_VISIBLE));
        DestroyWindow(w);
    }
}

namespace {
int g_procA = 0, g_procB = 0;
LRESULT CALLBACK ProcA(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_USER + 7) ++g_procA;
    return DefWindowProcW(w, m, wp, lp);
}
LRESULT CALLBACK ProcB(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_USER + 7) ++g_procB;
    return DefWindowProcW(w, m, wp, lp);
}
}  // namespace

TEST(Windows, UtilityWindowsTakeTheirProcedure) {
    const std::wstring cls = L"OrvUtility" + std::to_wstring(GetCurrentProcessId());
    HWND a = CreateUtilityWindow(cls, ProcA);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(IsWindowVisible(a));
    EXPECT_TRUE(GetWindowLongW(a, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    SendMessageW(a, WM_USER + 7, 0, 0);
    DestroyWindow(a);
    HWND b = CreateUtilityWindow(cls, ProcB);  // the class is registered again with the new procedure
    ASSERT_NE(b, nullptr);
    SendMessageW(b, WM_USER + 7, 0, 0);
    HWND b2 = CreateUtilityWindow(cls, ProcB);
    SendMessageW(b2, WM_USER + 7, 0, 0);
    EXPECT_EQ(g_procA, 1);
    EXPECT_EQ(g_procB, 2);
    DestroyWindow(b);
    DestroyWindow(b2);
}

TEST(Windows, ForceForegroundBringsAWindowToFront) {
    HWND a = MakeWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND b = MakeWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetForegroundWindow(a);
    ShowWindow(b, SW_MINIMIZE);
    EXPECT_TRUE(ForceForegroundWindow(b));
    EXPECT_EQ(GetForegroundWindow(), b);
    EXPECT_FALSE(IsIconic(b));
    EXPECT_TRUE(ForceForegroundWindow(b));  // already in front
    for (HWND w : {a, b}) {
        SetWindowLongW(w, GWL_STYLE, static_cast<LONG>(GetWindowLongW(w, GWL_STYLE) & ~WS_VISIBLE));
        DestroyWindow(w);
    }
}

TEST(Processes, KillProcessByNameEndsEveryMatch) {
    TempDir dir(L"kill");
    std::wstring name = L"orv_idle_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::wstring exe = dir / name;
    ASSERT_TRUE(CopyFileW((BinDir() + L"idle_child.exe").c_str(), exe.c_str(), FALSE));
    HANDLE p1 = testing_support::StartProcess(L"\"" + exe + L"\"");
    HANDLE p2 = testing_support::StartProcess(L"\"" + exe + L"\"");
    ASSERT_TRUE(p1 && p2);
    Sleep(300);
    EXPECT_TRUE(KillProcessByName(gui::AnsiUpperCase(name)));
    EXPECT_EQ(testing_support::WaitProcess(p1, 5000), 1);
    EXPECT_EQ(testing_support::WaitProcess(p2, 5000), 1);
    CloseHandle(p1);
    CloseHandle(p2);
    EXPECT_FALSE(KillProcessByName(name));
}

TEST(Registry, AppPathsLookup) {
    const std::wstring exe = L"orv_app_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe;
    wchar_t pf[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, pf);
    std::wstring file = std::wstring(pf) + L"\\" + exe;
    testing_support::WriteFileBytes(file, "MZ");
    {
        gui::Registry r(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(r.OpenKey(key, true));
        r.WriteString(L"", L"\"%programfiles%\\" + exe + L"\"");
    }
    {
        testing_support::StandardUserRegistry standardUser;  // reading is all it asks for
        EXPECT_TRUE(gui::SameText(GetAppPath(exe), file));
    }
    DeleteFileW(file.c_str());
    EXPECT_EQ(GetAppPath(exe), L"");  // registered but missing on disk
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    EXPECT_EQ(GetAppPath(exe), L"");
}
