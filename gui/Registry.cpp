#include "Registry.h"

#include <stdexcept>

#include "SysUtils.h"

namespace gui {

namespace {
Registry::AccessCheck gAccessCheck = nullptr;
}

void Registry::SetAccessCheck(AccessCheck check) { gAccessCheck = check; }

HKEY Registry::Open(const std::wstring& path, bool create, REGSAM access) const {
    access |= view_;
    HKEY k = nullptr;
    LONG rc = gAccessCheck ? gAccessCheck(root_, path, access) : ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS)
        rc = create ? RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0, access, nullptr, &k, nullptr)
                    : RegOpenKeyExW(root_, path.c_str(), 0, access, &k);
    return rc == ERROR_SUCCESS ? k : nullptr;
}

bool Registry::OpenKey(const std::wstring& path, bool create) {
    CloseKey();
    key_.reset(Open(path, create, access_));
    return static_cast<bool>(key_);
}

bool Registry::OpenKeyReadOnly(const std::wstring& path) {
    CloseKey();
    key_.reset(Open(path, false, KEY_READ));
    return static_cast<bool>(key_);
}

bool Registry::KeyExists(const std::wstring& path) const {
    return static_cast<bool>(RegKeyHandle(Open(path, false, KEY_READ)));
}

bool Registry::DeleteKey(const std::wstring& path) {
    return RegDeleteTreeW(root_, path.c_str()) == ERROR_SUCCESS;
}

void Registry::CloseKey() {
    key_.reset();
}

bool Registry::ValueExists(const std::wstring& name) const {
    return GetDataType(name) != REG_NONE;
}

DWORD Registry::GetDataType(const std::wstring& name) const {
    if (!key_) return REG_NONE;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

std::vector<std::wstring> Registry::GetValueNames() const {
    std::vector<std::wstring> names;
    if (!key_) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t buf[16384];
        DWORD len = 16384;
        LONG rc = RegEnumValueW(key_.get(), i, buf, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS) names.emplace_back(buf, len);
        else break;
    }
    return names;
}

std::vector<std::wstring> Registry::GetKeyNames() const {
    std::vector<std::wstring> names;
    if (!key_) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t buf[256];
        DWORD len = 256;
        LONG rc = RegEnumKeyExW(key_.get(), i, buf, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) break;
        names.emplace_back(buf, len);
    }
    return names;
}

std::wstring Registry::ReadString(const std::wstring& name) const {
    if (!key_) throw std::runtime_error("Registry key is not open");
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::wstring();
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw std::runtime_error("Invalid data type for '" + ToUtf8(name) + "'");
    std::wstring s(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(s.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(s.data()), &got) != ERROR_SUCCESS)
        return std::wstring();
    s.resize(got / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
}

int Registry::ReadInteger(const std::wstring& name) const {
    if (!key_) throw std::runtime_error("Registry key is not open");
    DWORD type = 0, value = 0, size = sizeof(value);
    if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        throw std::runtime_error("Invalid data type for '" + ToUtf8(name) + "'");
    return static_cast<int>(value);
}

static bool SetString(HKEY key, const std::wstring& name, const std::wstring& value, DWORD type) {
    if (!key) return false;
    return RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool Registry::WriteString(const std::wstring& name, const std::wstring& value) {
    return SetString(key_.get(), name, value, REG_SZ);
}

bool Registry::WriteExpandString(const std::wstring& name, const std::wstring& value) {
    return SetString(key_.get(), name, value, REG_EXPAND_SZ);
}

bool Registry::WriteInteger(const std::wstring& name, int value) {
    if (!key_) return false;
    DWORD v = static_cast<DWORD>(value);
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof(v)) == ERROR_SUCCESS;
}

bool Registry::DeleteValue(const std::wstring& name) {
    return key_ && RegDeleteValueW(key_.get(), name.c_str()) == ERROR_SUCCESS;
}

}  // namespace gui
