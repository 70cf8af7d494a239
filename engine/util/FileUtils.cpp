#include "util/FileUtils.h"

#include <cstring>
#include <system_error>

#include "Registry.h"
#include "SysUtils.h"

namespace {

// The shell allocator, released when the holder dies.
struct ShellMalloc {
    gui::ComPtr<IMalloc> p;
    ShellMalloc() {
        if (FAILED(SHGetMalloc(p.put()))) p.reset();
    }
};

USHORT ItemCount(LPCITEMIDLIST item) {
    USHORT cb;
    std::memcpy(&cb, item, sizeof(cb));  // items need not be aligned
    return cb;
}

void SetItemCount(LPITEMIDLIST item, USHORT cb) { std::memcpy(item, &cb, sizeof(cb)); }

std::wstring FromAnsiZ(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

double WindowsVersion() {
    OSVERSIONINFOW vi = gui::GetOSVersionInfo();
    return vi.dwMajorVersion + vi.dwMinorVersion * 0.1;
}

bool ClassKeyExists(const std::wstring& path) { return gui::Registry(HKEY_CLASSES_ROOT, KEY_READ).KeyExists(path); }

std::wstring ReadText(HKEY root, const std::wstring& path, const std::wstring& name) {
    gui::Registry reg(root, KEY_READ);
    if (!reg.OpenKeyReadOnly(path) || !reg.ValueExists(name)) return L"";
    try {
        return reg.ReadString(name);
    } catch (const std::exception&) {
        return L"";
    }
}

bool ValueExists(const std::wstring& path, const std::wstring& name) {
    gui::Registry reg(HKEY_CLASSES_ROOT, KEY_READ);
    return reg.OpenKeyReadOnly(path) && reg.ValueExists(name);
}

// A class key (an extension or a program id) that gives each file its own icon.
bool ClassDrawsPerFile(const std::wstring& key, bool programId) {
    if (key.empty()) return false;
    if (ClassKeyExists(key + L"\\shellex\\IconHandler")) return true;
    if (ReadText(HKEY_CLASSES_ROOT, key + L"\\DefaultIcon", L"").find(L"%1") != std::wstring::npos) return true;
    // Shortcuts, and classes whose icon comes from elsewhere (an older version, a COM class).
    return programId &&
           (ValueExists(key, L"IsShortcut") || ClassKeyExists(key + L"\\CurVer") || ClassKeyExists(key + L"\\CLSID"));
}

}  // namespace

void FreePIDL(LPITEMIDLIST list) {
    if (!list) return;
    gui::ComPtr<IMalloc> m;
    HRESULT hr = SHGetMalloc(m.put());
    if (FAILED(hr) || !m) throw std::system_error(hr, std::system_category(), "SHGetMalloc");
    m->Free(list);
}

LPITEMIDLIST NextPIDL(LPCITEMIDLIST item) {
    return reinterpret_cast<LPITEMIDLIST>(const_cast<BYTE*>(reinterpret_cast<const BYTE*>(item)) + ItemCount(item));
}

UINT GetPIDLSize(LPCITEMIDLIST list) {
    if (!list) return 0;
    UINT size = 0;
    for (LPCITEMIDLIST p = list; ItemCount(p) != 0; p = NextPIDL(p)) size += ItemCount(p);
    return size + 2;
}

UINT GetPIDLSizeChecked(LPCITEMIDLIST list, size_t available) {
    if (!list) return 0;
    const BYTE* base = reinterpret_cast<const BYTE*>(list);
    size_t at = 0;
    for (;;) {
        if (at + 2 > available) return 0;
        USHORT cb = ItemCount(reinterpret_cast<LPCITEMIDLIST>(base + at));
        if (cb == 0) return static_cast<UINT>(at + 2);
        if (cb < 2 || cb > available - at) return 0;
        at += cb;
    }
}

void StripLastID(LPITEMIDLIST list) {
    if (!list) return;
    LPITEMIDLIST last = GetLastPIDLItem(list);
    SetItemCount(last, 0);
}

LPITEMIDLIST GetLastPIDLItem(LPITEMIDLIST list) {
    if (!list) return nullptr;
    LPITEMIDLIST last = list;
    for (LPITEMIDLIST p = list; ItemCount(p) != 0; p = NextPIDL(p)) last = p;
    return last;
}

LPITEMIDLIST CreatePIDL(UINT size) {
    ShellMalloc m;
    if (!m.p) return nullptr;
    auto* list = static_cast<LPITEMIDLIST>(m.p->Alloc(size));
    if (list) std::memset(list, 0, size);
    return list;
}

static LPITEMIDLIST CopyBytes(LPCITEMIDLIST list, UINT size) {
    LPITEMIDLIST copy = CreatePIDL(size);
    if (copy) std::memcpy(copy, list, size);
    return copy;
}

LPITEMIDLIST CopyPIDL(LPCITEMIDLIST list) {
    if (!list) return nullptr;
    return CopyBytes(list, GetPIDLSize(list));
}

LPITEMIDLIST CopyPIDL(LPCITEMIDLIST list, size_t available) {
    UINT size = GetPIDLSizeChecked(list, available);
    return size ? CopyBytes(list, size) : nullptr;
}

bool SamePIDL(LPCITEMIDLIST a, LPCITEMIDLIST b) {
    if (!a || !b) return a == b;
    UINT size = GetPIDLSize(a);
    return size == GetPIDLSize(b) && std::memcmp(a, b, size) == 0;
}

static LPITEMIDLIST Join(LPCITEMIDLIST first, UINT firstSize, LPCITEMIDLIST second, UINT secondSize) {
    UINT head = first ? firstSize - 2 : 0;
    LPITEMIDLIST out = CreatePIDL(head + secondSize);
    if (!out) return nullptr;
    if (head) std::memcpy(out, first, head);
    std::memcpy(reinterpret_cast<BYTE*>(out) + head, second, secondSize);
    return out;
}

LPITEMIDLIST ConcatPIDLs(LPCITEMIDLIST first, LPCITEMIDLIST second) {
    if (!second) return nullptr;
    return Join(first, GetPIDLSize(first), second, GetPIDLSize(second));
}

LPITEMIDLIST ConcatPIDLs(LPCITEMIDLIST first, size_t firstAvailable, LPCITEMIDLIST second,
                         size_t secondAvailable) {
    UINT s1 = GetPIDLSizeChecked(first, firstAvailable);
    UINT s2 = GetPIDLSizeChecked(second, secondAvailable);
    if ((first && !s1) || !s2) return nullptr;
    return Join(first, s1, second, s2);
}

std::wstring GetDisplayName(IShellFolder* folder, LPCITEMIDLIST child, bool ForParsing) {
    std::wstring result;
    if (!folder) return result;
    STRRET sr{};
    if (FAILED(folder->GetDisplayNameOf(child, ForParsing ? SHGDN_FORPARSING : SHGDN_NORMAL, &sr)))
        return result;
    switch (sr.uType) {
    case STRRET_WSTR:
        if (sr.pOleStr) {
            result = sr.pOleStr;
            ShellMalloc m;
            if (m.p) m.p->Free(sr.pOleStr);
        }
        break;
    case STRRET_OFFSET:
        result = FromAnsiZ(reinterpret_cast<const char*>(child) + sr.uOffset);
        break;
    case STRRET_CSTR:
        sr.cStr[MAX_PATH - 1] = '\0';
        result = FromAnsiZ(sr.cStr);
        break;
    default:
        break;
    }
    return result;
}

int GetShellIconIndex(LPCITEMIDLIST list, bool Large, bool Open) {
    SHFILEINFOW info{};
    UINT flags = SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_USEFILEATTRIBUTES;
    if (Open) flags |= SHGFI_OPENICON;
    if (!Large) flags |= SHGFI_SMALLICON;
    if (!SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &info, sizeof(info), flags)) return 0;
    return info.iIcon;
}

