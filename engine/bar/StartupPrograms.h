#pragma once
// The user's startup programs, started once when the bar has been created.
#include <windows.h>

#include <string>

// Where the startup programs are read from: the machine's and the user's registry roots and
// the two Startup folders (empty: the shell's own).
struct TStartupSources {
    HKEY LocalMachine = HKEY_LOCAL_MACHINE;
    HKEY CurrentUser = HKEY_CURRENT_USER;
    std::wstring UserStartup;
    std::wstring CommonStartup;
};
// Starts the user's startup programs as the shell does at log-on. Throws when a Run or RunOnce
// value is not a string (the remaining steps are not done).
void RunStartupPrograms(bool ExplorerWasRunning);
void RunStartupPrograms(bool ExplorerWasRunning, const TStartupSources& Sources);
