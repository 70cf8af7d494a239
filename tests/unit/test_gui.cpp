// Our GUI layer: text lists, profile files, registry, threads talking to the GUI thread, timers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Application.h"
#include "IniFile.h"
#include "Registry.h"
#include "StringList.h"
#include "Subclass.h"
#include "Thread.h"
#include "Timer.h"
#include "TestSupport.h"

using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFileBytes;

TEST(StringList, NameValueLinesAndTextSplitting) {
    gui::StringList l;
    l.SetText(L"a=1\r\nKey=x=y\nnovalue\r=lead\r\n");
    ASSERT_EQ(l.Count(), 4);
    EXPECT_EQ(l.Value(L"KEY"), L"x=y");
    EXPECT_EQ(l.Name(2), L"novalue");
    EXPECT_EQ(l.ValueFromIndex(2), L"");
    EXPECT_EQ(l.Name(3), L"");
    EXPECT_EQ(l.ValueFromIndex(3), L"lead");
    l.SetValue(L"a", L"2");
    l.SetValue(L"b", L"3");
    EXPECT_EQ(l.Text(), L"a=2\r\nKey=x=y\r\nnovalue\r\n=lead\r\nb=3\r\n");
}

TEST(IniFile, CaseInsensitiveSectionsKeysAndIntegerForms) {
    TempDir dir;
    std::wstring path = dir / L"x.ini";
    WriteFileBytes(path, "[Alpha]\r\nCount=$1F\r\nNeg=-5\r\nHex=0X20\r\nBad=12z\r\n[Empty]\r\n");
    gui::IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger(L"ALPHA", L"count", 0), 31);
    EXPECT_EQ(ini.ReadInteger(L"alpha", L"NEG", 0), -5);
    EXPECT_EQ(ini.ReadInteger(L"alpha", L"hex", 0), 32);
    EXPECT_EQ(ini.ReadInteger(L"alpha", L"bad", 9), 9);
    EXPECT_FALSE(ini.SectionExists(L"Empty"));  // a section counts only with a key
    ini.WriteString(L"ALPHA", L"COUNT", L"7");
    gui::StringList keys;
    ini.ReadSection(L"alpha", keys);
    ASSERT_EQ(keys.Count(), 4);
    EXPECT_EQ(ini.ReadInteger(L"Alpha", L"Count", 0), 7);
    ini.EraseSection(L"alpha");
    EXPECT_FALSE(ini.SectionExists(L"Alpha"));
}

TEST(Registry, WritesReadsAndTypesValues) {
    std::wstring key = L"Software\\OrvaneTest\\gui" + std::to_wstring(GetCurrentProcessId());
    gui::Registry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(key, true));
    EXPECT_TRUE(reg.WriteString(L"Text", L"hello"));
    EXPECT_TRUE(reg.WriteInteger(L"Number", 42));
    EXPECT_EQ(reg.ReadString(L"Text"), L"hello");
    EXPECT_EQ(reg.ReadInteger(L"Number"), 42);
    EXPECT_EQ(reg.GetDataType(L"Number"), static_cast<DWORD>(REG_DWORD));
    EXPECT_THROW(reg.ReadString(L"Number"), std::runtime_error);
    EXPECT_EQ(reg.GetValueNames().size(), 2u);
    EXPECT_TRUE(reg.DeleteValue(L"Text"));
    EXPECT_FALSE(reg.ValueExists(L"Text"));
    reg.CloseKey();
    EXPECT_TRUE(reg.DeleteKey(key));
    EXPECT_FALSE(reg.KeyExists(key));
}

