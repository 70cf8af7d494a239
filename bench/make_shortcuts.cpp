// Fills a folder with shortcuts for the start-up benchmark:
//   make_shortcuts <folder, or "programs" for the user's Start Menu programs> <folders> <per folder>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
    wchar_t target[MAX_PATH];
    GetSystemDirectoryW(target, MAX_PATH);
    std::wstring exe = std::wstring(target) + L"\\notepad.exe";
    // One shortcut made through the shell, copied to every place (making each costs far more).
    std::wstring model = root + L"\\model.lnk";
    SHCreateDirectoryExW(nullptr, root.c_str(), nullptr);
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return 1;
    link->SetPath(exe.c_str());
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                 SUCCEEDED(file->Save(model.c_str(), TRUE));
    if (file) file->Release();
    link->Release();
    if (!saved) return 1;
    int made = 0;
    for (int f = 0; f < folders; ++f) {
        std::wstring dir = root + L"\\Group " + std::to_wstring(f);
        SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
        for (int i = 0; i < each; ++i) {
            std::wstring name = dir + L"\\Program " + std::to_wstring(i) + L".lnk";
            if (CopyFileW(model.c_str(), name.c_str(), FALSE)) ++made;
        }
    }
    DeleteFileW(model.c_str());
    std::printf("%d\n", made);
    CoUninitialize();
    return 0;
}
