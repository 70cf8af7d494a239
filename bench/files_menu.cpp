// Files menu costs on the prefix's drives: building the menu, one rebuild of the drive list
// through a device message, and opening a folder of n files with its commands. Prints a table.
#include <windows.h>
#include <dbt.h>

#include <cstdio>
#include <string>

#include "Application.h"
#include "BenchClock.h"
#include "BenchFiles.h"
#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "FilesMenu.h"

namespace {

using bench::Remove;
using bench::Touch;
using bench::Measure;

TMenuOwner Owner() { return TMenuOwner{L"Files", 1, RGB(200, 160, 60), nullptr}; }

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    gui::App().Initialize();
    InitializeFilesMenu();
    std::printf("%-50s %10s %10s\n", "operation", "mean ms", "best ms");

    auto build = Measure(10, [] { TFilesMenu m(Owner()); });
    std::printf("%-50s %10.2f %10.2f\n", "build the menu (no stored items)", build.mean, build.best);

    {
        TFilesMenu m(Owner());
        DEV_BROADCAST_VOLUME v{sizeof(v), DBT_DEVTYP_VOLUME, 0, 1u << 2, 0};
        auto refresh = Measure(20, [&] {
            SendMessageW(DeviceListenerWnd.get(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&v));
        });
        std::printf("%-50s %10.2f %10.2f\n", "device arrival: drive list rebuilt", refresh.mean, refresh.best);
    }

    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring base = std::wstring(tmp) + L"orv_bench_files_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(base.c_str(), nullptr);
    for (int n : {100, 1000}) {
        std::wstring dir = base + L"\\n" + std::to_wstring(n);
        CreateDirectoryW(dir.c_str(), nullptr);
        for (int i = 0; i < n; ++i) Touch(dir + L"\\file" + std::to_wstring(i) + L".txt");
        TFilesMenu m(Owner());
        TDKMenuItem holder;
        holder.FPopupMenu = &m;
        holder.SetShowFileExt(true);
        holder.FOnAfterExpose = [&m](TDKMenuItem* s) { m.AfterExposeFolder(s); };
        holder.ExposeFolder(base, false, 224, 1);
        TDKMenuItem* folder = holder.FindItem(L"n" + std::to_wstring(n));
        if (!folder) continue;
        auto open = Measure(5, [&] { folder->FOnBeforExpose(folder); });
        TDKMenuItem* file = folder->GetItem(0);
        auto commands = Measure(20, [&] { file->FOnBeforExpose(file); });
        std::printf("%-50s %10.2f %10.2f\n", ("open a folder of " + std::to_string(n) + " files with commands").c_str(),
                    open.mean, open.best);
        std::printf("%-50s %10.2f %10.2f\n", ("a file's commands, folder of " + std::to_string(n)).c_str(),
                    commands.mean, commands.best);
    }
    Remove(base);
    FinalizeFilesMenu();
    return 0;
}
