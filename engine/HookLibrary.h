#pragma once
// The hook library hk.dll, imported at load time: the program does not start without it.
#include <windows.h>

constexpr UINT WM_HOOKSHELL = WM_USER + 1;
constexpr UINT WM_HOOKKEYBOARD = WM_USER + 2;
constexpr UINT WM_HOOKMOUSE = WM_USER + 3;

extern "C" {
__declspec(dllimport) BOOL SetKeyBoardHook(HWND wnd);
__declspec(dllimport) BOOL SetMouseHook(HWND wnd);
__declspec(dllimport) BOOL SetShellHook(HWND wnd);
__declspec(dllimport) BOOL RemoveKeyBoardHook();
__declspec(dllimport) BOOL RemoveMouseHook();
__declspec(dllimport) BOOL RemoveShellHook();
}
