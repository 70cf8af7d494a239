// Fills a folder with shortcuts for the start-up benchmark:
//   make_shortcuts <folder, or "programs" for the user's Start Menu programs> <folders> <per folder>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchFiles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring root = argv[1];
    if (root == L"programs") {
        wchar_t programs[MAX_PATH];
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs))) return 1;
        root = programs;
    }
    int folders = _wtoi(argv[2]), each = _wtoi(argv[3]);
    int made = bench::MakeShortcutTree(root, folders, each);
    if (made < 0) return 1;
    std::printf("%d\n", made);
    CoUninitialize();
    return 0;
}
