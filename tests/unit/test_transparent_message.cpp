// The notification window: fade steps and hold, refused closes, the pointer hold, and real
// windows shown without activation, moved, closed and (modal) waited for.
#include <gtest/gtest.h>

#include <algorithm>

#include "settings/Configs.h"
#include "TestSupport.h"
#include "bar/TransparentMessage.h"

using testing_support::FindProcessWindow;
using testing_support::WaitUntil;

TEST(TranspState, FadesInInStepsOfFiveHoldsThenFadesOutAndCloses) {
    TTranspState s;
    s.FFormStatus = fsAppearance;
    for (int tick = 1; tick <= 24; ++tick) {
        EXPECT_FALSE(TranspTimerStep(s));
        ASSERT_EQ(s.AlphaBlendValue, tick * 5);
        ASSERT_EQ(s.FFormStatus, fsAppearance);
    }
    EXPECT_FALSE(TranspTimerStep(s));  // 125: above 120, the hold starts
    EXPECT_EQ(s.AlphaBlendValue, 125);
    EXPECT_EQ(s.FFormStatus, fsVisible);
    EXPECT_EQ(s.Interval, TRANSP_HOLD_MS);
    EXPECT_TRUE(s.TimerRestart);

    EXPECT_TRUE(TranspTimerStep(s));  // hold over: close requested
    EXPECT_FALSE(TranspCloseQuery(s));  // refused, fade-out begins
    EXPECT_EQ(s.FFormStatus, fsHiding);
    EXPECT_EQ(s.Interval, TRANSP_STEP_MS);
    int ticks = 0;
    while (!TranspTimerStep(s)) {
        ASSERT_EQ(s.AlphaBlendValue % 5, 0);
        ASSERT_LT(++ticks, 100);
    }
    EXPECT_EQ(ticks, 23);  // 125 down to 10, then the step below 10 ends it
    EXPECT_EQ(s.AlphaBlendValue, 0);
    EXPECT_EQ(s.FFormStatus, fsHidden);
    EXPECT_FALSE(s.TimerEnabled);
    EXPECT_TRUE(TranspCloseQuery(s));  // now the close goes through
    EXPECT_FALSE(TranspTimerStep(s));  // hidden: ticks do nothing
}

TEST(TranspState, CloseDuringFadeInFadesFromTheCurrentAlphaWithoutWrapping) {
    for (BYTE start : {BYTE(0), BYTE(5), BYTE(40)}) {
        TTranspState s;
        s.FFormStatus = fsAppearance;
        s.AlphaBlendValue = start;
        EXPECT_FALSE(TranspCloseQuery(s));
        BYTE highest = s.AlphaBlendValue;
        int ticks = 0;
        while (!TranspTimerStep(s)) {
            highest = std::max(highest, s.AlphaBlendValue);
            ASSERT_LT(++ticks, 100);
        }
        EXPECT_LE(highest, start) << "alpha rose while fading out from " << int(start);
        EXPECT_EQ(s.FFormStatus, fsHidden);
    }
}

TEST(TranspState, PointerHoldsAtTwoHundredAndDragsFromAnywhere) {
    TTranspState s;
    s.FFormStatus = fsHiding;
    s.AlphaBlendValue = 60;
    TranspPointerOver(s);
    EXPECT_EQ(s.FFormStatus, fsVisible);
    EXPECT_EQ(s.AlphaBlendValue, 200);
    EXPECT_EQ(s.Interval, TRANSP_HOLD_MS);
    EXPECT_TRUE(s.TimerRestart);

    // Dragged: shown, no fade and no pointer hold until released; then held again.
    TranspDragStart(s);
    EXPECT_FALSE(s.TimerEnabled);
    s.AlphaBlendValue = 0;
    TranspPointerOver(s);
    EXPECT_EQ(s.AlphaBlendValue, 0);
    TranspDragEnd(s);
    EXPECT_EQ(s.FFormStatus, fsVisible);
    EXPECT_TRUE(s.TimerEnabled);
    EXPECT_EQ(s.Interval, TRANSP_HOLD_MS);

    EXPECT_EQ(TranspBackground(1), 0xB9B9FFu);
    EXPECT_EQ(TranspBackground(0), 0xBAFEC2u);
    EXPECT_EQ(TranspBackground(2), 0xBAFEC2u);
}

