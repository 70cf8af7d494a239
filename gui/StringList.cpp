#include "StringList.h"

#include <windows.h>

namespace gui {

bool SameTextI(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring StringList::Name(int i) const {
    const std::wstring& s = (*this)[i];
    size_t p = s.find(L'=');
    return p == std::wstring::npos ? s : s.substr(0, p);
}

std::wstring StringList::ValueFromIndex(int i) const {
    const std::wstring& s = (*this)[i];
    size_t p = s.find(L'=');
    return p == std::wstring::npos ? std::wstring() : s.substr(p + 1);
}

int StringList::IndexOfName(const std::wstring& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::wstring& s = (*this)[i];
        size_t p = s.find(L'=');
        if (p != std::wstring::npos && SameTextI(s.substr(0, p), name)) return i;
    }
    return -1;
}

int StringList::IndexOf(const std::wstring& line) const {
    for (int i = 0; i < Count(); ++i)
        if (SameTextI((*this)[i], line)) return i;
    return -1;
}

std::wstring StringList::Value(const std::wstring& name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::wstring() : ValueFromIndex(i);
}

void StringList::SetValue(const std::wstring& name, const std::wstring& value) {
    int i = IndexOfName(name);
    if (i < 0)
        Add(name + L"=" + value);
    else
        lines[static_cast<size_t>(i)] = name + L"=" + value;
}

std::wstring StringList::Text() const {
    std::wstring out;
    for (const auto& s : lines) {
        out += s;
        out += L"\r\n";
    }
    return out;
}

void StringList::SetText(const std::wstring& text) {
    lines.clear();
    size_t start = 0, i = 0;
    while (i < text.size()) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
}

}  // namespace gui
