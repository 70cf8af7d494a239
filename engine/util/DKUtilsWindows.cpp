// Shell icons, window tests, utility windows, processes and App Paths.
#include "util/DKUtils.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "Application.h"
#include "util/FileUtils.h"
#include "Registry.h"
#include "SysUtils.h"
#include "bar/TransparentMessage.h"

std::wstring GetCurrentUserName() {
    wchar_t buf[256] = {};
    DWORD size = 255;
    if (!GetUserNameW(buf, &size)) return {};
    return buf;
}

std::wstring GetWindowCaption(HWND Wnd) {
    wchar_t buf[256] = {};
    GetWindowTextW(Wnd, buf, 255);
    return buf;
}

int GetShellSmallIconIndex(const std::wstring& Path) {
    SHFILEINFOW info{};
    if (Path.compare(0, 3, L"::{") == 0) {
        if (IShellFolder* desktop = DesktopFolder()) {
            LPITEMIDLIST list = nullptr;
            std::wstring name = Path;
            desktop->ParseDisplayName(gui::App().Handle(), nullptr, name.data(), nullptr, &list, nullptr);
            if (list) {
                SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &info, sizeof(info),
                               SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON | SHGFI_PIDL);
                PIDLPtr owned(list);
            }
        }
    } else {
        SHGetFileInfoW(Path.c_str(), 0, &info, sizeof(info),
                       SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON);
    }
    return info.iIcon;
}

HICON GetShellSmallIcon(const std::wstring& Path) {
    return ImageList_GetIcon(SysSmallImageList(), GetShellSmallIconIndex(Path), ILD_NORMAL);
}

bool IsTaskbarWindow(HWND Wnd) {
    if (!IsWindow(Wnd)) return false;
    LONG style = GetWindowLongW(Wnd, GWL_STYLE), ex = GetWindowLongW(Wnd, GWL_EXSTYLE);
    if ((style & WS_CHILD) || !(style & WS_VISIBLE) || !IsWindowVisible(Wnd)) return false;
    if (ex & (WS_EX_TOOLWINDOW | WS_EX_MDICHILD)) return false;
    if (HWND owner = GetWindow(Wnd, GW_OWNER)) {
        if (!(ex & WS_EX_APPWINDOW) || IsTaskbarWindow(owner)) return false;
    }
    if (GetParent(Wnd)) return false;
    return GetWindowLongPtrW(Wnd, GWLP_USERDATA) != 0x7FFFFFFF;
}

std::wstring GetWindowExeName(HWND Wnd) {
    std::wstring result;
    DWORD pid = 0;
    GetWindowThreadProcessId(Wnd, &pid);
    gui::KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process) return result;
    HMODULE modules[1024 / sizeof(HMODULE)];
    DWORD needed = 0;
    if (EnumProcessModules(process.get(), modules, sizeof(modules), &needed) && needed >= sizeof(HMODULE)) {
        wchar_t name[261] = {};
        if (GetModuleFileNameExW(process.get(), modules[0], name, 261) > 0)
            result = gui::AnsiLowerCase(gui::Trim(name));
    }
    return result;
}

HWND CreateUtilityWindow(const std::wstring& ClassName, WNDPROC WndProc, int Width, int Height) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    bool registered = GetClassInfoW(instance, ClassName.c_str(), &wc);
    if (!registered || wc.lpfnWndProc != WndProc) {
        if (registered) UnregisterClassW(ClassName.c_str(), instance);
        WNDCLASSW nc{};
        nc.lpfnWndProc = WndProc;
        nc.hInstance = instance;
        nc.lpszClassName = ClassName.c_str();
        RegisterClassW(&nc);
    }
    return CreateWindowExW(WS_EX_TOOLWINDOW, ClassName.c_str(), L"", WS_POPUP, 0, 0, Width, Height, nullptr, nullptr,
                           instance, nullptr);
}

bool ForceForegroundWindow(HWND Wnd) {
    if (IsIconic(Wnd)) ShowWindow(Wnd, SW_RESTORE);
    HWND owner = reinterpret_cast<HWND>(GetWindowLongPtrW(Wnd, GWLP_HWNDPARENT));
    if (owner && IsIconic(owner)) ShowWindow(owner, SW_RESTORE);
    if (GetForegroundWindow() == Wnd) return true;

    OSVERSIONINFOW vi = gui::GetOSVersionInfo();
    bool modern = (vi.dwPlatformId == VER_PLATFORM_WIN32_NT && vi.dwMajorVersion > 4) ||
                  (vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
                   (vi.dwMajorVersion > 4 || (vi.dwMajorVersion == 4 && vi.dwMinorVersion > 0)));
    if (modern) {
        bool done = false;
        DWORD foreThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
        DWORD ownThread = GetWindowThreadProcessId(Wnd, nullptr);
        if (AttachThreadInput(ownThread, foreThread, TRUE)) {
            SetForegroundWindow(Wnd);
            AttachThreadInput(ownThread, foreThread, FALSE);
            done = GetForegroundWindow() == Wnd;
        }
        if (!done) {
            DWORD timeout = 0;
            SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
            SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);
            SetForegroundWindow(Wnd);
            SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(static_cast<UINT_PTR>(timeout)),
                                  SPIF_SENDCHANGE);
        }
    } else {
        SetForegroundWindow(Wnd);
    }
    if (GetForegroundWindow() == Wnd) return true;

    // Last resort: minimise and restore, without the animation.
    ANIMATIONINFO ai{sizeof(ai), 0};
    bool animOff = false;
    if (SystemParametersInfoW(SPI_GETANIMATION, sizeof(ai), &ai, 0) && ai.iMinAnimate) {
        ai.iMinAnimate = 0;
        SystemParametersInfoW(SPI_SETANIMATION, sizeof(ai), &ai, 0);
        animOff = true;
    }
    SendMessageW(Wnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Sleep(40);
    SendMessageW(owner ? owner : Wnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    if (animOff) {
        ai.iMinAnimate = 1;
        SystemParametersInfoW(SPI_SETANIMATION, sizeof(ai), &ai, 0);
    }
    return GetForegroundWindow() == Wnd;
}

bool KillProcessByName(const std::wstring& Name) {
    gui::KernelHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap) return false;
    const std::wstring wanted = gui::AnsiUpperCase(Name);
    bool result = false;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap.get(), &pe); more; more = Process32NextW(snap.get(), &pe)) {
        std::wstring exe = pe.szExeFile;
        if (gui::AnsiUpperCase(gui::ExtractFileName(exe)) != wanted && gui::AnsiUpperCase(exe) != wanted) continue;
        result = false;
        if (gui::KernelHandle p{OpenProcess(PROCESS_TERMINATE, FALSE, pe.th32ProcessID)})
            result = TerminateProcess(p.get(), 1) != 0;
    }
    return result;
}