namespace {

HWND OurNotification() { return FindProcessWindow(GetCurrentProcessId(), TfrmShowMessTransp::ClassName); }

TfrmShowMessTransp* Form(HWND w) { return dynamic_cast<TfrmShowMessTransp*>(gui::Window::FromHandle(w)); }

BYTE ShownAlpha(HWND w) {
    BYTE a = 0;
    DWORD flags = 0;
    GetLayeredWindowAttributes(w, nullptr, &a, &flags);
    return a;
}

// A place on the screen away from the pointer, so no hover changes the fade.
POINT AwayFromPointer() {
    POINT c{};
    GetCursorPos(&c);
    return {c.x < 640 ? 900 : 100, c.y < 512 ? 700 : 100};
}

}  // namespace

TEST(TfrmShowMessTransp, ShownWithoutActivationFadesInRefusesCloseAndRemembersItsPlace) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TranspTestFocus";
    RegisterClassW(&wc);
    HWND focus = CreateWindowExW(0, L"TranspTestFocus", L"focus", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 600, 200, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(focus);
    WaitUntil([&] { return GetForegroundWindow() == focus; }, 1000);

    POINT at = AwayFromPointer();
    Config.TipWindow.Left = at.x;
    Config.TipWindow.Top = at.y;
    DWORD t0 = GetTickCount();
    ShowTransparentMessage(L"Title", L"Wait a moment, please...", 2);
    HWND w = OurNotification();
    ASSERT_NE(w, nullptr);
    TfrmShowMessTransp* f = Form(w);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r{};
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, at.x);
    EXPECT_EQ(r.top, at.y);
    EXPECT_EQ(r.right - r.left, 243);
    EXPECT_EQ(r.bottom - r.top, 173);
    EXPECT_EQ(f->State().FFormStatus, fsAppearance);
    EXPECT_EQ(f->Color(), 0xBAFEC2u);
    EXPECT_NE(GetForegroundWindow(), w);

    // Part way: rising in steps of 5, the window's own alpha following.
    WaitUntil([] { return false; }, 200);
    BYTE mid = f->State().AlphaBlendValue;
    EXPECT_GT(mid, 0);
    EXPECT_LE(mid, 120);
    EXPECT_EQ(mid % 5, 0);
    EXPECT_EQ(ShownAlpha(w), mid);

    ASSERT_TRUE(WaitUntil([&] { return f->State().FFormStatus == fsVisible; }, 4000));
    DWORD fadeIn = GetTickCount() - t0;
    EXPECT_EQ(f->State().AlphaBlendValue, 125);
    EXPECT_GE(fadeIn, 25u * 40u - 100u);  // 25 ticks of 40 ms
    // Other test programs may move the foreground meanwhile; the notification never takes it.
    EXPECT_NE(GetForegroundWindow(), w) << "the notification took the focus";
    EXPECT_NE(GetActiveWindow(), w);

    // A close request is refused and starts the fade-out.
    SendMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_EQ(f->State().FFormStatus, fsHiding);
    SetWindowPos(w, nullptr, at.x + 37, at.y + 21, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(w); }, 4000));
    EXPECT_EQ(Config.TipWindow.Left, at.x + 37);
    EXPECT_EQ(Config.TipWindow.Top, at.y + 21);
    DestroyWindow(focus);
}

