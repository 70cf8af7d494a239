// Shell-folder filling costs on real folders: one level, a whole tree, merging a second
// folder, and reopening an on-demand folder (read afresh at every opening). Prints a table.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "Application.h"
#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "PlainMenu.h"
#include "BenchClock.h"
#include "BenchFiles.h"

namespace {

using bench::Remove;
using bench::Touch;
using bench::Measure;
using bench::Now;
using bench::Result;

// n files and n/10 sub-folders of 10 files each.
void Fill(const std::wstring& dir, int n) {
    CreateDirectoryW(dir.c_str(), nullptr);
    for (int i = 0; i < n; ++i) Touch(dir + L"\\file" + std::to_wstring(i) + L".txt");
    for (int d = 0; d < n / 10; ++d) {
        std::wstring sub = dir + L"\\folder" + std::to_wstring(d);
        CreateDirectoryW(sub.c_str(), nullptr);
        for (int i = 0; i < 10; ++i) Touch(sub + L"\\f" + std::to_wstring(i) + L".doc");
    }
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    gui::App().Initialize();
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring base = std::wstring(tmp) + L"orv_bench_shell_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(base.c_str(), nullptr);
    std::printf("%-50s %10s %10s\n", "operation", "mean ms", "best ms");
    for (int n : {100, 500}) {
        std::wstring a = base + L"\\a" + std::to_wstring(n), b = base + L"\\b" + std::to_wstring(n);
        Fill(a, n);
        Fill(b, n);
        auto level = Measure(5, [&] {
            TPlainMenu m;
            m.RootItem()->ExposeFolder(a, false, 224, 1);
        });
        auto tree = Measure(5, [&] {
            TPlainMenu m;
            m.RootItem()->ExposeFolder(a, true, 224, 1);
        });
        auto merged = Measure(5, [&] {
            TPlainMenu m;
            m.RootItem()->ExposeFolder(a, true, 224, 1);
            m.RootItem()->ExposeFolder(b, true, 224, 1);
        });
        TPlainMenu m;
        m.RootItem()->ExposeFolder(base, false, 224, 1);
        TDKMenuItem* folder = nullptr;
        for (int i = 0; i < m.RootItem()->Count(); ++i)
            if (m.RootItem()->GetItem(i)->Caption() == L"a" + std::to_wstring(n)) folder = m.RootItem()->GetItem(i);
        auto reopen = Measure(5, [&] {
            if (folder) folder->DoExposeItemIDList(folder);
        });
        std::string tag = std::to_string(n) + " files + " + std::to_string(n / 10) + " folders";
        std::printf("%-50s %10.2f %10.2f\n", ("one level, on demand, " + tag).c_str(), level.mean, level.best);
        std::printf("%-50s %10.2f %10.2f\n", ("whole tree, " + tag).c_str(), tree.mean, tree.best);
        std::printf("%-50s %10.2f %10.2f\n", ("whole tree merged with a second, " + tag).c_str(), merged.mean,
                    merged.best);
        std::printf("%-50s %10.2f %10.2f\n", ("reopen on-demand folder, " + tag).c_str(), reopen.mean, reopen.best);
    }
    Remove(base);
    return 0;
}
