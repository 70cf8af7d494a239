#pragma once
// Entry points of hk.dll, for programs that link it instead of loading it by name.
// Messages posted to the given windows:
//   WM_USER+1 (shell window): WParam = the top-level window concerned, LParam = HSHELL_WINDOWCREATED 1,
//             HSHELL_WINDOWDESTROYED 2, HSHELL_WINDOWACTIVATED 4 or HSHELL_REDRAW 6.
//   WM_USER+2 (keyboard window): WParam = virtual-key code, LParam = keystroke flags of a keyboard
//             message (bit 31 release, bit 30 key was already down), for every key. Only a fresh
//             press of P, F, A, I, N, S, T, H or Esc while a Windows key is held, with that key's
//             repeats and release, reaches no other window. When a Windows key's release never
//             came (the session was locked or unlocked, or the system's key state has it up when
//             the next key arrives), a release of it is posted then.
//   WM_USER+3 (mouse window): LParam = the cursor's Y screen coordinate (signed).
#include <windows.h>

extern "C" {
BOOL WINAPI SetKeyBoardHook(HWND wnd);
BOOL WINAPI SetMouseHook(HWND wnd);
BOOL WINAPI SetShellHook(HWND wnd);
BOOL WINAPI RemoveKeyBoardHook();
BOOL WINAPI RemoveMouseHook();
BOOL WINAPI RemoveShellHook();
}

// Function types for GetProcAddress.
using TSetHookProc = BOOL(WINAPI*)(HWND);
using TRemoveHookProc = BOOL(WINAPI*)();

constexpr UINT HK_WM_SHELL = WM_USER + 1;
constexpr UINT HK_WM_KEYBOARD = WM_USER + 2;
constexpr UINT HK_WM_MOUSE = WM_USER + 3;
// How often the shell watcher looks at the window list, the foreground window and the titles.
constexpr DWORD HK_SHELL_POLL_MS = 100;
