#include "Handles.h"
#include "bar/TransparentMessage.h"

#include <windowsx.h>

#include <memory>
#include <vector>

#include "Application.h"
#include "settings/Configs.h"
#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {

constexpr UINT CM_RELEASE = WM_APP + 0x106;  // frees a closed form outside its own handlers

using FontPtr = gui::FontHandle;

FontPtr TahomaFont(bool bold) {
    return FontPtr(CreateFontW(-11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"));
}

void DrawLine(HDC dc, COLORREF color, std::initializer_list<POINT> pts) {
    gui::PenHandle pen(CreatePen(PS_SOLID, 1, color));
    gui::SelectScope use(dc, pen.get());
    std::vector<POINT> v(pts);
    Polyline(dc, v.data(), static_cast<int>(v.size()));
}

// A raised frame: top and left edges in one colour, bottom and right in the other, width
// pixels deep.
void Frame3D(HDC dc, RECT r, COLORREF top, COLORREF bottom, int width) {
    --r.bottom;
    --r.right;
    for (; width > 0; --width) {
        DrawLine(dc, top, {{r.left, r.bottom}, {r.left, r.top}, {r.right, r.top}});
        DrawLine(dc, bottom, {{r.right, r.top}, {r.right, r.bottom}, {r.left - 1, r.bottom}});
        InflateRect(&r, -1, -1);
    }
}

}  // namespace

// ---- fade state ----

void TranspStartHold(TTranspState& s) {
    s.FFormStatus = fsVisible;
    s.Interval = TRANSP_HOLD_MS;
    s.TimerEnabled = true;
    s.TimerRestart = true;
}

bool TranspTimerStep(TTranspState& s) {
    switch (s.FFormStatus) {
    case fsAppearance:
        s.AlphaBlendValue = static_cast<BYTE>(s.AlphaBlendValue > 255 - TRANSP_ALPHA_STEP ? 255 : s.AlphaBlendValue + TRANSP_ALPHA_STEP);
        if (s.AlphaBlendValue > TRANSP_SHOWN_ALPHA) TranspStartHold(s);
        return false;
    case fsVisible:
        return true;  // the hold ran out; the close request starts the fade-out
    case fsHiding:
        // Stops at 0: a fade-out started at alpha 0 must not wrap round to nearly opaque.
        s.AlphaBlendValue = static_cast<BYTE>(s.AlphaBlendValue < TRANSP_ALPHA_STEP ? 0 : s.AlphaBlendValue - TRANSP_ALPHA_STEP);
        if (s.AlphaBlendValue >= TRANSP_GONE_ALPHA) return false;
        s.TimerEnabled = false;
        s.AlphaBlendValue = 0;
        s.FFormStatus = fsHidden;
        return true;
    case fsHidden:
        break;
    }
    return false;
}

bool TranspCloseQuery(TTranspState& s) {
    if (s.FFormStatus == fsHidden) return true;
    s.FFormStatus = fsHiding;
    s.Interval = TRANSP_STEP_MS;
    s.TimerEnabled = true;
    return false;
}

void TranspPointerOver(TTranspState& s) {
    if (s.Dragging) return;
    s.AlphaBlendValue = TRANSP_HOVER_ALPHA;
    TranspStartHold(s);
}

void TranspDragStart(TTranspState& s) {
    TranspPointerOver(s);
    s.TimerEnabled = false;
    s.Dragging = true;
}

void TranspDragEnd(TTranspState& s) {
    s.Dragging = false;
    TranspStartHold(s);
}

COLORREF TranspBackground(BYTE Kind) { return Kind == 1 ? 12171775 : 12254914; }

// ---- the form ----

TfrmShowMessTransp::TfrmShowMessTransp(const std::wstring& Title, const std::wstring& Text, BYTE Kind)
    : lbMessageTitle(Title), lbTranspText(Text), FColor(TranspBackground(Kind)) {
    HWND owner = gui::App().Initialized() ? gui::App().Handle() : nullptr;
    // Its text is what it shows, for the tools that read windows (screen readers).
    Create({ClassName}, Title + L"\r\n" + Text, WS_POPUP, WS_EX_LAYERED | WS_EX_TOPMOST, Config.TipWindow.Left,
           Config.TipWindow.Top, TRANSP_CLIENT_WIDTH, TRANSP_CLIENT_HEIGHT, owner);
    FState = TTranspState{};
    ApplyState();
    tmrTranspForm.senderClass = "TTimer";
    tmrTranspForm.OnTimer = [this] { tmrTranspFormTimer(); };
    tmrTranspForm.SetInterval(TRANSP_STEP_MS);
    tmrTranspForm.SetEnabled(true);
}

void TfrmShowMessTransp::ApplyState() {
    if (Handle()) SetLayeredWindowAttributes(Handle(), 0, FState.AlphaBlendValue, LWA_ALPHA);
    if (!FState.TimerEnabled) {
        tmrTranspForm.SetEnabled(false);
    } else if (FState.TimerRestart || !tmrTranspForm.Enabled() || tmrTranspForm.Interval() != FState.Interval) {
        tmrTranspForm.SetEnabled(false);
        tmrTranspForm.SetInterval(FState.Interval);
        tmrTranspForm.SetEnabled(true);
    }
    FState.TimerRestart = false;
}

void TfrmShowMessTransp::ShowNonModal() {
    ShowWindow(Handle(), SW_SHOWNOACTIVATE);
    FormShow();
}

void TfrmShowMessTransp::ShowModal() {
    HWND self = Handle();
    // Like any modal form: the thread's other windows take no input meanwhile.
    std::vector<HWND> disabled;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM lp) -> BOOL {
            auto* list = reinterpret_cast<std::vector<HWND>*>(lp);
            if (IsWindowVisible(w) && IsWindowEnabled(w)) list->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled));
    for (HWND w : disabled) EnableWindow(w, FALSE);
    ShowWindow(self, SW_SHOW);
    FormShow();
    MSG m;
    while (IsWindow(self)) {
        int r = GetMessageW(&m, nullptr, 0, 0);
        if (r <= 0) {
            if (r == 0) PostQuitMessage(static_cast<int>(m.wParam));  // leave the quit to the outer loop
            break;
        }
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    for (HWND w : disabled)
        if (IsWindow(w)) EnableWindow(w, TRUE);
}

