// The notification-area host under load: tray_client programs add, modify and delete icons
// (NIM_ADD, NIM_MODIFY with tip and icon, NIM_DELETE) against the host in this process.
// Prints one table row per run: clients, icons each, requests, wall time and time per request.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "BenchClock.h"
#include "data/DKDataModule.h"
#include "Platform.h"
#include "SysUtils.h"
#include "TrayMenu.h"

namespace {

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

void Run(int clients, int icons) {
    wchar_t host[32];
    swprintf(host, 32, L"%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(TrayWindow.get())));
    std::wstring cmd = L"\"" + gui::ExeDir() + L"tray_client.exe\" --host " + host + L" bulk " + std::to_wstring(icons);
    std::vector<HANDLE> running;
    double t0 = bench::Now();
    for (int i = 0; i < clients; ++i) {
        STARTUPINFOW si{sizeof(si)};
        si.dwFlags = STARTF_USESTDHANDLES;  // the clients' lines are not wanted here
        PROCESS_INFORMATION pi{};
        std::wstring line = cmd;
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            running.push_back(pi.hProcess);
        }
    }
    for (;;) {
        Pump();
        bool all = true;
        for (HANDLE p : running) all = all && WaitForSingleObject(p, 0) == WAIT_OBJECT_0;
        if (all) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    double ms = bench::Now() - t0;
    for (HANDLE p : running) CloseHandle(p);
    int requests = 3 * clients * icons;
    std::printf("| %7d | %5d | %8d | %9.0f | %11.3f |\n", clients, icons, requests, ms, ms / requests);
}

// Icons of a program that ends, with the Tray menu open: time of the next request, which
// drops the dead rows and rebuilds the open list. The icons are spread over as many windows as
// the per-window bound asks.
void Purge(TTrayMenu& menu, int icons) {
    std::vector<HWND> owners;
    for (int i = 0; i < icons; ++i) {
        if (i % TTrayMenu::MaxIconsPerWindow == 0)
            owners.push_back(CreateWindowExW(0, L"STATIC", L"leaving", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                             GetModuleHandleW(nullptr), nullptr));
        TTrayNotifyData d;
        d.hWnd = owners.back();
        d.uID = static_cast<DWORD>(i + 1);
        d.uFlags = 7;
        d.szTip = L"Icon " + std::to_wstring(i + 1);
        menu.AddTrayIcon(d);
    }
    menu.Items()->ShowAt(100, 100);
    for (HWND owner : owners) DestroyWindow(owner);
    HWND next = CreateWindowExW(0, L"STATIC", L"staying", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    TTrayNotifyData d;
    d.hWnd = next;
    d.uID = 1;
    d.uFlags = 7;
    d.szTip = L"Stay";
    double t0 = bench::Now();
    menu.AddTrayIcon(d);
    double ms = bench::Now() - t0;
    std::printf("| %10d | %12.0f |\n", icons, ms);
    menu.Items()->CloseWindow();
    DestroyWindow(next);
}

}  // namespace

int main() {
    gui::PlatformScope platform;
    gui::App().Initialize();
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring db = std::wstring(tmp) + L"orv_tray_bench_" + std::to_wstring(GetCurrentProcessId()) + L".pdb";
    DKData = std::make_unique<TDKData>(db);
    TTrayMenu::SetProgramStarter([](const std::string&) {});
    InitializeTrayMenu();
    {
        TTrayMenu menu(TMenuOwner{L"Tray", 6, RGB(40, 90, 160), nullptr});
        std::printf("| clients | icons | requests | wall (ms) | ms/request |\n");
        std::printf("|---------|-------|----------|-----------|-------------|\n");
        Run(1, 10);
        Run(1, 100);
        Run(1, TTrayMenu::MaxIconsPerWindow);  // the most one window may have
        Run(4, 50);
        Run(20, 50);
        std::printf("\n| dead icons | request (ms) |\n");
        std::printf("|------------|--------------|\n");
        Purge(menu, 300);
        Purge(menu, 2000);
    }
    FinalizeTrayMenu();
    DKData.reset();
    DeleteFileW(db.c_str());
    return 0;
}
