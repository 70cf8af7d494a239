#include "bar/StartupPrograms.h"
#include "Handles.h"
#include "util/DKUtils.h"

#include <set>

#include "Registry.h"
#include "StringList.h"
#include "SysUtils.h"

namespace {

const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kPolicies[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

class StartupRunner {
public:
    explicit StartupRunner(const TStartupSources& sources) : sources_(sources), reg_(HKEY_CURRENT_USER, KEY_READ) {}

    void Run(bool explorerWasRunning) {
        if (explorerWasRunning) {
            reg_.SetRoot(sources_.CurrentUser);
            RunRegistryValues(kRunOnce, false);
            return;
        }
        reg_.SetRoot(sources_.LocalMachine);
        RunMachineValues(kRunOnce, true);
        RunMachineValues(kRun, false);
        reg_.SetRoot(sources_.CurrentUser);
        RunRegistryValues(kRun, false);
        RunStartupFolder(CSIDL_STARTUP, sources_.UserStartup);
        if (!Windows95Family()) RunStartupFolder(CSIDL_COMMON_STARTUP, sources_.CommonStartup);
        RunRegistryValues(kRunOnce, true);
        reg_.SetRoot(sources_.LocalMachine);
        RunPolicyRun(kPolicies);
        reg_.SetRoot(sources_.CurrentUser);
        RunPolicyRun(kPolicies);
    }

private:
    static bool Windows95Family() {
        return gui::GetOSVersionInfo().dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    }

    static void Exec(const std::wstring& commandLine) { StartProgram(commandLine, SW_SHOWNORMAL); }

    // 32-bit installers write the machine's entries into the 32-bit view: both views are read,
    // and an entry both show (a key the views share) runs once.
    void RunMachineValues(const std::wstring& key, bool Delete) {
        std::set<std::wstring> started;
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            reg_.SetView(view);
            RunValues(key, Delete, started);
        }
        reg_.SetView(0);
    }

    // Each key starts its own entries: one in Run does not stand for an equal one in RunOnce.
    void RunRegistryValues(const std::wstring& key, bool Delete) {
        std::set<std::wstring> started;
        RunValues(key, Delete, started);
    }

    // A value of another type than a string ends the whole run.
    std::wstring ReadCommand(const std::wstring& name) {
        std::wstring text = reg_.ReadString(name);
        if (reg_.GetDataType(name) != REG_EXPAND_SZ) return text;
        DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::wstring expanded(n, L'\0');
        if (!n || !ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n)) return text;
        expanded.resize(n - 1);
        return expanded;
    }

    // Entries already in started (name and command) are not started again.
    void RunValues(const std::wstring& key, bool Delete, std::set<std::wstring>& started) {
        // Run-once values are deleted, which needs the right to set values. Where that is refused
        // (a standard user in the machine's keys) they are left for one who may delete them.
        reg_.SetAccess(Delete ? KEY_READ | KEY_SET_VALUE : KEY_READ);
        if (reg_.OpenKey(key, Delete)) {
            names_.lines = reg_.GetValueNames();
            for (const std::wstring& name : names_.lines) {
                std::wstring command = ReadCommand(name);
                if (started.insert(name + L'\n' + command).second) Exec(command);
                if (Delete) reg_.DeleteValue(name);
            }
        }
        reg_.CloseKey();
        reg_.SetAccess(KEY_READ);
    }

    void RunStartupFolder(int csidl, const std::wstring& overridePath) {
        std::wstring folder = overridePath;
        if (folder.empty()) {
            wchar_t buf[256] = {};
            if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE)) return;
            folder = buf;
        }
        folder = gui::ExcludeTrailingBackslash(folder);
        WIN32_FIND_DATAW fd;
        gui::FindFileHandle find(FindFirstFileW((folder + L"\\*").c_str(), &fd));
        if (!find) return;
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = folder + L"\\" + name;
            DWORD attrs = GetFileAttributesW(full.c_str());
            if (attrs & FILE_ATTRIBUTE_HIDDEN) continue;  // desktop.ini, and entries that can't be read
            ShellExecuteW(nullptr, nullptr, full.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
        } while (FindNextFileW(find.get(), &fd));
    }

    void RunPolicyRun(const std::wstring& key) {
        if (!reg_.OpenKey(key, false)) return;
        std::wstring text = ReadCommand(L"Run") + L" ";
        size_t start = 0;
        for (size_t blank; (blank = text.find(L' ', start)) != std::wstring::npos; start = blank + 1) {
            std::wstring one = text.substr(start, blank - start);
            if (!one.empty()) Exec(one);
        }
        reg_.CloseKey();
    }

    TStartupSources sources_;
    gui::Registry reg_;
    gui::StringList names_;
};

}  // namespace

void RunStartupPrograms(bool ExplorerWasRunning) { RunStartupPrograms(ExplorerWasRunning, TStartupSources{}); }

void RunStartupPrograms(bool ExplorerWasRunning, const TStartupSources& Sources) {
    StartupRunner(Sources).Run(ExplorerWasRunning);
}
