#include <mutex>
#include <string>

#include "settings/DKLog.h"
#include "settings/Configs.h"
#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {

std::mutex g_logLock;

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

// Line breaks of the text become CR LF, as a saved text file would have them.
std::wstring NormaliseBreaks(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r') {
            out += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else if (c == L'\n') {
            out += L"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Encode(const std::wstring& s, Encoding enc) {
    switch (enc) {
    case Encoding::Utf8:
        return gui::ToUtf8(s);
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        std::string out;
        out.reserve(s.size() * 2);
        for (wchar_t c : s) {
            char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
            if (enc == Encoding::Utf16LE) { out += lo; out += hi; }
            else { out += hi; out += lo; }
        }
        return out;
    }
    default:
        return gui::ToAnsi(s);
    }
}

bool ReadAt(HANDLE f, LONGLONG pos, void* buf, DWORD n) {
    LARGE_INTEGER li;
    li.QuadPart = pos;
    DWORD got = 0;
    return SetFilePointerEx(f, li, nullptr, FILE_BEGIN) && ReadFile(f, buf, n, &got, nullptr) && got == n;
}

}  // namespace

std::wstring LogFileName() { return gui::ChangeFileExt(gui::ExeFileName(), L".log"); }

void Log(BYTE level, const std::wstring& text) { TryLog(level, text); }

bool TryLog(BYTE level, const std::wstring& text) {
    if (level < Config.LogPriority) return false;
    try {
        std::wstring path = LogFileName();
        if (!gui::FileExists(path)) return false;  // the writer never creates the file
        SYSTEMTIME now;
        GetLocalTime(&now);
        std::wstring line = gui::FormatTimeStamp(now) + L"> " + NormaliseBreaks(text) + L"\r\n";

        std::lock_guard<std::mutex> guard(g_logLock);
        gui::KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        HANDLE f = file.get();
        LARGE_INTEGER size{};
        GetFileSizeEx(f, &size);
        Encoding enc = Encoding::Ansi;
        unsigned char bom[3] = {};
        if (size.QuadPart >= 3 && ReadAt(f, 0, bom, 3) && bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF)
            enc = Encoding::Utf8;
        else if (size.QuadPart >= 2 && ReadAt(f, 0, bom, 2) && bom[0] == 0xFF && bom[1] == 0xFE)
            enc = Encoding::Utf16LE;
        else if (size.QuadPart >= 2 && ReadAt(f, 0, bom, 2) && bom[0] == 0xFE && bom[1] == 0xFF)
            enc = Encoding::Utf16BE;
        const LONGLONG bomSize = enc == Encoding::Utf8 ? 3 : enc == Encoding::Ansi ? 0 : 2;
        // A last line without its line end gets one first, as rewriting the file would give it.
        const DWORD unit = (enc == Encoding::Utf16LE || enc == Encoding::Utf16BE) ? 2 : 1;
        if (size.QuadPart > bomSize) {
            unsigned char last[2] = {};
            if (ReadAt(f, size.QuadPart - unit, last, unit)) {
                wchar_t c = unit == 1 ? last[0]
                            : enc == Encoding::Utf16LE ? static_cast<wchar_t>(last[0] | (last[1] << 8))
                                                       : static_cast<wchar_t>(last[1] | (last[0] << 8));
                if (c != L'\n') line = L"\r\n" + line;
            }
        }
        std::string bytes = Encode(line, enc);
        LARGE_INTEGER end{};
        SetFilePointerEx(f, end, nullptr, FILE_END);
        DWORD written = 0;
        return WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    } catch (...) {
        // the line is lost; logging never fails its caller
    }
    return false;
}
