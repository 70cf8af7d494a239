#include "bar/DKButton.h"

#include <system_error>

#include "bar/BarLayout.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "Handles.h"
#include "bar/TransparentMessage.h"

namespace {
Gdiplus::Color Opaque(COLORREF c) { return Gdiplus::Color(255, GetRValue(c), GetGValue(c), GetBValue(c)); }
constexpr const wchar_t* kCaptionFace = L"Times New Roman";
constexpr float kCaptionPixels = 13.0f;
}  // namespace

std::thread TDKButton::WarmUpCaptionFont() {
    try {
        return std::thread([] {
            Gdiplus::FontFamily family(kCaptionFace);
            Gdiplus::Font font(&family, kCaptionPixels, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
        });
    } catch (const std::system_error&) {
        return {};
    }
}

TDKButton::TDKButton(HWND AOwner) : FOwnerForm(AOwner) {
    FBrush = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(255, 0, 0, 0));
    FFontFamily = std::make_unique<Gdiplus::FontFamily>(kCaptionFace);
    FFont = std::make_unique<Gdiplus::Font>(FFontFamily.get(), kCaptionPixels, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    FPen = std::make_unique<Gdiplus::Pen>(Gdiplus::Color(255, 0, 0, 0), 1.0f);
    FMenuIsShown = false;
    Create({L"TDKButton", CS_DBLCLKS}, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0, BAR_HEIGHT, AOwner);
}

TDKButton::~TDKButton() {
    Destroy();
    FPen.reset();
    FFont.reset();
    FFontFamily.reset();
    FBrush.reset();
}

void TDKButton::SetCaption(const std::wstring& caption) {
    if (caption == FCaption) return;
    FCaption = caption;
    if (Handle()) InvalidateRect(Handle(), nullptr, FALSE);
}

void TDKButton::ClearHighlight() {
    if (!FHighligted) return;
    FHighligted = false;
    if (Handle()) InvalidateRect(Handle(), nullptr, FALSE);
}

void TDKButton::GradientColors(COLORREF base, bool highlighted, COLORREF& top, COLORREF& bottom) {
    top = highlighted ? LightenColor(base, 30) : DarkenColor(base, 15);
    bottom = DarkenColor(base, 60);
}

void TDKButton::ButtonPaint(HDC dc) {
    RECT rc;
    GetClientRect(Handle(), &rc);
    int w = rc.right, h = rc.bottom;
    if (w <= 0 || h <= 0) return;
    // Painted off screen first so the bar never flickers.
    gui::MemoryDCHandle mem(CreateCompatibleDC(dc));
    gui::BitmapHandle bmp(CreateCompatibleBitmap(dc, w, h));
    gui::SelectScope selected(mem.get(), bmp.get());
    {
        Gdiplus::Graphics g(mem.get());
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
        COLORREF color = Config.ActiveScheme().MenuColors[static_cast<size_t>(FID) % MENU_COUNT];
        COLORREF top, bottom;
        GradientColors(color, FHighligted, top, bottom);
        Gdiplus::SolidBrush back(Opaque(bottom));
        g.FillRectangle(&back, 0, 0, w, h);
        Gdiplus::LinearGradientBrush grad(Gdiplus::Point(0, 0), Gdiplus::Point(0, h - 1), Opaque(top), Opaque(bottom));
        g.FillRectangle(&grad, 0, 0, w - 1, h - 1);
        g.DrawRectangle(FPen.get(), 0, 0, w - 1, h - 1);
        g.DrawString(FCaption.c_str(), static_cast<INT>(FCaption.size()), FFont.get(), Gdiplus::PointF(9.0f, 1.0f),
                     FBrush.get());
    }
    BitBlt(dc, 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
}

void TDKButton::DoMouseEnter(void*) {
    FHighligted = true;
    TDKPopupMenu* menu = PopupMenu();
    FMenuIsShown = menu != nullptr && menu->Acitve();
    if (Handle()) InvalidateRect(Handle(), nullptr, FALSE);
    if (OnEnter) OnEnter(this);
}

void TDKButton::ButtonMouseLeave(void*) {
    FHighligted = false;
    if (OnLeave) OnLeave(this);
    if (Handle()) InvalidateRect(Handle(), nullptr, FALSE);
}

void TDKButton::DoClick(void*) {
    if (OnClick) {
        OnClick(this);
        return;
    }
    TDKPopupMenu* menu = PopupMenu();
    if (!menu) {
        ShowTransparentMessage(L"Wait a moment, please...", L"Menu " + FCaption + L" is being built", 2);
        return;
    }
    if (menu->Acitve()) {
        menu->Hide();
        FMenuIsShown = false;
        return;
    }
    if (FMenuIsShown) {
        FMenuIsShown = false;
        return;
    }
    RECT form{}, self{};
    GetWindowRect(FOwnerForm, &form);
    GetWindowRect(Handle(), &self);
    int left = self.left - form.left;
    int top = self.top - form.top;
    int height = self.bottom - self.top;
    menu->Popup(form.left + left, top + height + 2);
    FMenuIsShown = true;
}

LRESULT TDKButton::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        ButtonPaint(dc);
        EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        if (!FTracking) {
            TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, Handle(), 0};
            FTracking = TrackMouseEvent(&tme) != FALSE;
            DoMouseEnter(this);
        }
        return 0;
    case WM_MOUSELEAVE:
        FTracking = false;
        FPressed = false;
        ButtonMouseLeave(this);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // The click closes the menu when it was open as the button went down, or hid after that
        // (the press took the activation from it); a menu hidden before (Esc) opens again.
        TDKPopupMenu* menu = PopupMenu();
        ULONGLONG pressedAt = GetTickCount64() - (GetTickCount() - static_cast<DWORD>(GetMessageTime()));
        FMenuIsShown = menu && (menu->Acitve() || (menu->FHiddenAt && menu->FHiddenAt >= pressedAt));
        FPressed = true;
        SetCapture(Handle());
        return 0;
    }
    case WM_LBUTTONUP: {
        bool wasPressed = FPressed;
        FPressed = false;
        if (GetCapture() == Handle()) ReleaseCapture();
        POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        RECT rc;
        GetClientRect(Handle(), &rc);
        if (wasPressed && PtInRect(&rc, pt)) DoClick(this);
        return 0;
    }
    }
    return DefaultHandler(msg, wp, lp);
}
