#include "IniFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Handles.h"
#include "SysUtils.h"

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

// What the profile functions take for white space: trimmed around lines, names and values.
bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v' || c == 0x1A;
}

std::wstring Trimmed(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring Upper(std::wstring s) {
    if (!s.empty()) CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

bool IsComment(const std::wstring& key) { return !key.empty() && key[0] == L';'; }

void SwapBytes(std::string& bytes, size_t from) {
    for (size_t i = from; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
}

bool WriteAll(HANDLE f, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 24)), put = 0;
        if (!WriteFile(f, data, chunk, &put, nullptr) || put != chunk) return false;
        data += put;
        size -= put;
    }
    return true;
}

bool Seek(HANDLE f, size_t pos) {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(pos);
    return SetFilePointerEx(f, li, nullptr, FILE_BEGIN) != FALSE;
}

// Writes the text to a file beside the old one, which it then replaces in one step (a plain
// rename: ReplaceFileW under Wine deletes the old file before the new one takes its name). The
// new file takes the old one's attributes before it does.
bool ReplaceByNewFile(const std::wstring& path, const std::string& bytes, DWORD& error) {
    const std::wstring temp = path + L".new";
    DeleteFileW(temp.c_str());  // left over from an end cut short
    {
        KernelHandle f(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) {
            error = GetLastError();
            return false;
        }
        if (!WriteAll(f.get(), bytes.data(), bytes.size()) || !FlushFileBuffers(f.get())) {
            error = GetLastError();
            f.reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & kKept)) SetFileAttributesW(temp.c_str(), attrs & kKept);
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

// Rewrites the file where it stands, for a folder that takes no new file. What lies past the
// old end is written first: a disk that is full then fails before an old byte is overwritten.
bool RewriteInPlace(const std::wstring& path, const std::string& bytes, DWORD& error) {
    KernelHandle f(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) {
        error = GetLastError();
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(f.get(), &size)) {
        error = GetLastError();
        return false;
    }
    const size_t old = static_cast<size_t>(size.QuadPart);
    if (bytes.size() > old) {
        if (!Seek(f.get(), old) || !WriteAll(f.get(), bytes.data() + old, bytes.size() - old) ||
            !FlushFileBuffers(f.get())) {
            error = GetLastError();
            if (Seek(f.get(), old)) SetEndOfFile(f.get());
            return false;
        }
    }
    if (!Seek(f.get(), 0) || !WriteAll(f.get(), bytes.data(), std::min(old, bytes.size())) ||
        !Seek(f.get(), bytes.size()) || !SetEndOfFile(f.get()) || !FlushFileBuffers(f.get())) {
        error = GetLastError();
        return false;
    }
    return true;
}

}  // namespace

MemIniFile::MemIniFile(std::wstring path) : path_(std::move(path)) {
    sections_.push_back({});
    {
        KernelHandle f(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) {
            DWORD why = GetLastError();
            if (why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND) readError_ = why;
            return;
        }
        existed_ = true;
        char buf[65536];
        DWORD got = 0;
        BOOL ok;
        while ((ok = ReadFile(f.get(), buf, sizeof buf, &got, nullptr)) && got) read_.append(buf, got);
        if (!ok) {
            readError_ = GetLastError();
            read_.clear();
            return;
        }
    }
    const std::string& bytes = read_;

    std::wstring text;
    auto starts = [&bytes](const char* mark) { return bytes.compare(0, std::strlen(mark), mark) == 0; };
    if (starts("\xEF\xBB\xBF")) {
        encoding_ = Encoding::Utf8;
        text = FromUtf8(bytes.substr(3));
    } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
        encoding_ = starts("\xFF\xFE") ? Encoding::Utf16LE : Encoding::Utf16BE;
        std::string units = bytes.substr(2, (bytes.size() - 2) & ~size_t{1});
        if (encoding_ == Encoding::Utf16BE) SwapBytes(units, 0);
        text.assign(reinterpret_cast<const wchar_t*>(units.data()), units.size() / 2);
    } else {
        text = FromAnsi(bytes);
    }

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;  // the profile functions drop blank lines too
        // A header runs to the last "]"; without one the line is a key.
        size_t close = line[0] == L'[' ? line.rfind(L']') : std::wstring::npos;
        if (close != std::wstring::npos) {
            sections_.push_back({Trimmed(line.substr(1, close - 1)), {}});
            continue;
        }
        Line l;
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) {
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
    std::wstring name = Trimmed(section);
    if (name.empty()) return npos;
    if (!indexed_) {
        index_.clear();
        for (size_t i = 1; i < sections_.size(); ++i) index_.try_emplace(Upper(sections_[i].name), i);
        indexed_ = true;
    }
    auto it = index_.find(Upper(name));
    return it == index_.end() ? npos : it->second;
}

