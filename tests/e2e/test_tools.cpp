// The two programs beside the bar: the monitor records session-end queries, and set_explorer
// restores the default shell and ends a running bar.
#include <gtest/gtest.h>

#include <optional>

#include "Registry.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

HANDLE OpenWindowProcess(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
}

const wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

std::optional<std::wstring> ReadShell(HKEY root) {
    wchar_t buf[512] = {};
    DWORD size = sizeof buf;
    if (RegGetValueW(root, kWinlogon, L"Shell", RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buf);
}

void WriteShell(HKEY root, const std::optional<std::wstring>& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, kWinlogon, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (value)
        RegSetValueExW(key, L"Shell", 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                       static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key, L"Shell");
    RegCloseKey(key);
}

}  // namespace

TEST(Monitor, RecordsSessionEndQueriesAndEndsOnClose) {
    std::wstring log = BinDir() + L"dkmonitor.log";
    DeleteFileW(log.c_str());
    HANDLE first = StartProcess(L"\"" + BinDir() + L"dkmonitor.exe\"", BinDir());
    ASSERT_NE(first, nullptr);
    HWND w = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (w = FindWindowW(L"DKMonitor", L"Orvane Monitor")) != nullptr; }, 5000));
    EXPECT_FALSE(IsWindowVisible(w));

    // A second start finds the window and leaves at once.
    HANDLE second = StartProcess(L"\"" + BinDir() + L"dkmonitor.exe\"", BinDir());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitProcess(second, 5000), 0);
    CloseHandle(second);
    EXPECT_EQ(FindWindowW(L"DKMonitor", L"Orvane Monitor"), w);

    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(w, WM_QUERYENDSESSION, 1, 0, SMTO_BLOCK, 5000, &answer));
    EXPECT_EQ(answer, TRUE);
    PostMessageW(w, WM_QUERYENDSESSION, 1, 0);  // as the System menu sends it: posted, no answer awaited
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::string text = ReadFileBytes(log);
            size_t a = text.find("WM_QUERYENDSESSION wParam=1 lParam=0\r\n");
            return a != std::string::npos && text.find("WM_QUERYENDSESSION wParam=1 lParam=0\r\n", a + 1) != std::string::npos;
        },
        5000))
        << ReadFileBytes(log);
    std::string text = ReadFileBytes(log);
    // The line starts with the date and time: "yyyy-mm-dd hh:nn:ss.zzz> ".
    ASSERT_GE(text.size(), 25u);
    EXPECT_EQ(text.substr(4, 1), "-");
    EXPECT_EQ(text.substr(23, 2), "> ");

    HANDLE owner = OpenWindowProcess(w);
    ASSERT_NE(owner, nullptr);
    PostMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(owner, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(IsWindow(w));
    CloseHandle(owner);
    WaitProcess(first, 5000);
    CloseHandle(first);
    DeleteFileW(log.c_str());
}

TEST(Monitor, EndsWithTheBarThatStartedIt) {
    ASSERT_EQ(FindWindowW(L"DKMonitor", L"Orvane Monitor"), nullptr);
    HANDLE bar = StartProcess(L"\"" + BinDir() + L"fake_bar.exe\" --monitor", BinDir());
    ASSERT_NE(bar, nullptr);
    HWND w = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (w = FindWindowW(L"DKMonitor", L"Orvane Monitor")) != nullptr; }, 5000));
    HANDLE monitor = OpenWindowProcess(w);
    ASSERT_NE(monitor, nullptr);
    // The bar goes without a word, as after a crash.
    TerminateProcess(bar, 1);
    CloseHandle(bar);
    EXPECT_EQ(WaitForSingleObject(monitor, 5000), WAIT_OBJECT_0) << "the monitor outlived the bar";
    CloseHandle(monitor);

    // A bar started again at once finds the old monitor going and gets one of its own.
    bar = StartProcess(L"\"" + BinDir() + L"fake_bar.exe\" --monitor", BinDir());
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return FindWindowW(L"DKMonitor", L"Orvane Monitor") != nullptr; }, 5000));
    TerminateProcess(bar, 1);
    CloseHandle(bar);
    EXPECT_TRUE(WaitUntil([&] { return FindWindowW(L"DKMonitor", L"Orvane Monitor") == nullptr; }, 5000));
}

TEST(SetExplorer, RestoresShellValueEndsTheBarAndStartsTheShell) {
    auto userBefore = ReadShell(HKEY_CURRENT_USER);
    auto machineBefore = ReadShell(HKEY_LOCAL_MACHINE);
    WriteShell(HKEY_CURRENT_USER, L"C:\\orvane\\orvane.exe");
    WriteShell(HKEY_LOCAL_MACHINE, L"C:\\orvane\\orvane.exe");

    HANDLE bar = StartProcess(L"\"" + BinDir() + L"fake_bar.exe\"", BinDir());
    ASSERT_NE(bar, nullptr);
    DWORD barPid = GetProcessId(bar);
    ASSERT_TRUE(WaitUntil([&] { return FindProcessWindow(barPid, L"TOrvane") != nullptr; }, 5000));
    // The bar will not close when asked.
    PostMessageW(FindProcessWindow(barPid, L"TOrvane"), WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitProcess(bar, 300), -1);

    TempDir dir;
    std::wstring mark = dir / L"started.txt";
    // Only this fake bar is ended (an end-to-end test may run a real one meanwhile), and a
    // marker program stands in for explorer.exe.
    HANDLE tool = StartProcess(L"\"" + BinDir() + L"set_explorer.exe\" --bar-pid " + std::to_wstring(barPid) +
                                   L" --start \"\\\"" + BinDir() + L"fake_bar.exe\\\" --mark \\\"" + mark + L"\\\"\"",
                               BinDir());
    ASSERT_NE(tool, nullptr);
    // The fake bar ignores the session end as well: it is terminated once the wait runs out.
    EXPECT_EQ(WaitProcess(tool, 20000), 0);
    CloseHandle(tool);

    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER).value_or(L""), L"explorer.exe");
    EXPECT_EQ(ReadShell(HKEY_LOCAL_MACHINE).value_or(L""), L"explorer.exe");
    EXPECT_NE(WaitProcess(bar, 5000), -1) << "the bar is still running";
    CloseHandle(bar);
    EXPECT_TRUE(WaitUntil([&] { return !ReadFileBytes(mark).empty(); }, 5000)) << "the shell was not started";

    WriteShell(HKEY_CURRENT_USER, userBefore);
    WriteShell(HKEY_LOCAL_MACHINE, machineBefore);
}
