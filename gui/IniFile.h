#pragma once
// Windows profile (.ini) file, read and written key by key; sections and keys ignore case.
#include <string>

#include "StringList.h"

namespace gui {

class IniFile {
public:
    explicit IniFile(std::wstring path) : path_(std::move(path)) {}
    const std::wstring& Path() const { return path_; }

    std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                            const std::wstring& def) const;
    // Decimal, "$"-prefixed or "0x"-prefixed hexadecimal; anything else gives def.
    long long ReadInteger(const std::wstring& section, const std::wstring& key, long long def) const;
    bool ReadBool(const std::wstring& section, const std::wstring& key, bool def) const;
    void WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    void WriteInteger(const std::wstring& section, const std::wstring& key, long long value);
    void WriteBool(const std::wstring& section, const std::wstring& key, bool value);

    // A section exists when it holds at least one key.
    bool SectionExists(const std::wstring& section) const;
    // Key names of a section, in file order.
    void ReadSection(const std::wstring& section, StringList& keys) const;
    // "key=value" lines of a section, in file order.
    void ReadSectionValues(const std::wstring& section, StringList& lines) const;
    void EraseSection(const std::wstring& section);
    void DeleteKey(const std::wstring& section, const std::wstring& key);

private:
    std::wstring path_;
};

// Integer parsing shared with other readers of user text: decimal, "$" or "0x" hexadecimal.
bool TryStrToInt64(const std::wstring& text, long long& value);

}  // namespace gui