void TfrmShowMessTransp::FormShow() { FState.FFormStatus = fsAppearance; }

void TfrmShowMessTransp::StartHold() {
    TranspStartHold(FState);
    ApplyState();
}

void TfrmShowMessTransp::tmrTranspFormTimer() {
    bool close = TranspTimerStep(FState);
    ApplyState();
    if (close) Close();
}

bool TfrmShowMessTransp::FormCloseQuery() {
    bool ok = TranspCloseQuery(FState);
    ApplyState();
    return ok;
}

void TfrmShowMessTransp::Close() {
    if (FReleased || !FormCloseQuery()) return;
    FormClose();
}

void TfrmShowMessTransp::StorePosition() {
    RECT r = BoundsRect();
    Config.TipWindow.Top = r.top;
    Config.TipWindow.Left = r.left;
}

void TfrmShowMessTransp::FormClose() {
    StorePosition();
    FReleased = true;
    tmrTranspForm.SetEnabled(false);
    PostMessageW(Handle(), CM_RELEASE, 0, 0);
}

void TfrmShowMessTransp::FormMouseLeave() {
    FState.AlphaBlendValue = TRANSP_SHOWN_ALPHA;
    ApplyState();
    Close();
}

LRESULT TfrmShowMessTransp::WMNCHitTest(WPARAM wp, LPARAM lp) {
    LRESULT r = DefaultHandler(WM_NCHITTEST, wp, lp);
    if (FReleased) return r;
    TranspPointerOver(FState);
    ApplyState();
    return r;
}

