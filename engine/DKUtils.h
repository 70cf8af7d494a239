#pragma once
// Utilities shared by the engine and the menus, and the log writer.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>

// Appends one time-stamped line to the log file beside the executable, when that file exists
// and level is at least Config.LogPriority. Never throws; safe from any thread.
void Log(BYTE level, const std::wstring& text);
// The log file: the executable's path with ".log".
std::wstring LogFileName();

// Process-wide shell state, set up by InitializeDKUtils.
extern HIMAGELIST SysSmallImageList;
extern IShellFolder* DesktopFolder;

// Shading of a colour (system colour references resolved first); Percent 0..100.
COLORREF DarkenColor(COLORREF Color, BYTE Percent);
COLORREF LightenColor(COLORREF Color, BYTE Percent);

// Module start and end routines.
void InitializeDKUtils();
void FinalizeDKUtils();
