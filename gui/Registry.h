#pragma once
// Registry key reader/writer: one open key at a time under a chosen root.
#include "Handles.h"
#include <windows.h>

#include <string>
#include <vector>

namespace gui {

// Every key is opened through one routine with the rights its user asked for and no more: a
// standard user is refused anything beyond reading in HKEY_LOCAL_MACHINE.
class Registry {
public:
    // Reading and writing values; readers pass KEY_READ.
    explicit Registry(HKEY root = HKEY_CURRENT_USER, REGSAM access = KEY_READ | KEY_WRITE)
        : root_(root), access_(access) {}
    ~Registry() { CloseKey(); }
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    void SetRoot(HKEY root) { CloseKey(); root_ = root; }
    void SetAccess(REGSAM access) { access_ = access; }
    // KEY_WOW64_32KEY or KEY_WOW64_64KEY: which view of the machine's software keys is opened.
    void SetView(REGSAM view) { CloseKey(); view_ = view; }
    bool OpenKey(const std::wstring& path, bool create);
    bool OpenKeyReadOnly(const std::wstring& path);
    bool KeyExists(const std::wstring& path) const;
    bool DeleteKey(const std::wstring& path);
    void CloseKey();
    HKEY CurrentKey() const { return key_.get(); }

    bool ValueExists(const std::wstring& name) const;
    // REG_SZ, REG_EXPAND_SZ, REG_DWORD, ... or REG_NONE when absent.
    DWORD GetDataType(const std::wstring& name) const;
    std::vector<std::wstring> GetValueNames() const;
    std::vector<std::wstring> GetKeyNames() const;

    // Reads REG_SZ / REG_EXPAND_SZ; throws std::runtime_error on another type or absence.
    std::wstring ReadString(const std::wstring& name) const;
    // Reads REG_DWORD; throws on another type or absence.
    int ReadInteger(const std::wstring& name) const;
    bool WriteString(const std::wstring& name, const std::wstring& value);
    bool WriteExpandString(const std::wstring& name, const std::wstring& value);
    bool WriteInteger(const std::wstring& name, int value);
    bool DeleteValue(const std::wstring& name);

    // Lets a test stand in for the system's access check: a result other than ERROR_SUCCESS
    // refuses the open with that code. Null restores the system's own check alone.
    using AccessCheck = LONG (*)(HKEY root, const std::wstring& path, REGSAM access);
    static void SetAccessCheck(AccessCheck check);

private:
    HKEY Open(const std::wstring& path, bool create, REGSAM access) const;

    HKEY root_;
    REGSAM access_;
    REGSAM view_ = 0;
    RegKeyHandle key_;
};

}  // namespace gui
