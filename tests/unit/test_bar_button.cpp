// A bar button on a real window: the gradient it paints and its click before its menu exists.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "settings/DKLog.h"
#include "settings/Configs.h"
#include "DataTestSupport.h"
#include "bar/DKButton.h"
#include "util/DKUtils.h"
#include "bar/Main.h"
#include "PlainMenu.h"
#include "TestSupport.h"
#include "Window.h"

using testing_support::WaitUntil;

namespace {

class Host : public gui::Window {
public:
    Host() { Create({L"BarButtonTestHost"}, L"host", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW, 0, 300, 400, 19); }
};

COLORREF ScreenPixel(HWND w, int x, int y) {
    HDC dc = GetDC(w);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(w, dc);
    return c;
}

HWND VisibleNotification() {
    for (HWND w = FindWindowW(L"TfrmShowMessTransp", nullptr); w;
         w = FindWindowExW(nullptr, w, L"TfrmShowMessTransp", nullptr))
        if (IsWindowVisible(w) && GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) return w;
    return nullptr;
}

}  // namespace

TEST(BarButton, PaintsItsSchemeGradientLighterWhenHighlighted) {
    COLORREF top, bottom;
    TDKButton::GradientColors(0x023917, false, top, bottom);
    EXPECT_EQ(top, DarkenColor(0x023917, 15));
    EXPECT_EQ(bottom, DarkenColor(0x023917, 60));
    TDKButton::GradientColors(0x023917, true, top, bottom);
    EXPECT_EQ(top, LightenColor(0x023917, 30));

    Host host;
    TDKButton b(host.Handle());
    b.SetID(0);
    b.SetCaption(L"Programs");
    b.SetBounds(0, 0, 142, 19);
    UpdateWindow(b.Handle());
    WaitUntil([] { return false; }, 200);
    // Inside the outline: the first row carries the top colour, the outline itself is black.
    COLORREF normalTop = ScreenPixel(b.Handle(), 120, 1);
    EXPECT_EQ(ScreenPixel(b.Handle(), 0, 5), RGB(0, 0, 0));
    b.DoMouseEnter(nullptr);
    UpdateWindow(b.Handle());
    WaitUntil([] { return false; }, 200);
    COLORREF lightTop = ScreenPixel(b.Handle(), 120, 1);
    EXPECT_GT(GetGValue(lightTop), GetGValue(normalTop));
    EXPECT_NEAR(GetGValue(lightTop), GetGValue(LightenColor(0x023917, 30)), 12);
    EXPECT_NEAR(GetGValue(normalTop), GetGValue(DarkenColor(0x023917, 15)), 12);
    b.ButtonMouseLeave(nullptr);
    EXPECT_FALSE(b.Highligted());
}

TEST(BarButton, ClickBeforeTheMenuExistsShowsTheWaitNotification) {
    Host host;
    TDKButton b(host.Handle());
    b.SetID(1);
    b.SetCaption(L"Files");
    b.SetBounds(0, 0, 142, 19);
    ASSERT_EQ(b.PopupMenu(), nullptr);
    b.DoClick(nullptr);
    EXPECT_TRUE(WaitUntil([] { return VisibleNotification() != nullptr; }, 3000));
    HWND n = VisibleNotification();
    ASSERT_NE(n, nullptr);
    RECT r;
    GetWindowRect(n, &r);
    EXPECT_EQ(r.left, Config.TipWindow.Left);
    EXPECT_EQ(r.top, Config.TipWindow.Top);
    // It fades out by itself and goes away.
    EXPECT_TRUE(WaitUntil([] { return VisibleNotification() == nullptr; }, 30000));
}

namespace {
TDKPopupMenu* BrokenProvider(TDKButton*) { throw std::runtime_error("no such folder"); }

TDKPopupMenu* WorkingProvider(TDKButton* b) { return new TPlainMenu(TMenuOwner{b->Caption(), b->ID(), 0, b}); }
}  // namespace

