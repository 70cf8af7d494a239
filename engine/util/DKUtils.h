#pragma once
// Utilities shared by the engine and the menus.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "Handles.h"

// Process-wide shell state, each made on first use (from any thread) so that the shell's own
// start-up is not paid before the bar shows; given back by FinalizeDKUtils.
HIMAGELIST SysSmallImageList();
IShellFolder* DesktopFolder();

// Shading of a colour (system colour references resolved first); Percent 0..100.
COLORREF DarkenColor(COLORREF Color, BYTE Percent);
COLORREF LightenColor(COLORREF Color, BYTE Percent);
// Header of a 32-bit top-down picture of w x h pixels.
BITMAPINFO TopDown32(int w, int h);

// Bytes of an image held in memory (a downloaded favicon, an icon being re-encoded).
using TMemoryStream = std::vector<BYTE>;

// An icon handle with the .ico data it was loaded from (all of its images), owned.
class TIcon {
public:
    TIcon() = default;
    explicit TIcon(HICON handle) : handle_(handle) {}
    TIcon(TIcon&& other) noexcept = default;
    TIcon& operator=(TIcon&& other) noexcept = default;

    HICON Handle() const { return handle_.get(); }
    HICON ReleaseHandle();  // the caller owns it afterwards
    bool Empty() const { return !handle_; }
    void Clear();
    int Width() const;
    int Height() const;
    // Keeps the .ico data and makes the handle from its first image; throws std::runtime_error
    // when the data is not an icon file.
    void LoadFromStream(const TMemoryStream& stream);
    // The data it was loaded from, or a one-image 32-bit .ico of the handle.
    void SaveToStream(TMemoryStream& stream) const;

private:
    gui::IconHandle handle_;
    TMemoryStream data_;
};

std::wstring GetCurrentUserName();
// Decodes a PNG into a 16 x 16 32-bit icon; throws std::runtime_error when it is no valid PNG.
TIcon PngStreamToIcon(const TMemoryStream& Stream);
// 0 unknown or no stream, 1 BMP, 2 TIFF, 3 JPEG, 4 PNG, 5 DCX, 6 PCX, 7 metafile, 8 GIF.
BYTE DetectImageType(const TMemoryStream* Stream);
// Keeps only the last 16-pixel-wide image of a multi-image icon (unchanged when it has none).
void Pick16x16Icon(TIcon& Icon);
// Small system icon of a path (class-id paths through the desktop folder); caller destroys it.
HICON GetShellSmallIcon(const std::wstring& Path);
// Its index in the system's small image list (owned by the system).
int GetShellSmallIconIndex(const std::wstring& Path);
// The 16 x 16 image of an .ico file, or none.
gui::IconHandle LoadSmallIconFile(const std::wstring& Path);
bool IsTaskbarWindow(HWND Wnd);
// Lower-case full path of the executable that owns the window, or empty.
std::wstring GetWindowExeName(HWND Wnd);
// A hidden top-level popup of the class and size (so broadcasts and FindWindow reach it), the
// class registered (again) with WndProc when needed.
HWND CreateUtilityWindow(const std::wstring& ClassName, WNDPROC WndProc, int Width = 0, int Height = 0);
std::wstring GetWindowCaption(HWND Wnd);
bool ForceForegroundWindow(HWND Wnd);
// Starts a command line as WinExec does, but through the wide call (paths beyond the ANSI code
// page start too) and without waiting for the program to become idle; false when it did not start.
bool StartProgram(const std::wstring& CommandLine, int Show);
// Starts through the shell what Info describes (without the shell's own error boxes). False when
// it did not start: the user is then told that What (Target) could not be started and why.
bool ShellExecuteOrReport(const std::wstring& What, const std::wstring& Target, SHELLEXECUTEINFOW& Info);
// The same for a file, program, folder or address: verb (null: its default), parameters, working
// folder (empty: none) and show state.
bool ShellExecuteOrReport(const std::wstring& What, HWND Owner, const wchar_t* Verb, const std::wstring& File,
                          const std::wstring& Params, const std::wstring& Dir, int Show);
// WinExec of an ANSI command line; false, and the user told, when it did not start.
bool WinExecOrReport(const std::wstring& What, const std::string& CmdLine, UINT Show);
// Terminates every process of that executable name; whether the last termination succeeded.
bool KillProcessByName(const std::wstring& Name);
// An icon of the bitmap with its pure black pixels transparent; caller destroys it.
HICON BlackToTransparentIcon(HBITMAP Bitmap);
// The registered path of a program (App Paths), or empty when unknown or missing on disk.
std::wstring GetAppPath(const std::wstring& ExeName);

// Module start and end routines.
void InitializeDKUtils();
void FinalizeDKUtils();
