#pragma once
// Date-time formatting with the Pascal run-time's format letters (d, m, y, h, n, s, z, t, c,
// am/pm, quoted text), names and separators from the user's locale.
#include <windows.h>

#include <string>

namespace gui {

std::wstring FormatDateTime(const std::wstring& format, const SYSTEMTIME& t);

}  // namespace gui
