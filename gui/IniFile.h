#pragma once
// Windows profile (.ini) file, read and written key by key; sections and keys ignore case.
#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

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

// The whole profile file in memory: read once, read and changed in memory and written back in
// one go by UpdateFile. Lines are read, kept and written as the profile functions read, keep and
// write them, in the file's own encoding (ANSI, UTF-8 with its mark, UTF-16 LE or BE with its
// mark). The new text goes to a file of its own that then takes the old one's place, so an end
// cut short leaves either the old file or the new one whole; where the folder takes no new file
// the file is rewritten in place.
class MemIniFile {
public:
    explicit MemIniFile(std::wstring path);
    const std::wstring& Path() const { return path_; }

    std::wstring ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& def) const;
    // Decimal, "$"-prefixed or "0x"-prefixed hexadecimal; anything else gives def.
    long long ReadInteger(const std::wstring& section, const std::wstring& key, long long def) const;
    bool ReadBool(const std::wstring& section, const std::wstring& key, bool def) const;
    // "key=value" lines of a section, in file order.
    void ReadSectionValues(const std::wstring& section, StringList& lines) const;

    void WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    void WriteInteger(const std::wstring& section, const std::wstring& key, long long value);
    void WriteBool(const std::wstring& section, const std::wstring& key, bool value);
    // A section exists when it holds at least one key (blank and comment lines do not count).
    bool SectionExists(const std::wstring& section) const;
    void EraseSection(const std::wstring& section);
    // False when the file could not be written (error, when given, says why); the old file is
    // then left as it was. A file that already holds the text is not written again, and one
    // that is there but could not be read is not written at all: what it holds would be lost.
    bool UpdateFile(DWORD* error = nullptr) const;
    // Why the file, which is there, could not be read; 0 when it was read or is not there.
    DWORD ReadError() const { return readError_; }

    enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };
    Encoding FileEncoding() const { return encoding_; }

private:
    struct Line {
        std::wstring key;  // the whole line when it has no "=" or is a comment
        std::wstring value;
        bool hasValue = false;
    };
    struct Section {
        std::wstring name;  // empty for the lines before the first section header
        std::vector<Line> lines;
    };
    static constexpr size_t npos = static_cast<size_t>(-1);
    // Index in sections_, npos when none. Key reads look the name up trimmed, section reads
    // and erasing as given, as the profile functions do.
    size_t Find(const std::wstring& section) const;
    size_t FindUntrimmed(const std::wstring& section) const;
    const Line* FindKey(const std::wstring& section, const std::wstring& key) const;
    std::string Encode() const;

    std::wstring path_;
    Encoding encoding_ = Encoding::Ansi;
    std::string read_;  // the bytes read, to leave an unchanged file alone
    bool existed_ = false;
    DWORD readError_ = 0;
    std::vector<Section> sections_;
    // The first section of each name (upper-cased), built when first needed.
    mutable std::unordered_map<std::wstring, size_t> index_;
    mutable bool indexed_ = false;
};

// Integer parsing shared with other readers of user text: decimal, "$" or "0x" hexadecimal.
bool TryStrToInt64(const std::wstring& text, long long& value);

}  // namespace gui
