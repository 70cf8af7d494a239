#pragma once
// Shared helpers of the test programs: temporary folders, files, processes, waiting.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under %TEMP%, removed with everything in it when the object dies.
class TempDir {
public:
    explicit TempDir(const std::wstring& tag = L"t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }  // with the trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The folder of the test executable (orvane.exe and the helpers are built there).
std::wstring BinDir();

// Starts a program; returns the process handle (caller closes) or null.
HANDLE StartProcess(const std::wstring& commandLine, const std::wstring& workDir = L"");
// Waits for the process to end; returns its exit code or -1 on timeout.
int WaitProcess(HANDLE process, DWORD timeoutMs);
// Polls cond every 20 ms while pumping messages, until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs);
// A visible-or-not top-level window of a process with the given class, or null.
HWND FindProcessWindow(DWORD pid, const wchar_t* className);
// The texts of this process's notification windows ("title\r\ntext"), oldest first.
std::vector<std::wstring> NotificationTexts();
// Closes them at once (no fade).
void CloseNotifications();
// An icon's colour pixels as 32-bit top-down rows, and its width.
std::vector<DWORD> IconPixels(HICON icon, int* width = nullptr);

// While it lives the registry layer refuses, as Windows refuses a standard user, any key of the
// machine (or of a stand-in for it) opened for more than reading.
class StandardUserRegistry {
public:
    explicit StandardUserRegistry(HKEY machine = HKEY_LOCAL_MACHINE);
    ~StandardUserRegistry();
    StandardUserRegistry(const StandardUserRegistry&) = delete;
    StandardUserRegistry& operator=(const StandardUserRegistry&) = delete;
};

// Live GDI objects (bitmaps, fonts, DCs...) and USER objects (windows, menus, icons, cursors)
// of this process, for leak checks: compare a count after many rounds with the one before.
// Wine answers GetGuiResources with 0; there the handle tables are walked instead.
int GdiObjectCount();
// Whether the handle names a live icon or cursor.
bool IconAlive(HICON icon);
int UserObjectCount();
// Open kernel handles of this process.
int KernelHandleCount();

}  // namespace testing_support
