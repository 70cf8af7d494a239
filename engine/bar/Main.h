#pragma once
// The bar form and the threads that build its menus.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bar/DKButton.h"
#include "Thread.h"
#include "Timer.h"
#include "Window.h"

class TDKPopupMenu;

// Hook messages from hk.dll.
constexpr UINT WM_HOOKKEYBOARD = WM_USER + 2;
constexpr UINT WM_HOOKMOUSE = WM_USER + 3;

// Waits (serving calls the builders make to the GUI thread) until no menu is being built;
// false when the time ran out first.
bool WaitForMenuBuilders(DWORD timeoutMs);
// Runs work on a thread of its own once no menu is being built (or after 10 s): each program
// started under Wine meanwhile costs the bar's start-up and the builders dearly. Throws
// std::system_error when no thread can start.
void RunWhenMenusBuilt(std::function<void()> work);

// Frees the buttons and their menus (each menu writes its stored items): those whose menus are
// built at once, then, after waiting up to waitMs for the builders, those whose menus were being
// built. A button whose builder still runs is left to the ending process.
void FreeMenuButtons(std::vector<TDKButton*>& buttons, DWORD waitMs);

// Builds a provider menu for its button; the provider's constructor runs inside.
using TMenuClass = TDKPopupMenu* (*)(TDKButton* AOwner);

class TCreateMenuThread : public gui::Thread {
public:
    // Starts at once and frees itself at the end.
    TCreateMenuThread(TDKButton* DkBtn, TMenuClass MenuClass);

protected:
    void Execute() override;

private:
    TDKButton* FDkBtn;
    TMenuClass FMenuClass;
};

struct TBarButtonInfo {
    const wchar_t* Caption;
    TMenuClass MenuClass;  // null for the clock
    WORD ShortcutKey;      // 0 for the clock
    bool ShortcutClearsFilter;
};
// The bar's buttons by id (0..8).
const TBarButtonInfo& BarButtonInfo(int id);

class TOrvane : public gui::Window {
public:
    static constexpr const wchar_t* ClassName = L"TOrvane";

    TOrvane();
    ~TOrvane() override;

    void FormCreate();
    void WMDisplayChange();
    BOOL WMQueryEndSession();
    void WMHookKeyboard(WPARAM key, LPARAM flags);
    void WMHookMouse(LPARAM y);
    void ClockTimerTimer();
    void HideTimerTimer();
    void DKApplicationEventsDeactivate();
    void DKApplicationEventsException(const std::string& senderClass, const std::string& message);
    void ColorChanged(void* sender);
    void btnQuitClick();
    void ClockButtonClick() {}
    bool FormCloseQuery() const { return false; }

    void SlideIn();
    void SlideOut();
    TDKButton* ButtonById(int id) const;
    const std::vector<TDKButton*>* Buttons() const { return ButtonList.get(); }

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    const char* ClassNameForErrors() const override { return "TOrvane"; }

private:
    int Top() const;
    void SetTop(int top);

    bool FWinKeyPressed = false;
    bool FFullScreenMode = false;
    std::unique_ptr<std::vector<TDKButton*>> ButtonList;
    gui::Timer ClockTimer{500};
    gui::Timer HideTimer{1};
    int HideTimerTag = 0;
    HWND btnQuit = nullptr;
};

extern TOrvane* Orvane;
