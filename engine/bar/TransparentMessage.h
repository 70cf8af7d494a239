#pragma once
// The notification window: a small borderless window that fades in, shows a title and a text
// for three seconds and fades out, without taking the focus. Pointing at it holds it; dragging
// anywhere on it moves it; it reopens where it was last left (Config.TipWindow).
#include <windows.h>

#include <string>

#include "Timer.h"
#include "Window.h"

enum TFormStatus { fsHidden, fsAppearance, fsVisible, fsHiding };

constexpr UINT TRANSP_STEP_MS = 40;     // fade timer interval
constexpr UINT TRANSP_HOLD_MS = 3000;   // how long the notification stays once faded in
constexpr BYTE TRANSP_ALPHA_STEP = 5;   // alpha change per fade tick
constexpr BYTE TRANSP_SHOWN_ALPHA = 120;  // fade-in ends above this; the pointer leaving restarts from it
constexpr BYTE TRANSP_HOVER_ALPHA = 200;
constexpr BYTE TRANSP_GONE_ALPHA = 10;  // fade-out ends below this
constexpr int TRANSP_CLIENT_WIDTH = 243;
constexpr int TRANSP_CLIENT_HEIGHT = 173;

// Fade state and timer settings of one notification, kept apart from the window so the steps
// can be driven directly.
struct TTranspState {
    TFormStatus FFormStatus = fsHidden;
    BYTE AlphaBlendValue = 0;
    UINT Interval = TRANSP_STEP_MS;
    bool TimerEnabled = true;
    bool TimerRestart = false;  // the hold starts over: the timer is to be restarted
    bool Dragging = false;
};

// One tick of the fade timer; true when the form is to be closed.
bool TranspTimerStep(TTranspState& s);
// Faded in (or pointed at): hold for TRANSP_HOLD_MS.
void TranspStartHold(TTranspState& s);
// A close request: allowed only once faded out; otherwise refused and the fade-out starts.
bool TranspCloseQuery(TTranspState& s);
// The pointer moves over the window.
void TranspPointerOver(TTranspState& s);
// Dragged: shown at the hover alpha, no fade and no hold running, until released; then held.
void TranspDragStart(TTranspState& s);
void TranspDragEnd(TTranspState& s);
// Background by kind: 1 light red, anything else light green.
COLORREF TranspBackground(BYTE Kind);

void ShowTransparentMessage(const std::wstring& Title, const std::wstring& Text, BYTE Kind);
void ShowTransparentMessageModal(const std::wstring& Title, const std::wstring& Text, BYTE Kind);

class TfrmShowMessTransp : public gui::Window {
public:
    static constexpr const wchar_t* ClassName = L"TfrmShowMessTransp";

    const TTranspState& State() const { return FState; }
    COLORREF Color() const { return FColor; }
    // Asks the form to close, as WM_CLOSE does.
    void Close();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void Destroyed() override;
    const char* ClassNameForErrors() const override { return "TfrmShowMessTransp"; }

private:
    friend void ShowTransparentMessage(const std::wstring&, const std::wstring&, BYTE);
    friend void ShowTransparentMessageModal(const std::wstring&, const std::wstring&, BYTE);
    // Creates the (still hidden) form at Config.TipWindow. Only the show calls make one: the
    // form frees itself once closed.
    TfrmShowMessTransp(const std::wstring& Title, const std::wstring& Text, BYTE Kind);
    void ShowNonModal();
    void ShowModal();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormMouseLeave();
    void FormPaint(HDC dc);
    void pbApplicationIconPaint(HDC dc);
    void tmrTranspFormTimer();
    LRESULT WMNCHitTest(WPARAM wp, LPARAM lp);
    void DragTo(POINT cursor);
    void EndDrag();
    void StartHold();
    void ApplyState();
    void StorePosition();

    std::wstring lbMessageTitle;
    std::wstring lbTranspText;
    COLORREF FColor;
    TTranspState FState;
    gui::Timer tmrTranspForm{TRANSP_STEP_MS};
    bool FReleased = false;   // closed for real; waiting to be destroyed
    bool FTracking = false;   // asked for the pointer-leave notice
    POINT FGrip{};            // where the pointer holds the window while it is dragged
};

// Shows a notification and returns at once; it does not take the focus.
void ShowTransparentMessage(const std::wstring& Title, const std::wstring& Text, BYTE Kind);
// Shows a notification and returns when it has faded out and closed.
void ShowTransparentMessageModal(const std::wstring& Title, const std::wstring& Text, BYTE Kind);

// Something the user asked for failed: a light red notification under Title naming What (and
// Target, the file or command it concerns, when that says more) and the Reason.
void ReportFailure(const std::wstring& Title, const std::wstring& What, const std::wstring& Target,
                   const std::wstring& Reason);
// A start that failed: "Could not start", with the system's message for Error as the reason.
void ReportFailedStart(const std::wstring& What, const std::wstring& Target, DWORD Error);
