// Time to build each bar menu on a thread of its own, first one at a time and then all eight at
// once, as the bar does at start-up. The Tray menu's registration programs are not started here
// (the bar starts them once its menus are built). Prints a table.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Application.h"
#include "ApplicationsMenu.h"
#include "BenchClock.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "FilesMenu.h"
#include "HelpMenu.h"
#include "InternetMenu.h"
#include "NetworkMenu.h"
#include "ProgramMenu.h"
#include "SystemMenu.h"
#include "TrayMenu.h"

namespace {

using bench::Now;

std::atomic<int> gDone{0};

struct Provider {
    const char* Name;
    TDKPopupMenu* (*Make)(const TMenuOwner&);
};

template <class T>
TDKPopupMenu* Make(const TMenuOwner& o) {
    return new T(o);
}

const Provider kProviders[] = {
    {"Programs", Make<TProgramMenu>}, {"Files", Make<TFilesMenu>},   {"Applications", Make<TApplicationsMenu>},
    {"Internet", Make<TInternetMenu>}, {"Network", Make<TNetworkMenu>}, {"System", Make<TSystemMenu>},
    {"Tray", Make<TTrayMenu>},         {"Help", Make<THelpMenu>},
};

// Builds menu i on a new multithreaded-apartment thread; ms from start to the end of the build.
std::thread Build(int i, double start, double* ms, std::unique_ptr<TDKPopupMenu>* out) {
    return std::thread([=] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        TMenuOwner owner{std::wstring(kProviders[i].Name, kProviders[i].Name + strlen(kProviders[i].Name)), i,
                         RGB(40, 120, 40), nullptr};
        try {
            out->reset(kProviders[i].Make(owner));
        } catch (...) {
        }
        *ms = Now() - start;
        ++gDone;
    });
}

// Waits for the threads while serving their calls to this (GUI) thread.
void JoinAll(std::vector<std::thread>& threads) {
    while (gDone < static_cast<int>(threads.size())) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        gui::App().ProcessMessages();
    }
    for (std::thread& t : threads) t.join();
    gDone = 0;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    gui::App().Initialize();
    InitializeFilesMenu();
    InitializeApplicationsMenu();
    InitializeTrayMenu();
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring db = std::wstring(tmp) + L"orv_bench_menus_" + std::to_wstring(GetCurrentProcessId()) + L".pdb";
    DKData = std::make_unique<TDKData>(db);
    TTrayMenu::SetProgramStarter([](const std::string&) {});

    const int n = static_cast<int>(std::size(kProviders));
    std::vector<double> alone(n), together(n);
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<TDKPopupMenu> menu;
        std::vector<std::thread> t;
        t.push_back(Build(i, Now(), &alone[i], &menu));
        JoinAll(t);
    }
    std::vector<std::unique_ptr<TDKPopupMenu>> menus(n);
    std::vector<std::thread> t;
    double start = Now();
    for (int i = 0; i < n; ++i) t.push_back(Build(i, start, &together[i], &menus[i]));
    JoinAll(t);
    menus.clear();

    std::printf("| menu | alone, ms | all eight at once, ms |\n|---|---|---|\n");
    for (int i = 0; i < n; ++i) std::printf("| %s | %.0f | %.0f |\n", kProviders[i].Name, alone[i], together[i]);
    DKData.reset();
    DeleteFileW(db.c_str());
    FinalizeTrayMenu();
    FinalizeApplicationsMenu();
    FinalizeFilesMenu();
    FinalizeDKUtils();
    return 0;
}