std::wstring GetAppPath(const std::wstring& ExeName) {
    gui::Registry reg(HKEY_LOCAL_MACHINE, KEY_READ);
    if (!reg.OpenKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + ExeName, false)) return {};
    std::wstring path;
    try {
        path = reg.ReadString(L"");
    } catch (...) {
        return {};  // a default value that is no string names no program
    }
    reg.CloseKey();
    std::wstring clean;
    for (wchar_t c : path)
        if (c != L'"') clean += c;
    const std::wstring placeholder = L"%PROGRAMFILES%";
    size_t at = gui::AnsiUpperCase(clean).find(placeholder);
    if (at != std::wstring::npos) {
        wchar_t folder[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
        clean.replace(at, placeholder.size(), folder);
    }
    if (!gui::FileExists(clean)) return {};
    return clean;
}

namespace {

// The system's code for a failed shell start: the call's last error, else its old result code.
DWORD ShellStartError(const SHELLEXECUTEINFOW& Info, DWORD LastError) {
    if (LastError) return LastError;
    switch (static_cast<int>(reinterpret_cast<INT_PTR>(Info.hInstApp))) {
    case 0:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
        return ERROR_SHARING_VIOLATION;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
        return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
        return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND:
        return ERROR_DLL_NOT_FOUND;
    default:  // the others are the system's codes (file or path not found, access denied...)
        return static_cast<DWORD>(reinterpret_cast<INT_PTR>(Info.hInstApp));
    }
}

}  // namespace

bool ShellExecuteOrReport(const std::wstring& What, const std::wstring& Target, SHELLEXECUTEINFOW& Info) {
    // One report, ours: the shell's own boxes would be modal and say it twice.
    Info.fMask |= SEE_MASK_FLAG_NO_UI;
    SetLastError(ERROR_SUCCESS);
    if (ShellExecuteExW(&Info)) return true;
    DWORD error = ShellStartError(Info, GetLastError());
    // A file no program opens gets the system's chooser, as the shell gives it; only a chooser
    // that cannot be shown leaves the report to us.
    if (error == ERROR_NO_ASSOCIATION && Info.lpFile && (!Info.lpVerb || lstrcmpiW(Info.lpVerb, L"open") == 0)) {
        SHELLEXECUTEINFOW openAs = Info;
        openAs.lpVerb = L"openas";
        openAs.fMask &= ~static_cast<ULONG>(SEE_MASK_FLAG_NO_UI);
        SetLastError(ERROR_SUCCESS);
        if (ShellExecuteExW(&openAs)) return true;
        if (ShellStartError(openAs, GetLastError()) == ERROR_CANCELLED) return false;
    }
    if (error != ERROR_CANCELLED) ReportFailedStart(What, Target, error);
    return false;
}

bool ShellExecuteOrReport(const std::wstring& What, HWND Owner, const wchar_t* Verb, const std::wstring& File,
                          const std::wstring& Params, const std::wstring& Dir, int Show) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.hwnd = Owner;
    info.lpVerb = Verb;
    info.lpFile = File.c_str();
    info.lpParameters = Params.empty() ? nullptr : Params.c_str();
    info.lpDirectory = Dir.empty() ? nullptr : Dir.c_str();
    info.nShow = Show;
    return ShellExecuteOrReport(What, File, info);
}

bool WinExecOrReport(const std::wstring& What, const std::string& CmdLine, UINT Show) {
    SetLastError(ERROR_SUCCESS);
    UINT result = WinExec(CmdLine.c_str(), Show);
    if (result > 31) return true;
    DWORD error = result ? result : GetLastError();
    ReportFailedStart(What, gui::FromAnsi(CmdLine), error ? error : ERROR_NOT_ENOUGH_MEMORY);
    return false;
}

bool StartProgram(const std::wstring& CommandLine, int Show) {
    std::wstring line = CommandLine;  // the call may write into its command line
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(Show);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    gui::KernelHandle thread(pi.hThread), process(pi.hProcess);
    return true;
}