TEST(MenuThread, AFailedProviderLeavesItsButtonWithoutAMenuAndSaysSo) {
    std::wstring log = LogFileName();
    testing_support::WriteFileBytes(log, "");
    Config.LogPriority = 0;
    Host host;
    TDKButton broken(host.Handle()), working(host.Handle());
    broken.SetCaption(L"Files");
    working.SetCaption(L"Help");
    new TCreateMenuThread(&broken, BrokenProvider);
    new TCreateMenuThread(&working, WorkingProvider);
    auto text = [&] { return testing_support::ReadFileBytes(log); };
    EXPECT_TRUE(WaitUntil([&] {
        std::string t = text();
        return t.find("Files menu has been created") != std::string::npos &&
               t.find("Help menu has been created") != std::string::npos;
    }, 10000));
    std::string t = text();
    size_t failure = t.find("> (m2) / Files /no such folder\r\n");
    EXPECT_NE(failure, std::string::npos) << t;
    EXPECT_LT(t.find("Files menu creating start..."), failure);
    EXPECT_LT(failure, t.find("Files menu has been created"));
    EXPECT_EQ(broken.PopupMenu(), nullptr);
    ASSERT_NE(working.PopupMenu(), nullptr);
    EXPECT_EQ(working.PopupMenu()->Items()->MIID(), -1);
    delete working.PopupMenu();
    Config.LogPriority = 4;
    DeleteFileW(log.c_str());
}

namespace {
HANDLE gReleaseBuilder = nullptr;

// A provider still at work until the test lets it finish.
TDKPopupMenu* SlowProvider(TDKButton* b) {
    WaitForSingleObject(gReleaseBuilder, 60000);
    auto* m = new TPlainMenu(TMenuOwner{b->Caption(), b->ID(), 0, b});
    m->Items()->AddMenuItem(600, L"Built late")->SetLoadable(true);
    m->FStoredLoaded = true;
    return m;
}
}  // namespace

// At the session end the built menus are written before anything waits for a menu still being
// built (Windows ends a shell that is slow to answer); that one is written once it is built.
TEST(SessionEnd, BuiltMenusAreWrittenBeforeTheWaitForBuilders) {
    testing_support::TempDir dir{L"end"};
    DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
    ASSERT_TRUE(DKData->Connected());
    gReleaseBuilder = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Host host;
    auto* built = new TDKButton(host.Handle());
    built->SetID(3);
    built->SetCaption(L"Internet");
    auto* menu = new TPlainMenu(TMenuOwner{L"Internet", 3, 0, built});
    menu->Items()->AddMenuItem(500, L"Saved at once")->SetLoadable(true);
    menu->FStoredLoaded = true;
    built->SetPopupMenu(menu);
    auto* slow = new TDKButton(host.Handle());
    slow->SetID(0);
    slow->SetCaption(L"Programs");
    new TCreateMenuThread(slow, SlowProvider);
    auto* clock = new TDKButton(host.Handle());
    clock->SetID(8);

    // Watches the file from outside while the session end runs, then lets the builder finish.
    std::atomic<bool> savedWhileBuilding{false};
    std::thread watcher([&] {
        data_test::RawDb raw(dir / L"dk.pdb");
        savedWhileBuilding = WaitUntil(
            [&] { return raw.Int("select count(*) from MenuItems where MID = 3 and Caption = 'Saved at once'") == 1; },
            10000);
        SetEvent(gReleaseBuilder);
    });
    std::vector<TDKButton*> buttons{slow, built, clock};
    FreeMenuButtons(buttons, 30000);
    watcher.join();
    EXPECT_TRUE(savedWhileBuilding);
    EXPECT_TRUE(buttons.empty());
    data_test::RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where MID = 0 and Caption = 'Built late'"), 1);
    DKData.reset();
    CloseHandle(gReleaseBuilder);
}
