#pragma once
// Ordered list of text lines with "name=value" access.
#include <string>
#include <vector>

namespace gui {

class StringList {
public:
    std::vector<std::wstring> lines;

    int Count() const { return static_cast<int>(lines.size()); }
    void Add(const std::wstring& s) { lines.push_back(s); }
    void Clear() { lines.clear(); }
    std::wstring& operator[](int i) { return lines[static_cast<size_t>(i)]; }
    const std::wstring& operator[](int i) const { return lines[static_cast<size_t>(i)]; }

    // Part before the first '=' (the whole line when it has none).
    std::wstring Name(int i) const;
    // Part after the first '=' (empty when the line has none).
    std::wstring ValueFromIndex(int i) const;
    // Value of the first line whose name matches without regard to case.
    std::wstring Value(const std::wstring& name) const;
    void SetValue(const std::wstring& name, const std::wstring& value);
    int IndexOfName(const std::wstring& name) const;
    int IndexOf(const std::wstring& line) const;

    // Lines joined with CR LF (each line ended); SetText splits at CR LF, CR or LF.
    std::wstring Text() const;
    void SetText(const std::wstring& text);
};

bool SameTextI(const std::wstring& a, const std::wstring& b);

}  // namespace gui
