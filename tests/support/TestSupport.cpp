#include "TestSupport.h"

#include <commctrl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "Application.h"
#include "SysUtils.h"
#include "Platform.h"
#include "Registry.h"

namespace testing_support {

TempDir::TempDir(const std::wstring& tag) {
    static std::atomic<int> counter{0};
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    for (;;) {
        path_ = std::wstring(tmp) + L"orv_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(counter++) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::wstring& pathIn) {
    std::wstring path = gui::ExcludeTrailingBackslash(pathIn);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
            else DeleteFileW(full.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    DWORD got;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    CloseHandle(f);
    return out;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD put;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(f);
}

std::wstring BinDir() { return gui::ExeDir(); }

HANDLE StartProcess(const std::wstring& commandLine, const std::wstring& workDir) {
    // Wine on a loaded machine now and then fails a process start that succeeds a moment later.
    for (int attempt = 1;; ++attempt) {
        STARTUPINFOW si{sizeof(si)};
        PROCESS_INFORMATION pi{};
        std::wstring cmd = commandLine;
        if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
            CloseHandle(pi.hThread);
            return pi.hProcess;
        }
        std::fprintf(stderr, "process start failed (error %lu, attempt %d)\n", GetLastError(), attempt);
        if (attempt == 3) return nullptr;
        Sleep(200);
    }
}

int WaitProcess(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (GetTickCount() - start > timeoutMs) return cond();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(20);
    }
}

std::vector<std::wstring> NotificationTexts() {
    std::vector<std::wstring> texts;
    for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
         w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId()) continue;
        wchar_t text[1024] = {};
        GetWindowTextW(w, text, 1024);
        texts.insert(texts.begin(), text);  // the newest window is found first
    }
    return texts;
}

void CloseNotifications() {
    DWORD pid = GetCurrentProcessId();
    for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;) {
        HWND next = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr);
        DWORD p = 0;
        GetWindowThreadProcessId(w, &p);
        if (p == pid) DestroyWindow(w);
        w = next;
    }
}

HWND FindProcessWindow(DWORD pid, const wchar_t* className) {
    struct Search {
        DWORD pid;
        const wchar_t* cls;
        HWND found;
    } s{pid, className, nullptr};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            DWORD p = 0;
            GetWindowThreadProcessId(w, &p);
            wchar_t cls[256] = {};
            GetClassNameW(w, cls, 256);
            if (p == s->pid && lstrcmpW(cls, s->cls) == 0) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::vector<DWORD> IconPixels(HICON icon, int* width) {
    ICONINFO ii{};
    if (!GetIconInfo(icon, &ii)) return {};
    BITMAP bm{};
    GetObjectW(ii.hbmColor, sizeof bm, &bm);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB};
    std::vector<DWORD> px(static_cast<size_t>(bm.bmWidth * bm.bmHeight));
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, ii.hbmColor, 0, static_cast<UINT>(bm.bmHeight), px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    if (width) *width = bm.bmWidth;
    return px;
}

int GdiObjectCount() {
    DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (n) return static_cast<int>(n);
    // A handle without its generation bits names whatever lives at its index.
    int count = 0;
    for (UINT_PTR i = 1; i <= 0xFFFF; ++i)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(i))) ++count;
    return count;
}

bool IconAlive(HICON h) {
    ICONINFO ii{};
    if (!GetIconInfo(h, &ii)) return false;
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    return true;
}

int UserObjectCount() {
    DWORD n = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (n) return static_cast<int>(n);
    // Wine's USER handles are 0x20 + 2 * index in their low word; a zero high word matches any
    // generation. Windows of other processes are left out.
    int count = 0;
    const DWORD self = GetCurrentProcessId();
    for (UINT_PTR i = 0; i < 0x7FF0; ++i) {
        const UINT_PTR value = 0x20 + 2 * i;
        HWND wnd = reinterpret_cast<HWND>(value);
        if (IsWindow(wnd)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(wnd, &pid);
            if (pid == self) ++count;
        } else if (IsMenu(reinterpret_cast<HMENU>(value)) || IconAlive(reinterpret_cast<HICON>(value))) {
            ++count;
        }
    }
    return count;
}

int KernelHandleCount() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n) return static_cast<int>(n);
    // Wine answers 0: its handles are multiples of 4 and any open one has information.
    int count = 0;
    for (UINT_PTR value = 4; value <= 0x40000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

namespace {
HKEY gMachineRoot = HKEY_LOCAL_MACHINE;
}

StandardUserRegistry::StandardUserRegistry(HKEY machine) {
    gMachineRoot = machine;
    gui::Registry::SetAccessCheck([](HKEY root, const std::wstring&, REGSAM access) -> LONG {
        const REGSAM reading = KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY;
        return root == gMachineRoot && (access & ~reading) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    });
}

StandardUserRegistry::~StandardUserRegistry() { gui::Registry::SetAccessCheck(nullptr); }

}  // namespace testing_support

int main(int argc, char** argv) {
    gui::PlatformScope platform;
    gui::App().Initialize();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    DestroyWindow(gui::App().Handle());
    return rc;
}
