#include "IniFile.h"

#include <windows.h>

#include <vector>

namespace gui {

bool TryStrToInt64(const std::wstring& textIn, long long& value) {
    std::wstring text = textIn;
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.erase(0, 1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.pop_back();
    if (text.empty()) return false;
    size_t i = 0;
    bool neg = false;
    if (text[i] == L'-' || text[i] == L'+') {
        neg = text[i] == L'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == L'$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    unsigned long long v = 0;
    for (; i < text.size(); ++i) {
        wchar_t c = text[i];
        int d;
        if (c >= L'0' && c <= L'9') d = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f') d = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F') d = c - L'A' + 10;
        else return false;
        if (v > (~0ULL - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    value = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
    return true;
}

std::wstring IniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& def) const {
    std::vector<wchar_t> buf(2048);
    for (;;) {
        DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), def.c_str(), buf.data(),
                                           static_cast<DWORD>(buf.size()), path_.c_str());
        if (n + 1 < buf.size()) return std::wstring(buf.data(), n);
        buf.resize(buf.size() * 4);
    }
}

long long IniFile::ReadInteger(const std::wstring& section, const std::wstring& key, long long def) const {
    long long v;
    return TryStrToInt64(ReadString(section, key, L""), v) ? v : def;
}

bool IniFile::ReadBool(const std::wstring& section, const std::wstring& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path_.c_str());
}

void IniFile::WriteInteger(const std::wstring& section, const std::wstring& key, long long value) {
    WriteString(section, key, std::to_wstring(value));
}

void IniFile::WriteBool(const std::wstring& section, const std::wstring& key, bool value) {
    WriteString(section, key, value ? L"1" : L"0");
}

static std::vector<std::wstring> SectionLines(const std::wstring& path, const std::wstring& section) {
    std::vector<wchar_t> buf(8192);
    DWORD n;
    for (;;) {
        n = GetPrivateProfileSectionW(section.c_str(), buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
        if (n + 2 < buf.size()) break;
        buf.resize(buf.size() * 4);
    }
    std::vector<std::wstring> out;
    const wchar_t* p = buf.data();
    const wchar_t* end = buf.data() + n;
    while (p < end && *p) {
        std::wstring line(p);
        p += line.size() + 1;
        out.push_back(line);
    }
    return out;
}

bool IniFile::SectionExists(const std::wstring& section) const {
    return !SectionLines(path_, section).empty();
}

void IniFile::ReadSection(const std::wstring& section, StringList& keys) const {
    keys.Clear();
    for (const auto& line : SectionLines(path_, section)) {
        size_t p = line.find(L'=');
        keys.Add(p == std::wstring::npos ? line : line.substr(0, p));
    }
}

void IniFile::ReadSectionValues(const std::wstring& section, StringList& lines) const {
    lines.Clear();
    for (const auto& line : SectionLines(path_, section)) {
        size_t p = line.find(L'=');
        lines.Add(p == std::wstring::npos ? line + L"=" : line);
    }
}

void IniFile::EraseSection(const std::wstring& section) {
    WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, path_.c_str());
}

void IniFile::DeleteKey(const std::wstring& section, const std::wstring& key) {
    WritePrivateProfileStringW(section.c_str(), key.c_str(), nullptr, path_.c_str());
}

}  // namespace gui
