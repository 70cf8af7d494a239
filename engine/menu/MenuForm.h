#pragma once
// Inside of the menu windows, shared by the window, painting and input code.
#include <functional>
#include <vector>

#include "menu/DKComponents.h"
#include "Handles.h"
#include "Window.h"

// The borderless layered top-level window of one item's children.
class TMenuForm : public gui::Window {
public:
    explicit TMenuForm(TDKMenuItem* item) : Item(item) {}
    TDKMenuItem* Item;  // null once the item let go of the window
    bool Filling = false;  // rows are being rebuilt: list notifications are ignored
    unsigned PendingUps = 0;  // buttons pressed on the list whose release the row has not had
    bool Hiding = false;  // the window is being hidden to be kept for its next opening
    // Closed and kept for the next opening: to everyone else the item has no window.
    bool Kept = false;

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    const char* ClassNameForErrors() const override { return "TForm"; }
};

// A small window laid over a menu window's selected row while its icon turns: each turn is handed
// to it alone, so a tick costs the same whatever the menu window's size. It is shown only where
// the row's body is opaque (all but the last 70 pixels of a selected row), so it looks the same
// as the menu window would. It takes no input: the pointer reaches the menu window beneath it.
class TTurnWindow : public gui::Window {
public:
    explicit TTurnWindow(TDKMenuItem* item) : Item(item) {}
    TDKMenuItem* Item;
    RECT Source{};  // the part of the item's picture shown
    RECT Screen{};  // where, while Shown
    bool Shown = false;
    gui::RegionHandle Open;  // the part it shows where other menu windows cover the rest; none: all

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

namespace menu_window {

// Handlers run inside a scope; windows closed meanwhile are freed when the outermost scope ends.
class HandlerScope {
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
};
// Runs free now, or at the end of the running handler.
void DeferFree(std::function<void()> free);
// How many handlers are running (0: none).
int HandlerDepth();
// Destroys the kept windows beyond their limit, the longest hidden first; nothing while windows
// or rows are being worked on (it runs again when that work is done).
void TrimKeptWindows();

// Submenus that a refill of their owner leaves open (the filter's path, opened again at once).
std::vector<const TDKMenuItem*>& KeepOpen();

// List views of open menu windows and their items.
void RegisterList(HWND list, TDKMenuItem* item);
void UnregisterList(HWND list);
// Items whose menu windows are shown.
std::vector<TDKMenuItem*> ShownWindows();

// A message handled by the list view's own procedure, past our handling of the list's messages.
LRESULT ListDirect(HWND list, UINT msg, WPARAM wp, LPARAM lp);

// The procedures the list and its edit boxes are subclassed with (mouse, drag, edit-box
// notifications; keys and clicks of the boxes).
LRESULT ListProc(HWND, UINT, WPARAM, LPARAM, DWORD_PTR);
LRESULT EditProc(HWND, UINT, WPARAM, LPARAM, DWORD_PTR);

// Drag state shared by all menu windows.
struct DragState {
    TDKMenuItem* Source = nullptr;
    TDKMenuItem* Target = nullptr;
    bool Accept = false;
};
DragState& Drag();
// Ends the running drag without a drop (its source window goes away).
void CancelDrag(TDKMenuItem* source);

// A button pressed on an item's list; the row gets its release once, whether the list passes on
// the button-up or (as its drag detection on Windows does) reports a click instead.
void PressStarted(TDKMenuItem* item, TMouseButton button);
void PressEnded(TDKMenuItem* item, TMouseButton button, TShiftState shift, POINT listPoint);
// The same from a notification that carries no point: the cursor's.
void PressEndedAtCursor(TDKMenuItem* item, TMouseButton button);

TShiftState KeyShift();
TShiftState MouseShift(WPARAM wp);

}  // namespace menu_window
