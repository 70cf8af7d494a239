// Stand-ins for the shell-folder operations of the items, which are built in their own files
// (DKMenuItemShell.cpp, DKShellMenu.cpp). Delete this file when those land.
#include "DKComponents.h"

void TDKMenuItem::ExposeFolder(LPCITEMIDLIST, bool, SHCONTF, int) {}
void TDKMenuItem::ExposeFolder(const std::wstring&, bool, SHCONTF, int) {}
void TDKMenuItem::DoExecItemIDList(TDKMenuItem*) {}
std::wstring TDKMenuItem::GetFileName() const { return FExecPath; }
void AddItemsFromHMENU(HMENU, TDKMenuItem*) {}
