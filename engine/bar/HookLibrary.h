#pragma once
// hk.dll, loaded from the program's folder when first called for. Imported at load time, its
// absence ended the program before it could say so; now the bar reports it and ends cleanly.
// The entry points of hk.h are defined here and forward to the library; without it they do
// nothing and return FALSE.
#include <windows.h>

#include <string>

#include "hk.h"

// True when hk.dll is loaded with all six entry points (the first call loads it).
bool HookLibraryLoaded();
// The library's full path beside the executable.
std::wstring HookLibraryFileName();
// Why it did not load; empty when it did.
std::wstring HookLibraryError();