// Dragged by the window itself, not by answering HTCAPTION: the system's move loop takes the
// pointer out of the client area, which reads as the pointer leaving and starts the fade-out.
void TfrmShowMessTransp::DragTo(POINT cursor) {
    SetWindowPos(Handle(), nullptr, cursor.x - FGrip.x, cursor.y - FGrip.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmShowMessTransp::EndDrag() {
    TranspDragEnd(FState);
    ApplyState();
    StorePosition();  // where it was released, even if it is never closed
    FTracking = false;
}

void TfrmShowMessTransp::FormPaint(HDC dc) {
    RECT rc;
    GetClientRect(Handle(), &rc);
    gui::BrushHandle b(CreateSolidBrush(FColor));
    FillRect(dc, &rc, b.get());
    Frame3D(dc, rc, LightenColor(FColor, 60), DarkenColor(FColor, 60), 2);

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    FontPtr bold = TahomaFont(true);
    FontPtr normal = TahomaFont(false);
    HGDIOBJ old = SelectObject(dc, bold.get());
    RECT title{30, 8, rc.right, 8 + 14};
    DrawTextW(dc, lbMessageTitle.c_str(), -1, &title, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, normal.get());
    RECT text{8, 27, 8 + 225, 27 + 134};
    DrawTextW(dc, lbTranspText.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    pbApplicationIconPaint(dc);
}

void TfrmShowMessTransp::pbApplicationIconPaint(HDC dc) {
    auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, 16, 16, LR_SHARED));
    if (!icon) icon = LoadIconW(nullptr, IDI_APPLICATION);
    DrawIconEx(dc, 8, 7, icon, 16, 16, 0, nullptr, DI_NORMAL);
}

LRESULT TfrmShowMessTransp::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCHITTEST:
        return WMNCHitTest(wp, lp);
    case WM_MOUSEMOVE:
        if (FState.Dragging && !(wp & MK_LBUTTON)) {
            EndDrag();  // released where we did not see it
        } else if (FState.Dragging) {
            // The message's point, not GetCursorPos, which can lag behind it.
            POINT c{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
            ClientToScreen(Handle(), &c);
            DragTo(c);
        } else if (!FTracking) {
            TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, Handle(), 0};
            FTracking = TrackMouseEvent(&t) != FALSE;
        }
        break;
    case WM_MOUSELEAVE:
        FTracking = false;
        if (!FState.Dragging) FormMouseLeave();
        return 0;
    case WM_LBUTTONDOWN:
        if (FReleased) break;
        FGrip = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};  // no border: client and window corners meet
        TranspDragStart(FState);
        ApplyState();
        SetCapture(Handle());
        return 0;
    case WM_LBUTTONUP:
        if (FState.Dragging) {
            EndDrag();
            ReleaseCapture();
        }
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    case CM_RELEASE:
        // Not Destroy(): this object is gone once DestroyWindow returns.
        DestroyWindow(Handle());
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        FormPaint(dc);
        EndPaint(Handle(), &ps);
        return 0;
    }
    }
    return DefaultHandler(msg, wp, lp);
}

void TfrmShowMessTransp::Destroyed() { delete this; }

void ShowTransparentMessage(const std::wstring& Title, const std::wstring& Text, BYTE Kind) {
    auto* f = new TfrmShowMessTransp(Title, Text, Kind);
    if (!f->Handle()) {
        delete f;
        return;
    }
    f->ShowNonModal();
}

void ShowTransparentMessageModal(const std::wstring& Title, const std::wstring& Text, BYTE Kind) {
    auto* f = new TfrmShowMessTransp(Title, Text, Kind);
    if (!f->Handle()) {
        delete f;
        return;
    }
    f->ShowModal();
}

void ReportFailure(const std::wstring& Title, const std::wstring& What, const std::wstring& Target,
                   const std::wstring& Reason) {
    std::wstring text = What;
    if (!Target.empty() && Target != What) text += L"\r\n" + Target;
    if (!Reason.empty()) text += L"\r\n" + Reason;
    ShowTransparentMessage(Title, text, 1);
}

void ReportFailedStart(const std::wstring& What, const std::wstring& Target, DWORD Error) {
    // Some of the system's texts name the file as "%1" ("%1 is not a valid Win32 application.").
    std::wstring reason = gui::SysErrorMessage(Error);
    for (size_t at = reason.find(L"%1"); at != std::wstring::npos; at = reason.find(L"%1", at + Target.size()))
        reason.replace(at, 2, Target);
    ReportFailure(L"Could not start", What, Target, reason);
}
