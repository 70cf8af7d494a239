// Starting orvane.exe twice, and two copies under different names.
#include <gtest/gtest.h>

#include "IniFile.h"
#include "SysUtils.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

struct Copy {
    std::wstring exe, log, ini;
};

Copy MakeCopy(const TempDir& dir, const std::wstring& name) {
    Copy c{dir / (name + L".exe"), dir / (name + L".log"), dir / (name + L".ini")};
    EXPECT_TRUE(CopyFileW((BinDir() + L"orvane.exe").c_str(), c.exe.c_str(), FALSE));
    WriteFileBytes(c.log, "");
    return c;
}

HWND AppWindow(HANDLE process) { return FindProcessWindow(GetProcessId(process), L"TOrvaneApplication"); }

void Stop(HANDLE process) {
    HWND w = AppWindow(process);
    if (w) PostMessageW(w, WM_CLOSE, 0, 0);
    if (WaitProcess(process, 15000) < 0) TerminateProcess(process, 9);
    CloseHandle(process);
}

}  // namespace

TEST(SingleInstance, SecondStartEndsQuietlyAndRewritesSettings) {
    TempDir dir(L"si");
    // A unique name keeps this test's mutex apart from other tests running at the same time.
    std::wstring name = L"orvane_si" + std::to_wstring(GetCurrentProcessId());
    Copy c = MakeCopy(dir, name);
    HANDLE first = StartProcess(L"\"" + c.exe + L"\"", dir.Path());
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFileBytes(c.log), "Program start... ( ") == 1; }, 20000));
    ASSERT_TRUE(WaitUntil([&] { return AppWindow(first) != nullptr; }, 10000));
    DeleteFileW(c.ini.c_str());

    HANDLE second = StartProcess(L"\"" + c.exe + L"\"", dir.Path());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitProcess(second, 20000), 0);
    CloseHandle(second);
    std::string log = ReadFileBytes(c.log);
    EXPECT_EQ(CountOf(log, "Program start... ( "), 1) << log;
    EXPECT_TRUE(gui::FileExists(c.ini)) << "the second instance writes the settings at its end";
    EXPECT_EQ(WaitProcess(first, 0), -1) << "the first instance still runs";

    std::string startLine = log.substr(log.find("> "));
    EXPECT_EQ(startLine.substr(0, 2 + 36 + 2), "> " + std::string(36, '=') + "\r\n");
    EXPECT_EQ(startLine.substr(40, 15 + 19), std::string(15, ' ') + "Program start... ( ");
    EXPECT_EQ(startLine.substr(startLine.size() - 4), " )\r\n");

    DeleteFileW(c.ini.c_str());
    Stop(first);
    EXPECT_TRUE(gui::FileExists(c.ini));
    gui::IniFile ini(c.ini);
    EXPECT_EQ(ini.ReadInteger(L"General", L"LogPriority", -1), 4);
    EXPECT_TRUE(ini.SectionExists(L"ClockFormats"));
}

TEST(SingleInstance, CopiesUnderDifferentNamesBothRun) {
    TempDir dir(L"si2");
    std::wstring base = L"orvane_two" + std::to_wstring(GetCurrentProcessId());
    Copy a = MakeCopy(dir, base + L"a");
    Copy b = MakeCopy(dir, base + L"b");
    HANDLE pa = StartProcess(L"\"" + a.exe + L"\"", dir.Path());
    HANDLE pb = StartProcess(L"\"" + b.exe + L"\"", dir.Path());
    ASSERT_TRUE(pa && pb);
    EXPECT_TRUE(WaitUntil([&] { return CountOf(ReadFileBytes(a.log), "Program start") == 1 &&
                                       CountOf(ReadFileBytes(b.log), "Program start") == 1; }, 20000));
    EXPECT_EQ(WaitProcess(pa, 0), -1);
    EXPECT_EQ(WaitProcess(pb, 0), -1);
    Stop(pa);
    Stop(pb);
}
