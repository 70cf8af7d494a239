#include "HelpMenu.h"

#include <shellapi.h>
#include <shlobj.h>

#include <exception>

#include "settings/DKLog.h"
#include "About.h"
#include "Application.h"
#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {

THelpStartFunc& Starter() {
    static THelpStartFunc f;
    return f;
}

double& VersionOverride() {
    static double v = 0;
    return v;
}

// False when it did not start (the user is told why).
bool Start(const std::wstring& What, const THelpStart& s) {
    if (Starter()) {
        Starter()(s);
        return true;
    }
    if (s.Shell) return ShellExecuteOrReport(What, gui::App().Handle(), nullptr, s.File, s.Params, s.Dir, s.Show);
    return WinExecOrReport(What, gui::ToAnsi(s.File), static_cast<UINT>(s.Show));
}

// The maker's support links (caption, address, icon file under \images\).
struct TSupportLink {
    const wchar_t* Caption;
    const wchar_t* Address;
    const wchar_t* Icon;
};
constexpr TSupportLink kSupportLinks[] = {
    {L"Orvane Home Page", L"https://orvane.example/", L"ie.ico"},
    {L"Write to Support", L"mailto:support@orvane.example", L"envelope.ico"},
};

}  // namespace

void THelpMenu::SetStart(THelpStartFunc f) { Starter() = std::move(f); }
void THelpMenu::SetWindowsVersion(double v) { VersionOverride() = v; }

double THelpMenu::WindowsVersion() {
    if (VersionOverride() > 0) return VersionOverride();
    OSVERSIONINFOW vi{sizeof(vi)};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&vi);
#pragma GCC diagnostic pop
    return vi.dwMajorVersion + vi.dwMinorVersion * 0.1;
}

THelpMenu::THelpMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    wchar_t buf[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buf);
    const std::wstring winDir = buf;
    const std::wstring images = gui::ExeDir() + L"images\\";
    auto click = [this](TDKMenuItem* Sender) { HelpItemClick(Sender); };

    FItems->AddMenuItem(0, L"Windows", nullptr, true);
    TDKMenuItem* help = FItems->AddMenuItem(HelpAndSupportID, L"Help and Support", click);
    help->TakeIcon(gui::IconHandle(GetShellSmallIcon(winDir + (WindowsVersion() <= 5.1 ? L"\\hh.exe" : L"\\HelpPane.exe"))));
    TDKMenuItem* ver = FItems->AddMenuItem(VersionID, L"Version", click);
    ver->TakeIcon(LoadSmallIconFile(images + L"winver.ico"));

    FItems->AddMenuItem(0, L"Support", nullptr, true);
    for (const TSupportLink& link : kSupportLinks) {
        TDKMenuItem* mi = FItems->AddMenuItem(0, link.Caption, [this](TDKMenuItem* Sender) { RunItem(Sender); });
        mi->SetExecPath(link.Address);
        mi->TakeIcon(LoadSmallIconFile(images + link.Icon));
    }

    TDKMenuItem* about = FItems->AddMenuItem(AboutID, L"About...", click, false, true);
    about->TakeIcon(gui::IconHandle(GetShellSmallIcon(gui::ExeFileName())));
}

// The menu has no filter box.
void THelpMenu::ExecuteFilterText(TDKMenuItem*) {}

void THelpMenu::HelpItemClick(TDKMenuItem* Sender) {
    try {
        switch (Sender->MIID()) {
        case HelpAndSupportID:
            if (WindowsVersion() <= 5.1) {
                wchar_t buf[256] = {};
                GetWindowsDirectoryW(buf, 255);
                const std::wstring dir = buf;
                Start(Sender->Caption(), {true, dir + L"\\help\\windows.chm", L"", dir + L"\\help", SW_SHOWNORMAL});
            } else {
                // Help and Support needs two starts to come up; one that fails is told once.
                const THelpStart pane{false, L"helppane.exe -Embedding", L"", L"", SW_SHOW};
                if (Start(Sender->Caption(), pane)) Start(Sender->Caption(), pane);
            }
            break;
        case VersionID:
            Start(Sender->Caption(), {false, L"winver.exe", L"", L"", SW_SHOW});
            break;
        case AboutID:
            (new TfrmAbout())->ShowBox();
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        Log(4, L"(h1) " + gui::FromUtf8(e.what()));
    }
}
