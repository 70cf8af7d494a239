#include <gtest/gtest.h>

#include <stdexcept>

#include "bar/StartupPrograms.h"
#include "util/DKUtils.h"
#include "Registry.h"
#include "SysUtils.h"
#include "TestSupport.h"

using testing_support::BinDir;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kPolicies[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

// Test-made stand-ins for the machine and user roots and the two Startup folders, with the
// probe's record folder; everything is removed afterwards.
class StartupFixture : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = L"Software\\OrvaneTests\\startup_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(counter_++);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (base_ + L"\\LM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &lm_, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (base_ + L"\\CU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &cu_, nullptr), ERROR_SUCCESS);
        CreateDirectoryW((dir_ / L"user").c_str(), nullptr);
        CreateDirectoryW((dir_ / L"common").c_str(), nullptr);
        CreateDirectoryW((dir_ / L"records").c_str(), nullptr);
        SetEnvironmentVariableW(L"ORV_PROBE_DIR", (dir_ / L"records").c_str());
        sources_.LocalMachine = lm_;
        sources_.CurrentUser = cu_;
        sources_.UserStartup = dir_ / L"user";
        sources_.CommonStartup = dir_ / L"common";
    }
    void TearDown() override {
        RegCloseKey(lm_);
        RegCloseKey(cu_);
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvaneTests");  // only when no other test uses it
        // Let started probes finish writing before the folder goes.
        Sleep(200);
    }

    static std::wstring Probe() { return L"\"" + BinDir() + L"startup_probe.exe\""; }
    void SetValue(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
        gui::Registry r(root);
        ASSERT_TRUE(r.OpenKey(key, true));
        r.WriteString(name, value);
    }
    bool HasValue(HKEY root, const std::wstring& key, const std::wstring& name) {
        gui::Registry r(root);
        return r.OpenKey(key, false) && r.ValueExists(name);
    }
    std::wstring Record(const std::wstring& tag) { return dir_ / (L"records\\" + tag + L".started"); }
    size_t Runs(const std::wstring& tag) { return testing_support::ReadFileBytes(dir_ / (L"records\\" + tag + L".runs")).size(); }
    bool Started(const std::wstring& tag) { return gui::FileExists(Record(tag)); }
    bool WaitStarted(std::initializer_list<const wchar_t*> tags) {
        return WaitUntil([&] {
            for (auto t : tags)
                if (!Started(t)) return false;
            return true;
        }, 15000);
    }
    // A copy of the probe under another name (it records under that name when given no argument).
    std::wstring ProbeCopy(const std::wstring& folder, const std::wstring& name) {
        std::wstring path = folder + L"\\" + name;
        CopyFileW((BinDir() + L"startup_probe.exe").c_str(), path.c_str(), FALSE);
        return path;
    }

    static inline int counter_ = 0;
    TempDir dir_{L"startup"};
    std::wstring base_;
    HKEY lm_ = nullptr, cu_ = nullptr;
    TStartupSources sources_;
};

}  // namespace

TEST_F(StartupFixture, LogOnStartRunsEverySourceAndDeletesRunOnce) {
    SetValue(lm_, kRunOnce, L"lm_once", Probe() + L" lm_once");
    SetValue(lm_, kRun, L"lm_run", Probe() + L" lm_run");
    SetValue(cu_, kRun, L"cu_run", Probe() + L" cu_run");
    SetValue(cu_, kRunOnce, L"cu_once", Probe() + L" cu_once");
    RunStartupPrograms(false, sources_);
    ASSERT_TRUE(WaitStarted({L"lm_once", L"lm_run", L"cu_run", L"cu_once"}));
    Sleep(500);
    // Both views of the machine's keys show this stand-in's one key: each entry runs once.
    EXPECT_EQ(Runs(L"lm_once"), 1u);
    EXPECT_EQ(Runs(L"lm_run"), 1u);
    EXPECT_FALSE(HasValue(lm_, kRunOnce, L"lm_once"));
    EXPECT_FALSE(HasValue(cu_, kRunOnce, L"cu_once"));
    EXPECT_TRUE(HasValue(lm_, kRun, L"lm_run"));
    EXPECT_TRUE(HasValue(cu_, kRun, L"cu_run"));
}

