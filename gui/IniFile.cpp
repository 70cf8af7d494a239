#include "IniFile.h"

#include <windows.h>

#include <vector>

#include "Handles.h"

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

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v'; }

std::wstring Trimmed(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool IsComment(const std::wstring& key) { return key.empty() || key[0] == L';'; }

}  // namespace

MemIniFile::MemIniFile(std::wstring path) : path_(std::move(path)) {
    sections_.push_back({});
    std::string bytes;
    {
        KernelHandle f(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) return;
        char buf[65536];
        DWORD got = 0;
        while (ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got) bytes.append(buf, got);
    }

    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        encoding_ = Encoding::Utf16;
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    } else {
        UINT cp = CP_ACP;
        size_t skip = 0;
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            encoding_ = Encoding::Utf8;
            cp = CP_UTF8;
            skip = 3;
        }
        int n = MultiByteToWideChar(cp, 0, bytes.data() + skip, static_cast<int>(bytes.size() - skip), nullptr, 0);
        text.resize(static_cast<size_t>(n));
        MultiByteToWideChar(cp, 0, bytes.data() + skip, static_cast<int>(bytes.size() - skip), text.data(), n);
    }

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;  // the profile functions drop blank lines too
        if (line[0] == L'[') {
            size_t close = line.find(L']');
            sections_.push_back({Trimmed(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)), {}});
            continue;
        }
        Line l;
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos || IsComment(line)) {
            l.key = line;
        } else {
            l.key = Trimmed(line.substr(0, eq));
            l.value = Trimmed(line.substr(eq + 1));
            l.hasValue = true;
        }
        sections_.back().lines.push_back(std::move(l));
    }
}

size_t MemIniFile::Find(const std::wstring& section) const {
    if (section.empty()) return npos;
    if (last_ < sections_.size() && SameName(sections_[last_].name, section)) return last_;
    for (size_t i = 1; i < sections_.size(); ++i)
        if (SameName(sections_[i].name, section)) return last_ = i;
    return npos;
}

void MemIniFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    size_t at = Find(section);
    if (at == npos) {
        sections_.push_back({section, {}});
        at = last_ = sections_.size() - 1;
    }
    Section* s = &sections_[at];
    // The profile functions drop a value's leading blanks.
    size_t b = 0;
    while (b < value.size() && IsBlank(value[b])) ++b;
    std::wstring v = value.substr(b);
    for (Line& l : s->lines)
        if (l.hasValue && SameName(l.key, key)) {
            l.value = std::move(v);
            return;
        }
    s->lines.push_back({key, std::move(v), true});
}

void MemIniFile::WriteInteger(const std::wstring& section, const std::wstring& key, long long value) {
    WriteString(section, key, std::to_wstring(value));
}

void MemIniFile::WriteBool(const std::wstring& section, const std::wstring& key, bool value) {
    WriteString(section, key, value ? L"1" : L"0");
}

bool MemIniFile::SectionExists(const std::wstring& section) const {
    size_t at = Find(section);
    if (at == npos) return false;
    for (const Line& l : sections_[at].lines)
        if (!IsComment(l.key)) return true;
    return false;
}

void MemIniFile::EraseSection(const std::wstring& section) {
    size_t at = Find(section);
    if (at == npos) return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(at));
    last_ = 0;
}

bool MemIniFile::UpdateFile() const {
    std::wstring text;
    for (const Section& s : sections_) {
        if (!s.name.empty()) text += L"[" + s.name + L"]\r\n";
        for (const Line& l : s.lines) text += (l.hasValue ? l.key + L"=" + l.value : l.key) + L"\r\n";
    }
    std::string bytes;
    if (encoding_ == Encoding::Utf16) {
        bytes = "\xFF\xFE";
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    } else {
        UINT cp = encoding_ == Encoding::Utf8 ? CP_UTF8 : CP_ACP;
        if (encoding_ == Encoding::Utf8) bytes = "\xEF\xBB\xBF";
        int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        size_t at = bytes.size();
        bytes.resize(at + static_cast<size_t>(n));
        WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), bytes.data() + at, n, nullptr, nullptr);
    }

    std::wstring temp = path_ + L".new";
    bool ok;
    {
        KernelHandle f(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) return false;
        DWORD put = 0;
        ok = WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size() &&
             FlushFileBuffers(f.get());
    }
    ok = ok && MoveFileExW(temp.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

}  // namespace gui
