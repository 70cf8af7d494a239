#include "SysUtils.h"

#include <cwchar>
#include <vector>

namespace gui {

static std::string Narrow(const std::wstring& s, UINT cp) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

static std::wstring Widen(const std::string& s, UINT cp) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string ToUtf8(const std::wstring& s) { return Narrow(s, CP_UTF8); }
std::wstring FromUtf8(const std::string& s) { return Widen(s, CP_UTF8); }
std::string ToAnsi(const std::wstring& s) { return Narrow(s, CP_ACP); }
std::wstring FromAnsi(const std::string& s) { return Widen(s, CP_ACP); }

std::wstring LowerCase(std::wstring s) {
    for (auto& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return s;
}

std::wstring UpperCase(std::wstring s) {
    for (auto& c : s)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    return s;
}

std::wstring AnsiLowerCase(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

std::wstring AnsiUpperCase(std::wstring s) {
    if (!s.empty()) CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return LowerCase(a) == LowerCase(b); }

std::wstring Trim(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] <= L' ') ++b;
    while (e > b && s[e - 1] <= L' ') --e;
    return s.substr(b, e - b);
}

std::wstring ExeFileName() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n < buf.size()) return std::wstring(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::wstring ExeDir() { return ExtractFilePath(ExeFileName()); }

std::wstring ExtractFilePath(const std::wstring& path) {
    size_t p = path.find_last_of(L"\\:/");
    return p == std::wstring::npos ? std::wstring() : path.substr(0, p + 1);
}

std::wstring ExtractFileName(const std::wstring& path) {
    size_t p = path.find_last_of(L"\\:/");
    return p == std::wstring::npos ? path : path.substr(p + 1);
}

std::wstring ExtractFileExt(const std::wstring& path) {
    size_t p = path.find_last_of(L".\\:/");
    if (p == std::wstring::npos || path[p] != L'.') return {};
    return path.substr(p);
}

std::wstring ChangeFileExt(const std::wstring& path, const std::wstring& ext) {
    size_t p = path.find_last_of(L".\\:/");
    if (p == std::wstring::npos || path[p] != L'.') return path + ext;
    return path.substr(0, p) + ext;
}

std::wstring IncludeTrailingBackslash(const std::wstring& path) {
    if (!path.empty() && path.back() == L'\\') return path;
    return path + L"\\";
}

std::wstring ExcludeTrailingBackslash(const std::wstring& path) {
    if (!path.empty() && path.back() == L'\\') return path.substr(0, path.size() - 1);
    return path;
}

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

OSVERSIONINFOW GetOSVersionInfo() {
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof(vi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&vi);
#pragma GCC diagnostic pop
    return vi;
}

std::wstring SysErrorMessage(DWORD code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring s = n ? std::wstring(buf, n) : L"Error " + std::to_wstring(code);
    if (buf) LocalFree(buf);
    return Trim(s);
}

std::wstring FormatTimeStamp(const SYSTEMTIME& t) {
    wchar_t buf[32];
    swprintf(buf, 32, L"%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return buf;
}

std::wstring FormatLongDate(const SYSTEMTIME& t) {
    wchar_t buf[256];
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &t, nullptr, buf, 256);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring();
}

double NowMs() {
    static const LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

}  // namespace gui
