// What filling the Programs menu costs per shell call, over a Start Menu of shortcuts
// (200 folders of 10 by default): each call timed over every entry of the tree, then the
// Programs menu built from it. Prints a table.
//   shell_costs [folders] [per folder]
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Application.h"
#include "BenchClock.h"
#include "BenchFiles.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "ProgramMenu.h"

namespace {

using bench::Remove;
using bench::Now;

// One folder of the tree: its bound folder, absolute list and entries.
struct TreeFolder {
    IShellFolder* sf = nullptr;
    PIDLPtr abs;
    std::vector<PIDLPtr> entries;
};

struct Row {
    const char* what;
    double ms;
    size_t calls;
};

}  // namespace

int main(int argc, char** argv) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    gui::App().Initialize();
    int folders = argc > 1 ? std::atoi(argv[1]) : 200, each = argc > 2 ? std::atoi(argv[2]) : 10;
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring root = std::wstring(tmp) + L"orv_bench_costs_" + std::to_wstring(GetCurrentProcessId());
    if (bench::MakeShortcutTree(root, folders, each) < 0) return 1;

    std::vector<Row> rows;
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    LPITEMIDLIST rootList = nullptr;
    std::wstring name = root;
    desktop->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &rootList, nullptr);

    // Bind every folder of the tree and list it.
    std::vector<TreeFolder> tree;
    double t0 = Now();
    size_t binds = 0, listed = 0;
    std::vector<LPITEMIDLIST> pending{rootList};
    while (!pending.empty()) {
        TreeFolder f;
        f.abs.reset(pending.back());
        pending.pop_back();
        desktop->BindToObject(f.abs.get(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(&f.sf));
        ++binds;
        IEnumIDList* en = nullptr;
        if (f.sf && f.sf->EnumObjects(nullptr, 0xE0, &en) == S_OK && en) {
            LPITEMIDLIST e = nullptr;
            while (en->Next(1, &e, nullptr) == S_OK && e) {
                ++listed;
                SFGAOF a = SFGAO_FOLDER;
                LPCITEMIDLIST c = e;
                f.sf->GetAttributesOf(1, &c, &a);
                if (a & SFGAO_FOLDER) pending.push_back(ConcatPIDLs(f.abs.get(), e));
                f.entries.emplace_back(e);
            }
            en->Release();
        }
        tree.push_back(std::move(f));
    }
    rows.push_back({"bind and list every folder (with a folder test)", Now() - t0, binds + listed});

    auto each_entry = [&](const char* what, auto&& fn) {
        size_t n = 0;
        double s = Now();
        for (TreeFolder& f : tree)
            for (PIDLPtr& e : f.entries) {
                fn(f, e.get());
                ++n;
            }
        rows.push_back({what, Now() - s, n});
    };
    each_entry("display name (normal)", [](TreeFolder& f, LPCITEMIDLIST e) { GetDisplayName(f.sf, e, false); });
    each_entry("display name (for parsing)", [](TreeFolder& f, LPCITEMIDLIST e) { GetDisplayName(f.sf, e, true); });
    each_entry("display name (in folder)", [](TreeFolder& f, LPCITEMIDLIST e) {
        STRRET sr{};
        if (SUCCEEDED(f.sf->GetDisplayNameOf(e, SHGDN_INFOLDER, &sr)) && sr.uType == STRRET_WSTR)
            CoTaskMemFree(sr.pOleStr);
    });
    each_entry("browsable-folder test (attributes)", [](TreeFolder& f, LPCITEMIDLIST e) { IsBrowsableFolder(f.sf, e); });
    each_entry("file test (attributes)", [](TreeFolder& f, LPCITEMIDLIST e) { IsFileItem(f.sf, e); });
    each_entry("full list (concatenation)", [](TreeFolder& f, LPCITEMIDLIST e) { PIDLPtr p(ConcatPIDLs(f.abs.get(), e)); });
    each_entry("icon index by full list", [](TreeFolder& f, LPCITEMIDLIST e) {
        PIDLPtr p(ConcatPIDLs(f.abs.get(), e));
        GetShellIconIndex(p.get(), false, false);
    });

    // Attributes of a whole folder in one call.
    {
        double s = Now();
        size_t n = 0;
        for (TreeFolder& f : tree) {
            std::vector<LPCITEMIDLIST> all;
            for (PIDLPtr& e : f.entries) all.push_back(e.get());
            if (all.empty()) continue;
            SFGAOF a = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_BROWSABLE | SFGAO_STORAGEANCESTOR;
            f.sf->GetAttributesOf(static_cast<UINT>(all.size()), all.data(), &a);
            ++n;
        }
        rows.push_back({"attributes, one call per folder", Now() - s, n});
    }

    for (TreeFolder& f : tree)
        if (f.sf) f.sf->Release();
    tree.clear();
    desktop->Release();

    // The whole menu, as the menu-building thread makes it.
    {
        DKData = std::make_unique<TDKData>(root + L".pdb");
        TProgramFolders where;
        where.CommonPrograms = root;
        std::wstring none = root + L"\\none";
        where.Programs = where.Desktop = where.CommonDesktop = where.QuickLaunch = none;
        TMenuOwner owner{L"Programs", 0, RGB(200, 120, 40), nullptr};
        // As the bar builds it: on a worker thread of its own.
        auto worker = bench::SortedTimes(3, [&] {
            std::thread t([&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                { TProgramMenu menu(owner, where); }
                CoUninitialize();
            });
            t.join();
        });
        rows.push_back({"Programs menu built on a worker thread (best of 3)", worker.front(),
                        static_cast<size_t>(folders * (each + 1))});
        auto gui = bench::SortedTimes(3, [&] { TProgramMenu menu(owner, where); });
        rows.push_back({"Programs menu built on the GUI thread (best of 3)", gui.front(),
                        static_cast<size_t>(folders * (each + 1))});
        DKData.reset();
        DeleteFileW((root + L".pdb").c_str());
    }

    std::printf("%d folders of %d shortcuts\n\n| step | ms | calls | us per call |\n|---|---|---|---|\n", folders,
                each);
    for (const Row& r : rows)
        std::printf("| %s | %.1f | %zu | %.0f |\n", r.what, r.ms, r.calls, r.calls ? r.ms * 1000.0 / r.calls : 0.0);
    Remove(root);
    return 0;
}
