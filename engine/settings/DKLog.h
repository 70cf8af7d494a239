#pragma once
// The log writer.
#include <windows.h>

#include <string>

// Appends one time-stamped line to the log file beside the executable, when that file exists
// and level is at least Config.LogPriority. Never throws; safe from any thread.
void Log(BYTE level, const std::wstring& text);
// As Log; true only when the line reached the file.
bool TryLog(BYTE level, const std::wstring& text);
// The log file: the executable's path with ".log".
std::wstring LogFileName();