size_t MemIniFile::FindUntrimmed(const std::wstring& section) const {
    return Trimmed(section) == section ? Find(section) : npos;
}

const MemIniFile::Line* MemIniFile::FindKey(const std::wstring& section, const std::wstring& key) const {
    size_t at = Find(section);
    if (at == npos) return nullptr;
    std::wstring name = Trimmed(key);
    for (const Line& l : sections_[at].lines)
        if (SameName(l.key, name)) return &l;
    return nullptr;
}

std::wstring MemIniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& def) const {
    const Line* l = FindKey(section, key);
    if (!l || !l->hasValue) return def;
    // A value in matching quotes is read without them.
    const std::wstring& v = l->value;
    if (v.size() >= 2 && (v[0] == L'"' || v[0] == L'\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
    return v;
}

long long MemIniFile::ReadInteger(const std::wstring& section, const std::wstring& key, long long def) const {
    long long v;
    return TryStrToInt64(ReadString(section, key, L""), v) ? v : def;
}

bool MemIniFile::ReadBool(const std::wstring& section, const std::wstring& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void MemIniFile::ReadSectionValues(const std::wstring& section, StringList& lines) const {
    lines.Clear();
    size_t at = FindUntrimmed(section);
    if (at == npos) return;
    for (const Line& l : sections_[at].lines) {
        if (IsComment(l.key) || (l.key.empty() && !l.hasValue)) continue;
        lines.Add(l.key + L"=" + l.value);
    }
}

void MemIniFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    size_t at = Find(section);
    if (at == npos) {
        sections_.push_back({Trimmed(section), {}});
        at = sections_.size() - 1;
        index_.try_emplace(Upper(sections_[at].name), at);
    }
    Section& s = sections_[at];
    // The profile functions drop a value's leading blanks.
    size_t b = 0;
    while (b < value.size() && IsBlank(value[b])) ++b;
    std::wstring v = value.substr(b);
    std::wstring name = Trimmed(key);
    for (Line& l : s.lines)
        if (SameName(l.key, name)) {
            l.value = std::move(v);
            l.hasValue = true;
            return;
        }
    s.lines.push_back({name, std::move(v), true});
}

void MemIniFile::WriteInteger(const std::wstring& section, const std::wstring& key, long long value) {
    WriteString(section, key, std::to_wstring(value));
}

void MemIniFile::WriteBool(const std::wstring& section, const std::wstring& key, bool value) {
    WriteString(section, key, value ? L"1" : L"0");
}

bool MemIniFile::SectionExists(const std::wstring& section) const {
    size_t at = FindUntrimmed(section);
    if (at == npos) return false;
    for (const Line& l : sections_[at].lines)
        if (!IsComment(l.key) && (!l.key.empty() || l.hasValue)) return true;
    return false;
}

void MemIniFile::EraseSection(const std::wstring& section) {
    // Every section of the name goes, as the profile functions erase them.
    if (section.empty()) return;
    size_t before = sections_.size();
    sections_.erase(std::remove_if(sections_.begin() + 1, sections_.end(),
                                   [&](const Section& s) { return SameName(s.name, section); }),
                    sections_.end());
    if (sections_.size() != before) indexed_ = false;
}

std::string MemIniFile::Encode() const {
    std::wstring text;
    for (const Section& s : sections_) {
        if (&s != &sections_.front()) text += L"[" + s.name + L"]\r\n";
        for (const Line& l : s.lines) text += (l.hasValue ? l.key + L"=" + l.value : l.key) + L"\r\n";
    }
    switch (encoding_) {
    case Encoding::Utf8:
        return "\xEF\xBB\xBF" + ToUtf8(text);
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        std::string bytes = encoding_ == Encoding::Utf16LE ? "\xFF\xFE" : "\xFE\xFF";
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        if (encoding_ == Encoding::Utf16BE) SwapBytes(bytes, 2);
        return bytes;
    }
    default:
        return ToAnsi(text);
    }
}

bool MemIniFile::UpdateFile(DWORD* error) const {
    if (readError_) {
        if (error) *error = readError_;
        return false;
    }
    std::string bytes = Encode();
    if (existed_ && bytes == read_) return true;
    DWORD why = ERROR_SUCCESS;
    bool ok = ReplaceByNewFile(path_, bytes, why) || RewriteInPlace(path_, bytes, why);
    if (error) *error = ok ? ERROR_SUCCESS : why;
    return ok;
}

}  // namespace gui