TEST(TfrmShowMessTransp, PointerOverHoldsAndLeavingFadesOutFrom120) {
    POINT at = AwayFromPointer();
    Config.TipWindow.Left = at.x;
    Config.TipWindow.Top = at.y;
    ShowTransparentMessage(L"Hover", L"text", 1);
    HWND w = OurNotification();
    ASSERT_NE(w, nullptr);
    TfrmShowMessTransp* f = Form(w);
    EXPECT_EQ(f->Color(), 0xB9B9FFu);
    WaitUntil([] { return false; }, 100);
    LRESULT hit = SendMessageW(w, WM_NCHITTEST, 0, MAKELPARAM(at.x + 100, at.y + 80));
    EXPECT_EQ(hit, HTCLIENT);
    EXPECT_EQ(f->State().FFormStatus, fsVisible);
    EXPECT_EQ(f->State().AlphaBlendValue, 200);
    EXPECT_EQ(ShownAlpha(w), 200);
    SendMessageW(w, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(f->State().FFormStatus, fsHiding);
    EXPECT_EQ(f->State().AlphaBlendValue, 120);
    WaitUntil([] { return false; }, 200);
    EXPECT_LT(f->State().AlphaBlendValue, 120);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(w); }, 4000));
}

namespace {
struct ModalWatch {
    bool sawWindow = false;
    bool wasVisible = false;
} g_modal;

void CALLBACK CloseModalSoon(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND w = OurNotification();
    g_modal.sawWindow = w != nullptr;
    g_modal.wasVisible = w && IsWindowVisible(w);
    if (w) PostMessageW(w, WM_CLOSE, 0, 0);
}
}  // namespace

TEST(TfrmShowMessTransp, ModalCallReturnsOnceFadedOut) {
    POINT at = AwayFromPointer();
    Config.TipWindow.Left = at.x;
    Config.TipWindow.Top = at.y;
    g_modal = {};
    SetTimer(nullptr, 0, 300, CloseModalSoon);
    DWORD t0 = GetTickCount();
    ShowTransparentMessageModal(L"Data file is not available", L"Try to launch the program one more time\r\n", 1);
    DWORD took = GetTickCount() - t0;
    EXPECT_TRUE(g_modal.sawWindow);
    EXPECT_TRUE(g_modal.wasVisible);
    EXPECT_EQ(OurNotification(), nullptr);
    // Closed during the fade-in at about alpha 35: that many ticks back down and no 3 s hold.
    // (Wine without a window manager spends about 2 s taking a shown window off the screen.)
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 4000u);
    EXPECT_EQ(Config.TipWindow.Left, at.x);
    EXPECT_EQ(Config.TipWindow.Top, at.y);
}

// A real drag with the pointer, longer than the hold: shown throughout, kept where released.
TEST(TfrmShowMessTransp, DraggedByThePointerStaysShownAndKeepsWhereItIsReleased) {
    Config.TipWindow.Left = 300;
    Config.TipWindow.Top = 300;
    ShowTransparentMessage(L"Drag", L"me", 2);
    HWND w = OurNotification();
    ASSERT_NE(w, nullptr);
    auto press = [](DWORD flags) {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi.dwFlags = flags;
        SendInput(1, &in, sizeof(in));
    };
    SetCursorPos(420, 390);
    WaitUntil([] { return false; }, 300);
    press(MOUSEEVENTF_LEFTDOWN);
    BYTE least = 255;
    for (int i = 1; i <= 16; ++i) {
        SetCursorPos(420 + 10 * i, 390 + 12 * i);
        WaitUntil([] { return false; }, 250);
        least = std::min(least, ShownAlpha(w));
    }
    press(MOUSEEVENTF_LEFTUP);
    WaitUntil([] { return false; }, 200);
    ASSERT_TRUE(IsWindow(w));
    EXPECT_GE(least, TRANSP_HOVER_ALPHA);
    RECT r{};
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, 460);
    EXPECT_EQ(r.top, 492);
    EXPECT_EQ(Config.TipWindow.Left, 460);
    EXPECT_EQ(Config.TipWindow.Top, 492);
    SetCursorPos(1200, 1000);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(w); }, 8000));
    EXPECT_EQ(Config.TipWindow.Left, 460);
}