TEST_F(StartupFixture, AStandardUserRunsTheMachinesEntriesAndLeavesItsRunOnce) {
    SetValue(lm_, kRunOnce, L"lm_once", Probe() + L" lm_once");
    SetValue(lm_, kRun, L"lm_run", Probe() + L" lm_run");
    SetValue(cu_, kRunOnce, L"cu_once", Probe() + L" cu_once");
    {
        testing_support::StandardUserRegistry standardUser(lm_);
        RunStartupPrograms(false, sources_);
    }
    // Reading asks for no more than reading; the run-once values it may not delete stay unrun.
    ASSERT_TRUE(WaitStarted({L"lm_run", L"cu_once"}));
    Sleep(500);
    EXPECT_FALSE(Started(L"lm_once"));
    EXPECT_TRUE(HasValue(lm_, kRunOnce, L"lm_once"));
    EXPECT_FALSE(HasValue(cu_, kRunOnce, L"cu_once"));
}

// The prefix's real machine keys: the 32-bit view is where 32-bit installers write.
TEST_F(StartupFixture, MachineRunEntriesOfBothViewsRunOnceWithVariablesExpanded) {
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    const std::wstring expandTag = L"orv_expand_" + id;
    wchar_t windows[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemRoot", windows, MAX_PATH);
    std::wstring expandExe = ProbeCopy(windows, expandTag + L".exe");
    HKEY run32 = nullptr, run64 = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                              &run32, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                              &run64, nullptr), ERROR_SUCCESS);
    auto put = [](HKEY key, const std::wstring& name, DWORD type, const std::wstring& data) {
        RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    };
    const std::wstring name32 = L"orv32_" + id, nameExpand = L"orv_expand_" + id;
    put(run32, name32, REG_SZ, Probe() + L" lm32_run");
    put(run64, nameExpand, REG_EXPAND_SZ, L"\"%SystemRoot%\\" + expandTag + L".exe\"");
    sources_.LocalMachine = HKEY_LOCAL_MACHINE;
    RunStartupPrograms(false, sources_);
    bool started = WaitStarted({L"lm32_run", expandTag.c_str()});
    Sleep(500);
    RegDeleteValueW(run32, name32.c_str());
    RegDeleteValueW(run64, nameExpand.c_str());
    RegCloseKey(run32);
    RegCloseKey(run64);
    DeleteFileW(expandExe.c_str());
    ASSERT_TRUE(started);
    EXPECT_EQ(Runs(L"lm32_run"), 1u);
    EXPECT_EQ(Runs(expandTag), 1u);
}

TEST_F(StartupFixture, WithExplorerRunningOnlyTheUsersRunOnceRunsAndStays) {
    SetValue(lm_, kRunOnce, L"lm_once", Probe() + L" lm_once");
    SetValue(lm_, kRun, L"lm_run", Probe() + L" lm_run");
    SetValue(cu_, kRun, L"cu_run", Probe() + L" cu_run");
    SetValue(cu_, kRunOnce, L"cu_once", Probe() + L" cu_once");
    ProbeCopy(sources_.UserStartup, L"folder_entry.exe");
    RunStartupPrograms(true, sources_);
    ASSERT_TRUE(WaitStarted({L"cu_once"}));
    Sleep(1000);
    EXPECT_FALSE(Started(L"lm_once"));
    EXPECT_FALSE(Started(L"lm_run"));
    EXPECT_FALSE(Started(L"cu_run"));
    EXPECT_FALSE(Started(L"folder_entry"));
    EXPECT_TRUE(HasValue(cu_, kRunOnce, L"cu_once"));
    EXPECT_TRUE(HasValue(lm_, kRunOnce, L"lm_once"));
}

TEST_F(StartupFixture, StartupFoldersSkipHiddenEntries) {
    std::wstring user = gui::ExcludeTrailingBackslash(sources_.UserStartup);
    std::wstring common = gui::ExcludeTrailingBackslash(sources_.CommonStartup);
    ProbeCopy(user, L"visible_user.exe");
    std::wstring hidden = ProbeCopy(user, L"hidden_user.exe");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    std::wstring ini = user + L"\\desktop.ini";
    testing_support::WriteFileBytes(ini, "[.ShellClassInfo]\r\n");
    SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ProbeCopy(common, L"visible_common.exe");

    RunStartupPrograms(false, sources_);
    ASSERT_TRUE(WaitStarted({L"visible_user", L"visible_common"}));
    Sleep(1000);
    EXPECT_FALSE(Started(L"hidden_user"));
    // Started in its Startup folder, with no parameters.
    std::string rec = testing_support::ReadFileBytes(Record(L"visible_user"));
    std::wstring text(reinterpret_cast<const wchar_t*>(rec.data()), rec.size() / 2);
    std::wstring cwd = text.substr(0, text.find(L'\n'));
    EXPECT_TRUE(gui::SameText(gui::ExcludeTrailingBackslash(cwd), user)) << gui::ToUtf8(text);
    std::wstring cmd = gui::Trim(text.substr(text.find(L'\n') + 1));
    if (!cmd.empty() && cmd.back() == L'"') cmd.pop_back();
    ASSERT_GE(cmd.size(), 4u);
    EXPECT_TRUE(gui::SameText(cmd.substr(cmd.size() - 4), L".exe")) << gui::ToUtf8(cmd);
}

