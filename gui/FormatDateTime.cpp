#include "FormatDateTime.h"

#include <cwchar>
#include <cwctype>

#include "SysUtils.h"

namespace gui {

namespace {

std::wstring LocaleText(LCTYPE type) {
    wchar_t buf[128] = {};
    int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 128);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring();
}

std::wstring Num(int v, int digits) {
    wchar_t buf[16];
    swprintf(buf, 16, L"%0*d", digits, v);
    return buf;
}

std::wstring ShortDate(const SYSTEMTIME& t) {
    wchar_t buf[128];
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, buf, 128);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring();
}

std::wstring TimeText(const SYSTEMTIME& t, DWORD flags) {
    wchar_t buf[128];
    int n = GetTimeFormatW(LOCALE_USER_DEFAULT, flags, &t, nullptr, buf, 128);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring();
}

bool StartsWithI(const std::wstring& s, size_t i, const wchar_t* what) {
    size_t n = wcslen(what);
    return s.size() >= i + n && SameText(s.substr(i, n), what);
}

// Day of week as the locale tables number it: Monday 0 ... Sunday 6.
int LocaleDay(const SYSTEMTIME& t) { return (t.wDayOfWeek + 6) % 7; }

}  // namespace

std::wstring FormatDateTime(const std::wstring& format, const SYSTEMTIME& t) {
    if (format.empty()) return FormatDateTime(L"c", t);
    // A 12-hour clock is used when the format holds an am/pm marker anywhere.
    bool twelve = false;
    for (size_t i = 0; i < format.size(); ++i)
        if (StartsWithI(format, i, L"am/pm") || StartsWithI(format, i, L"a/p") || StartsWithI(format, i, L"ampm"))
            twelve = true;

    std::wstring out;
    bool lastWasHour = false;
    size_t i = 0;
    while (i < format.size()) {
        wchar_t c = format[i];
        wchar_t lc = static_cast<wchar_t>(std::towlower(c));
        size_t run = 1;
        while (i + run < format.size() && std::towlower(format[i + run]) == lc) ++run;
        bool hour = false;
        switch (lc) {
        case L'\'':
        case L'"': {
            size_t end = format.find(c, i + 1);
            if (end == std::wstring::npos) end = format.size();
            out += format.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        case L'd':
            if (run == 1) out += std::to_wstring(t.wDay);
            else if (run == 2) out += Num(t.wDay, 2);
            else if (run == 3) out += LocaleText(LOCALE_SABBREVDAYNAME1 + LocaleDay(t));
            else if (run == 4) out += LocaleText(LOCALE_SDAYNAME1 + LocaleDay(t));
            else if (run == 5) out += ShortDate(t);
            else out += FormatLongDate(t);
            break;
        case L'm':
            if (lastWasHour && run <= 2) {  // minutes right after an hour
                out += run == 1 ? std::to_wstring(t.wMinute) : Num(t.wMinute, 2);
            } else if (run == 1) out += std::to_wstring(t.wMonth);
            else if (run == 2) out += Num(t.wMonth, 2);
            else if (run == 3) out += LocaleText(LOCALE_SABBREVMONTHNAME1 + t.wMonth - 1);
            else out += LocaleText(LOCALE_SMONTHNAME1 + t.wMonth - 1);
            break;
        case L'y':
            out += run <= 2 ? Num(t.wYear % 100, 2) : Num(t.wYear, 4);
            break;
        case L'h': {
            int h = t.wHour;
            if (twelve) {
                h %= 12;
                if (h == 0) h = 12;
            }
            out += run == 1 ? std::to_wstring(h) : Num(h, 2);
            hour = true;
            break;
        }
        case L'n':
            out += run == 1 ? std::to_wstring(t.wMinute) : Num(t.wMinute, 2);
            break;
        case L's':
            out += run == 1 ? std::to_wstring(t.wSecond) : Num(t.wSecond, 2);
            break;
        case L'z':
            out += run == 1 ? std::to_wstring(t.wMilliseconds) : Num(t.wMilliseconds, 3);
            break;
        case L't':
            out += TimeText(t, run == 1 ? TIME_NOSECONDS : 0);
            break;
        case L'c':
            out += ShortDate(t);
            if (t.wHour || t.wMinute || t.wSecond || t.wMilliseconds) out += L" " + TimeText(t, 0);
            break;
        case L'a':
            if (StartsWithI(format, i, L"am/pm")) {
                out += t.wHour < 12 ? format.substr(i, 2) : format.substr(i + 3, 2);
                i += 5;
                continue;
            }
            if (StartsWithI(format, i, L"a/p")) {
                out += t.wHour < 12 ? format.substr(i, 1) : format.substr(i + 2, 1);
                i += 3;
                continue;
            }
            if (StartsWithI(format, i, L"ampm")) {
                out += LocaleText(t.wHour < 12 ? LOCALE_S1159 : LOCALE_S2359);
                i += 4;
                continue;
            }
            out += format.substr(i, run);
            break;
        case L'/':
            out += LocaleText(LOCALE_SDATE);
            run = 1;
            break;
        case L':':
            out += LocaleText(LOCALE_STIME);
            run = 1;
            break;
        default:
            out += format.substr(i, run);
            break;
        }
        // Letters that are not time parts do not break an hour-minute pair.
        if (hour) lastWasHour = true;
        else if (std::iswalpha(lc)) lastWasHour = false;
        i += run;
    }
    return out;
}

}  // namespace gui
