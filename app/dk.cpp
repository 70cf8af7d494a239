// Program entry: module start routines in their fixed order, the single-instance test, the bar
// and the message loop; module end routines in reverse order.
#include <windows.h>

#include "settings/DKLog.h"
#include "Application.h"
#include "Platform.h"
#include "ApplicationsMenu.h"
#include "BookmarkThread.h"
#include "settings/Configs.h"
#include "bar/DKButton.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "FilesMenu.h"
#include "bar/HookLibrary.h"
#include "bar/Main.h"
#include "bar/Once.h"
#include "SysUtils.h"
#include "TrayMenu.h"
#include "bar/TransparentMessage.h"

namespace {

struct Module {
    void (*start)();
    void (*end)();
};

const Module kModules[] = {
    {InitializeConfigs, FinalizeConfigs},
    {InitializeDKUtils, FinalizeDKUtils},
    {InitializeFilesMenu, FinalizeFilesMenu},
    {InitializeApplicationsMenu, FinalizeApplicationsMenu},
    {InitializeTrayMenu, FinalizeTrayMenu},
    {InitializeOnce, FinalizeOnce},
};

std::wstring StartLine() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return std::wstring(36, L'=') + L"\r\n" + std::wstring(15, L' ') + L"Program start... ( " +
           gui::FormatLongDate(now) + L" )";
}

// Without its hooks the bar answers no Windows key and cannot slide in: it does not start.
void TellOfMissingHookLibrary() {
    const std::wstring file = HookLibraryFileName();
    std::wstring reason = HookLibraryError();
    Log(4, L"(m6) " + file + L" could not be loaded: " + reason);
    if (reason.empty() || reason.back() != L'.') reason += L'.';
    ShowTransparentMessageModal(L"Hook library is not available",
                                file + L" could not be loaded: " + reason + L" Reinstall the program.\r\n", 1);
}

// A save that failed where the log could not tell of it either.
void TellOfUnsavedSettings() {
    std::wstring note = TakeUnsavedSettingsNote();
    if (note.empty()) return;
    Log(4, note);
    ShowTransparentMessage(L"Settings were not saved", note, 1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    gui::PlatformScope platform;

    gui::Application& app = gui::App();
    app.Initialize();
    // After the first window: the display driver is then up, so the thread only makes the font.
    std::thread fontWarmUp = TDKButton::WarmUpCaptionFont();
    for (const Module& m : kModules) m.start();

    if (IsFirstInstance()) {
        Log(4, StartLine());
        app.MainFormOnTaskBar = true;
        app.SetTitle(L"Orvane");
        if (HookLibraryLoaded()) {
            DKData = std::make_unique<TDKData>();
            Orvane = new TOrvane();
            if (!app.Terminated()) {
                Orvane->Show(SW_SHOWNOACTIVATE);
                TellOfUnsavedSettings();
            }
            app.Run();
        } else {
            TellOfMissingHookLibrary();
        }
    } else {
        ActivatePrevInstance();
    }
    if (fontWarmUp.joinable()) fontWarmUp.join();

    // A menu still being built uses the modules and the data module below: it ends first. One
    // that hangs leaves only the settings to write.
    if (!WaitForMenuBuilders(30000)) {
        FinalizeConfigs();
        ExitProcess(0);
    }
    // Site fetches still running must be out of the log, settings and graphics before those go.
    TBookmarkThread::EndAll();
    for (auto it = std::rbegin(kModules); it != std::rend(kModules); ++it) it->end();
    // The forms and the data module go last.
    delete Orvane;
    Orvane = nullptr;
    DKData.reset();
    DestroyWindow(app.Handle());
    return 0;
}
