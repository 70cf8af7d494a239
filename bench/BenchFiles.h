#pragma once
// Files and folders the benchmarks make and remove again.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace bench {

// An empty file.
inline void Touch(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// A folder with everything in it.
inline void Remove(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring p = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                Remove(p);
            else
                DeleteFileW(p.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

// Shortcuts to notepad.exe in root\Group <f>\Program <i>.lnk: one made through the shell and copied
// to every place (making each costs far more). The number made; -1 when the shell made none.
// COM must be initialised.
inline int MakeShortcutTree(const std::wstring& root, int folders, int each) {
    wchar_t sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    std::wstring exe = std::wstring(sys) + L"\\notepad.exe";
    SHCreateDirectoryExW(nullptr, root.c_str(), nullptr);
    std::wstring model = root + L"\\model.lnk";
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return -1;
    link->SetPath(exe.c_str());
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                 SUCCEEDED(file->Save(model.c_str(), TRUE));
    if (file) file->Release();
    link->Release();
    if (!saved) return -1;
    int made = 0;
    for (int f = 0; f < folders; ++f) {
        std::wstring dir = root + L"\\Group " + std::to_wstring(f);
        CreateDirectoryW(dir.c_str(), nullptr);
        for (int i = 0; i < each; ++i)
            if (CopyFileW(model.c_str(), (dir + L"\\Program " + std::to_wstring(i) + L".lnk").c_str(), FALSE)) ++made;
    }
    DeleteFileW(model.c_str());
    return made;
}

}  // namespace bench
