#pragma once
// Subclassing of a control through its window procedure, the chain kept in this process.
// comctl32's SetWindowSubclass keeps it in a window property, and under Wine every property
// look-up is a round trip to the server: two or three for each message a list or edit box gets.
#include <windows.h>

namespace gui {

using SubclassProc = LRESULT (*)(HWND, UINT, WPARAM, LPARAM, DWORD_PTR data);

// Messages to `hwnd` go to `proc` first; false when the window cannot be subclassed.
bool Subclass(HWND hwnd, SubclassProc proc, DWORD_PTR data);
// Messages go straight to the control again; safe from inside `proc` itself.
void Unsubclass(HWND hwnd);
// The control's own handling of a message (what `proc` passes on).
LRESULT CallOriginal(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
// The data given to Subclass with `proc`, or 0 when the window is not subclassed by it.
DWORD_PTR SubclassData(HWND hwnd, SubclassProc proc);

}  // namespace gui