TEST_F(StartupFixture, PolicyRunStartsEachPathByItself) {
    std::wstring folder = gui::ExcludeTrailingBackslash(dir_.Path());
    std::wstring a = ProbeCopy(folder, L"policy_one.exe"), b = ProbeCopy(folder, L"policy_two.exe");
    std::wstring c = ProbeCopy(folder, L"policy_user.exe");
    SetValue(lm_, kPolicies, L"Run", a + L" " + b);
    SetValue(cu_, kPolicies, L"Run", c);
    RunStartupPrograms(false, sources_);
    EXPECT_TRUE(WaitStarted({L"policy_one", L"policy_two", L"policy_user"}));
}

TEST_F(StartupFixture, ANonStringValueEndsTheRunWithAnError) {
    SetValue(lm_, kRun, L"a_first", Probe() + L" a_first");
    {
        gui::Registry r(lm_);
        ASSERT_TRUE(r.OpenKey(kRun, false));
        r.WriteInteger(L"b_number", 7);
    }
    SetValue(lm_, kRun, L"c_after", Probe() + L" c_after");
    SetValue(cu_, kRun, L"cu_run", Probe() + L" cu_run");
    std::string message;
    try {
        RunStartupPrograms(false, sources_);
    } catch (const std::exception& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("b_number"), std::string::npos) << message;
    ASSERT_TRUE(WaitStarted({L"a_first"}));
    Sleep(1000);
    EXPECT_FALSE(Started(L"c_after"));
    EXPECT_FALSE(Started(L"cu_run"));
}

// A run-once entry equal to a Run entry (name and command) is an entry of its own: it runs, and
// only then goes.
TEST_F(StartupFixture, RunOnceEntriesEqualToRunEntriesRunToo) {
    SetValue(lm_, kRun, L"same", Probe() + L" lm_same");
    SetValue(lm_, kRunOnce, L"same", Probe() + L" lm_same");
    SetValue(cu_, kRun, L"same", Probe() + L" cu_same");
    SetValue(cu_, kRunOnce, L"same", Probe() + L" cu_same");
    RunStartupPrograms(false, sources_);
    ASSERT_TRUE(WaitUntil([&] { return Runs(L"lm_same") == 2 && Runs(L"cu_same") == 2; }, 15000))
        << Runs(L"lm_same") << " " << Runs(L"cu_same");
    Sleep(500);
    EXPECT_EQ(Runs(L"lm_same"), 2u);
    EXPECT_EQ(Runs(L"cu_same"), 2u);
    EXPECT_FALSE(HasValue(lm_, kRunOnce, L"same"));
    EXPECT_FALSE(HasValue(cu_, kRunOnce, L"same"));
    EXPECT_TRUE(HasValue(lm_, kRun, L"same"));
    EXPECT_TRUE(HasValue(cu_, kRun, L"same"));
}

// Programs in folders whose names the ANSI code page cannot spell start from every source, with
// their arguments as written.
TEST_F(StartupFixture, PathsBeyondTheAnsiCodePageStart) {
    const std::wstring odd = L"\x0416\x65E5\x263A";
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, odd.c_str(), -1, nullptr, 0, nullptr, &lost);
    ASSERT_TRUE(lost) << "the code page spells the name";
    std::wstring folder = dir_ / (L"Start " + odd);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring runExe = ProbeCopy(folder, L"odd_run.exe"), onceExe = ProbeCopy(folder, L"odd_once.exe");
    std::wstring policyExe = ProbeCopy(folder, L"odd_policy.exe");
    SetValue(cu_, kRun, L"odd_run", L"\"" + runExe + L"\"");
    SetValue(cu_, kRunOnce, L"odd_once", L"\"" + onceExe + L"\" once_" + odd);
    // Policy entries are split at blanks: a short path without them, where the volume has one.
    std::vector<wchar_t> shortPath(MAX_PATH);
    ASSERT_GT(GetShortPathNameW(policyExe.c_str(), shortPath.data(), MAX_PATH), 0u);
    const std::wstring policyShort = shortPath.data();
    const bool policy = policyShort.find(L' ') == std::wstring::npos;
    if (policy) SetValue(lm_, kPolicies, L"Run", policyShort);
    RunStartupPrograms(false, sources_);
    EXPECT_TRUE(WaitStarted({L"odd_run", (L"once_" + odd).c_str()}));
    if (policy) {
        EXPECT_TRUE(WaitStarted({L"odd_policy"}));
    }
}