namespace {
class Worker : public gui::Thread {
public:
    std::atomic<DWORD> syncThread{0};
    std::atomic<bool> caught{false};
    std::atomic<bool>* destroyed = nullptr;
    ~Worker() override {
        if (destroyed) *destroyed = true;
    }

protected:
    void Execute() override {
        Synchronize([this] { syncThread = GetCurrentThreadId(); });
        try {
            Synchronize([] { throw std::runtime_error("from gui"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    }
};
}  // namespace

TEST(Thread, SynchronizeRunsOnTheGuiThreadAndRethrows) {
    Worker w;
    w.Start();
    w.WaitFor();
    EXPECT_EQ(w.syncThread.load(), GetCurrentThreadId());
    EXPECT_TRUE(w.caught.load());
}

TEST(Thread, FreeOnTerminateAndOnTerminateOnGuiThread) {
    std::atomic<bool> destroyed{false};
    DWORD terminateThread = 0;
    auto* w = new Worker;
    w->destroyed = &destroyed;
    w->FreeOnTerminate = true;
    w->OnTerminate = [&](gui::Thread*) { terminateThread = GetCurrentThreadId(); };
    w->Start();
    EXPECT_TRUE(WaitUntil([&] { return destroyed.load(); }, 5000));
    EXPECT_EQ(terminateThread, GetCurrentThreadId());
}

TEST(Thread, SelfFreeingThreadsThatEndAtOnceLeaveNoHandle) {
    struct Quick : gui::Thread {
        std::atomic<int>* done = nullptr;
        ~Quick() override { ++*done; }
        void Execute() override {}
    };
    std::atomic<int> done{0};
    const int kernel = testing_support::KernelHandleCount();
    for (int i = 0; i < 1000; ++i) {
        auto* t = new Quick;
        t->done = &done;
        t->FreeOnTerminate = true;
        t->Start();
    }
    EXPECT_TRUE(WaitUntil([&] { return done.load() == 1000; }, 60000));
    EXPECT_TRUE(WaitUntil([&] { return testing_support::KernelHandleCount() <= kernel + 5; }, 5000))
        << testing_support::KernelHandleCount() - kernel << " handles more";
}

TEST(Thread, QueuedWorkRunsLaterOnTheGuiThread) {
    std::atomic<DWORD> ranOn{0};
    std::thread t([&] { gui::App().Queue([&] { ranOn = GetCurrentThreadId(); }); });
    t.join();
    EXPECT_EQ(ranOn.load(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return ranOn.load() != 0; }, 5000));
    EXPECT_EQ(ranOn.load(), GetCurrentThreadId());
}

TEST(Timer, FiresUntilDisabledAndReportsExceptions) {
    gui::Timer timer(10);
    int ticks = 0;
    std::string error;
    gui::App().OnException = [&](const std::string& cls, const std::string& msg) { error = cls + ":" + msg; };
    timer.OnTimer = [&] {
        if (++ticks == 3) throw std::runtime_error("tick");
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 5; }, 5000));
    timer.SetEnabled(false);
    int stopped = ticks;
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, stopped);
    EXPECT_EQ(error, "TTimer:tick");
    gui::App().OnException = nullptr;
}

// Shared timers of one interval tick one after another on each wake-up, in the order they were
// enabled; one that a tick disables or frees does not tick after it.
TEST(Timer, SharedTimersTickTogether) {
    std::vector<char> order;
    gui::Timer a(15), b(15), other(15);
    auto c = std::make_unique<gui::Timer>(15);
    for (gui::Timer* t : {&a, &b, c.get()}) t->SetShared(true);
    a.OnTimer = [&] {
        order.push_back('a');
        if (order.size() > 6) c.reset();
    };
    b.OnTimer = [&] { order.push_back('b'); };
    c->OnTimer = [&] { order.push_back('c'); };
    a.SetEnabled(true);
    b.SetEnabled(true);
    c->SetEnabled(true);
    EXPECT_TRUE(a.Enabled() && b.Enabled());
    ASSERT_TRUE(WaitUntil([&] { return order.size() >= 14; }, 5000));
    a.SetEnabled(false);
    b.SetEnabled(false);
    EXPECT_FALSE(a.Enabled());
    // c is freed by a's third tick, before its own.
    EXPECT_EQ(std::string(order.begin(), order.begin() + 14), "abcabcabababab");
    size_t stopped = order.size();
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(order.size(), stopped);
    // A shared timer given another interval ticks only with the clock of that one, and once freed
    // it is ticked by neither.
    auto moved = std::make_unique<gui::Timer>(15);
    int movedTicks = 0;
    moved->SetShared(true);
    moved->OnTimer = [&] { ++movedTicks; };
    moved->SetEnabled(true);
    moved->SetInterval(30);
    EXPECT_TRUE(moved->Enabled());
    ASSERT_TRUE(WaitUntil([&] { return movedTicks >= 3; }, 5000));
    moved.reset();
    b.SetEnabled(true);  // the 15 ms clock runs again
    size_t before = order.size();
    ASSERT_TRUE(WaitUntil([&] { return order.size() >= before + 3; }, 5000));
    b.SetEnabled(false);
    // An unshared timer of the same interval keeps its own.
    int own = 0;
    other.OnTimer = [&] { ++own; };
    other.SetEnabled(true);
    EXPECT_TRUE(WaitUntil([&] { return own >= 2; }, 5000));
}

