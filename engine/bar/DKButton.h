#pragma once
// A bar button: painted in its scheme colour, toggles its popup menu under itself.
#include <windows.h>
#include <gdiplus.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Window.h"

class TDKPopupMenu;

class TDKButton : public gui::Window {
public:
    // AOwner is the bar form's window, which also becomes the parent.
    explicit TDKButton(HWND AOwner);
    ~TDKButton() override;

    int ID() const { return FID; }
    void SetID(int id) { FID = id; }
    const std::wstring& Caption() const { return FCaption; }
    void SetCaption(const std::wstring& caption);
    bool Highligted() const { return FHighligted; }
    // The menu as published by its building thread: none, or a completely built one.
    TDKPopupMenu* PopupMenu() const { return FPopupMenu.load(std::memory_order_acquire); }
    void SetPopupMenu(TDKPopupMenu* menu) { FPopupMenu.store(menu, std::memory_order_release); }
    // Clears the highlight (the menu hides itself) and repaints.
    void ClearHighlight();

    void DoClick(void* Sender);
    void DoMouseEnter(void* Sender);
    void ButtonMouseLeave(void* Sender);

    // When set, a click runs this instead of toggling the menu (the clock's handler).
    std::function<void(TDKButton*)> OnClick;
    std::function<void(TDKButton*)> OnEnter;
    std::function<void(TDKButton*)> OnLeave;
    // Makes the caption font once on a thread of its own, so the font system's start-up runs
    // beside the program's other start-up work instead of in the first button's constructor.
    // Join the thread before GDI+ ends; it is empty when no thread could start.
    static std::thread WarmUpCaptionFont();
    // Opaque colours of the gradient, for painting and for tests.
    static void GradientColors(COLORREF base, bool highlighted, COLORREF& top, COLORREF& bottom);

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    const char* ClassNameForErrors() const override { return "TDKButton"; }

private:
    void ButtonPaint(HDC dc);

    int FID = 0;
    std::wstring FCaption;
    bool FHighligted = false;
    bool FMenuIsShown = false;
    std::atomic<TDKPopupMenu*> FPopupMenu{nullptr};
    std::unique_ptr<Gdiplus::Pen> FPen;
    std::unique_ptr<Gdiplus::SolidBrush> FBrush;
    std::unique_ptr<Gdiplus::FontFamily> FFontFamily;
    std::unique_ptr<Gdiplus::Font> FFont;
    HWND FOwnerForm = nullptr;
    bool FTracking = false;
    bool FPressed = false;
};