bool BrowsableByAttributes(SFGAOF a, double version) {
    bool folder = a & SFGAO_FOLDER, fs = a & SFGAO_FILESYSTEM;
    if (version >= 6.0 - 1e-9) return folder && (fs || (a & SFGAO_STORAGEANCESTOR));
    return folder && (fs || !(a & SFGAO_BROWSABLE));
}

bool IsBrowsableFolder(IShellFolder* folder, LPCITEMIDLIST child) {
    SFGAOF attrs = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_BROWSABLE | SFGAO_STORAGEANCESTOR;
    folder->GetAttributesOf(1, &child, &attrs);
    return BrowsableByAttributes(attrs, WindowsVersion());
}

bool IsFileItem(IShellFolder* folder, LPCITEMIDLIST child) {
    SFGAOF attrs = SFGAO_FILESYSTEM | SFGAO_FOLDER;
    folder->GetAttributesOf(1, &child, &attrs);
    return (attrs & SFGAO_FILESYSTEM) && !(attrs & SFGAO_FOLDER);
}

bool TypeIconIsShared(const std::wstring& extension) {
    if (ClassKeyExists(L"*\\shellex\\IconHandler")) return false;
    if (extension.empty()) return true;
    std::wstring ext = gui::AnsiLowerCase(extension);
    for (const wchar_t* own : {L".exe", L".lnk", L".ico", L".cur", L".ani", L".url", L".pif", L".scf", L".msc"})
        if (ext == own) return false;
    if (ext[0] != L'.' || ext.find(L'\\') != std::wstring::npos) return false;
    if (ClassDrawsPerFile(ext, false)) return false;
    const std::wstring choices = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
    const std::wstring chosen = ReadText(HKEY_CURRENT_USER, choices + ext + L"\\UserChoice", L"ProgId");
    for (const std::wstring& id : {ReadText(HKEY_CLASSES_ROOT, ext, L""), chosen})
        if (ClassDrawsPerFile(id, true)) return false;
    if (ClassKeyExists(L"SystemFileAssociations\\" + ext + L"\\shellex\\IconHandler")) return false;
    const std::wstring perceived = ReadText(HKEY_CLASSES_ROOT, ext, L"PerceivedType");
    return perceived.empty() || !ClassKeyExists(L"SystemFileAssociations\\" + perceived + L"\\shellex\\IconHandler");
}

