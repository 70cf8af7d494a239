// The user's startup programs, started once when the bar has been created.
#include "DKUtils.h"

#include "Registry.h"
#include "StringList.h"
#include "SysUtils.h"

namespace {

const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kPolicies[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

class StartupRunner {
public:
    explicit StartupRunner(const TStartupSources& sources) : sources_(sources), reg_(HKEY_CURRENT_USER, KEY_ALL_ACCESS) {}

    void Run(bool explorerWasRunning) {
        if (explorerWasRunning) {
            reg_.SetRoot(sources_.CurrentUser);
            RunRegistryValues(kRunOnce, false);
            return;
        }
        reg_.SetRoot(sources_.LocalMachine);
        RunRegistryValues(kRunOnce, true);
        RunRegistryValues(kRun, false);
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

    static void Exec(const std::wstring& commandLine) {
        std::string ansi = gui::ToAnsi(commandLine);
        WinExec(ansi.c_str(), SW_SHOWNORMAL);
    }

    void RunRegistryValues(const std::wstring& key, bool Delete) {
        if (reg_.OpenKey(key, Delete)) {
            names_.lines = reg_.GetValueNames();
            for (const std::wstring& name : names_.lines) {
                Exec(reg_.ReadString(name));  // a value of another type ends the whole run
                if (Delete) reg_.DeleteValue(name);
            }
        }
        reg_.CloseKey();
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
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
        if (find == INVALID_HANDLE_VALUE) return;
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = folder + L"\\" + name;
            DWORD attrs = GetFileAttributesW(full.c_str());
            if (attrs & FILE_ATTRIBUTE_HIDDEN) continue;  // desktop.ini, and entries that can't be read
            ShellExecuteW(nullptr, nullptr, full.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }

    void RunPolicyRun(const std::wstring& key) {
        if (!reg_.OpenKey(key, false)) return;
        std::wstring text = reg_.ReadString(L"Run") + L" ";
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
