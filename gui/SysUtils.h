#pragma once
// Text, path and file helpers used throughout the program.
#include <windows.h>

#include <string>

namespace gui {

std::string ToUtf8(const std::wstring& s);
std::wstring FromUtf8(const std::string& s);
// System ANSI code page (characters it lacks become its default character).
std::string ToAnsi(const std::wstring& s);
std::wstring FromAnsi(const std::string& s);

// Case mapping of ASCII letters only, like the Pascal run-time's LowerCase/UpperCase.
std::wstring LowerCase(std::wstring s);
std::wstring UpperCase(std::wstring s);
// Locale-aware case mapping (every letter).
std::wstring AnsiLowerCase(std::wstring s);
std::wstring AnsiUpperCase(std::wstring s);
bool SameText(const std::wstring& a, const std::wstring& b);  // ASCII case-insensitive
std::wstring Trim(const std::wstring& s);

// Full path of this executable, its folder (with the trailing backslash).
std::wstring ExeFileName();
std::wstring ExeDir();
std::wstring ExtractFilePath(const std::wstring& path);  // up to and including the last '\' or ':'
std::wstring ExtractFileName(const std::wstring& path);
std::wstring ExtractFileExt(const std::wstring& path);   // with the dot, or empty
std::wstring ChangeFileExt(const std::wstring& path, const std::wstring& ext);
std::wstring IncludeTrailingBackslash(const std::wstring& path);
std::wstring ExcludeTrailingBackslash(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);

std::wstring SysErrorMessage(DWORD code);

// Milliseconds from the performance counter: for timing steps shorter than a tick.
double NowMs();

// The version record of the running Windows (GetVersionExW).
OSVERSIONINFOW GetOSVersionInfo();

// "hh:nn:ss.zzz" of a local time.
std::wstring FormatTimeStamp(const SYSTEMTIME& t);
// The system's long date format for a local date.
std::wstring FormatLongDate(const SYSTEMTIME& t);

}  // namespace gui