bool FolderTypeIconIsShared() {
    return !ClassKeyExists(L"*\\shellex\\IconHandler") && !ClassDrawsPerFile(L"Directory", false) &&
           !ClassDrawsPerFile(L"Folder", false);
}

bool FolderIconIsPlain(const std::wstring& path) {
    if (path.size() < 4 || path.back() == L'\\' || path.back() == L':') return false;
    const DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return !HasDesktopIni(path);
}

bool HasDesktopIni(const std::wstring& dir) {
    return GetFileAttributesW((dir + L"\\desktop.ini").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool BuildDoubleNullList(const std::vector<std::wstring>& strings, std::vector<wchar_t>& buffer) {
    for (const auto& s : strings) {
        buffer.insert(buffer.end(), s.begin(), s.end());
        buffer.push_back(L'\0');
    }
    buffer.push_back(L'\0');
    return true;
}

namespace {

// The file operation answers with the system's codes, except for a few of its own of old that
// overlap them without meaning the same: those are turned into the system's code they stand for.
DWORD FileOperationError(int result, const std::wstring& newName) {
    switch (result) {
    case 0x75:  // cancelled
        return ERROR_CANCELLED;
    case 0x78:  // access to the source denied
        return ERROR_ACCESS_DENIED;
    case 0x79:  // a path too long
    case 0x81:
        return ERROR_FILENAME_EXCED_RANGE;
    case 0x7C:  // an invalid path
        return ERROR_INVALID_NAME;
    case 0x7E:  // the target is an existing file or folder
    case 0x80:
        return ERROR_ALREADY_EXISTS;
    case 0xB7:  // the old code for a path past its length, the system's for a name taken
        return GetFileAttributesW(newName.c_str()) != INVALID_FILE_ATTRIBUTES ? ERROR_ALREADY_EXISTS
                                                                               : ERROR_FILENAME_EXCED_RANGE;
    case 0x402:  // an unknown error
        return ERROR_GEN_FAILURE;
    default:
        return static_cast<DWORD>(result);
    }
}

}  // namespace

bool ShellRename(HWND owner, const std::wstring& oldName, const std::wstring& newName,
                 bool RenameOnCollision, DWORD* Error) {
    std::vector<wchar_t> from, to;
    BuildDoubleNullList({oldName}, from);
    BuildDoubleNullList({newName}, to);
    SHFILEOPSTRUCTW op{};
    op.hwnd = owner;
    op.wFunc = FO_RENAME;
    op.pFrom = from.data();
    op.pTo = to.data();
    op.fFlags = FOF_NOERRORUI | (RenameOnCollision ? FOF_RENAMEONCOLLISION : 0);
    int result = SHFileOperationW(&op);
    DWORD error = result ? FileOperationError(result, newName) : op.fAnyOperationsAborted ? ERROR_CANCELLED : 0;
    if (Error) *Error = error;
    return error == 0;
}