namespace {
struct SubclassSeen {
    std::vector<UINT> messages;
    bool unsubclassOnChar = false;
};
LRESULT SeeAndPassOn(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR data) {
    auto* seen = reinterpret_cast<SubclassSeen*>(data);
    seen->messages.push_back(msg);
    if (msg == WM_CHAR && wp == 'x') return 0;  // swallowed
    if (msg == WM_CHAR && seen->unsubclassOnChar) gui::Unsubclass(h);
    return gui::CallOriginal(h, msg, wp, lp);
}
LRESULT OtherProc(HWND, UINT, WPARAM, LPARAM, DWORD_PTR) { return 0; }
std::wstring TextOf(HWND h) {
    wchar_t buf[64] = {};
    GetWindowTextW(h, buf, 64);
    return buf;
}
}  // namespace

// The edit box's own handling still runs behind ours; a handler can leave from inside itself;
// the record of a destroyed window goes with it.
TEST(Subclass, PassesOnSwallowsLeavesAndForgets) {
    HWND box = CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(box);
    SubclassSeen seen;
    ASSERT_TRUE(gui::Subclass(box, SeeAndPassOn, reinterpret_cast<DWORD_PTR>(&seen)));
    EXPECT_EQ(gui::SubclassData(box, SeeAndPassOn), reinterpret_cast<DWORD_PTR>(&seen));
    EXPECT_EQ(gui::SubclassData(box, OtherProc), 0u);
    SendMessageW(box, WM_CHAR, 'a', 0);
    SendMessageW(box, WM_CHAR, 'x', 0);
    EXPECT_EQ(TextOf(box), L"a");
    EXPECT_EQ(std::count(seen.messages.begin(), seen.messages.end(), static_cast<UINT>(WM_CHAR)), 2);

    seen.unsubclassOnChar = true;
    SendMessageW(box, WM_CHAR, 'b', 0);
    EXPECT_EQ(TextOf(box), L"ab");
    EXPECT_EQ(gui::SubclassData(box, SeeAndPassOn), 0u);
    size_t before = seen.messages.size();
    SendMessageW(box, WM_CHAR, 'x', 0);
    EXPECT_EQ(TextOf(box), L"abx");
    EXPECT_EQ(seen.messages.size(), before);

    ASSERT_TRUE(gui::Subclass(box, SeeAndPassOn, reinterpret_cast<DWORD_PTR>(&seen)));
    DestroyWindow(box);
    EXPECT_EQ(seen.messages.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_EQ(gui::SubclassData(box, SeeAndPassOn), 0u);
}

TEST(Application, DefaultTitleFromExecutableName) {
    EXPECT_EQ(gui::Application::DefaultTitle(L"C:\\x\\ORVANE.EXE"), L"Orvane");
    EXPECT_EQ(gui::Application::DefaultTitle(L"C:\\x.y\\dk.backup.exe"), L"dk");
    EXPECT_EQ(gui::Application::DefaultTitle(L"aBCD"), L"abcd");
    EXPECT_EQ(gui::App().Title(), L"test_gui");
}

// The leak checks of other tests rest on these counts following what this process holds.
TEST(HandleCounts, FollowIconsBitmapsWindowsAndHandles) {
    using namespace testing_support;
    const int gdi = GdiObjectCount(), user = UserObjectCount(), kernel = KernelHandleCount();
    std::vector<HICON> icons;
    std::vector<HBITMAP> bitmaps;
    std::vector<HANDLE> events;
    for (int i = 0; i < 20; ++i) {
        icons.push_back(CreateIcon(nullptr, 16, 16, 1, 1, std::vector<BYTE>(32, 0xFF).data(), std::vector<BYTE>(32).data()));
        bitmaps.push_back(CreateBitmap(8, 8, 1, 32, nullptr));
        events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    HWND wnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_GE(GdiObjectCount(), gdi + 20);
    EXPECT_GE(UserObjectCount(), user + 21);
    EXPECT_GE(KernelHandleCount(), kernel + 20);
    for (HICON i : icons) DestroyIcon(i);
    for (HBITMAP b : bitmaps) DeleteObject(b);
    for (HANDLE e : events) CloseHandle(e);
    DestroyWindow(wnd);
    EXPECT_LE(GdiObjectCount(), gdi + 2);
    EXPECT_LE(UserObjectCount(), user + 2);
    EXPECT_LE(KernelHandleCount(), kernel + 2);
}
