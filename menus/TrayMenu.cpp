#include "TrayMenu.h"

void InitializeTrayMenu() {}
void FinalizeTrayMenu() {}

TTrayMenu::TTrayMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    FItems->AddMenuItem(MainTitleID, L"Tray Icons", nullptr, true);
    AddFilter(L"Type Program Name...");
}

// The menu's own items and what its filter box runs come with the menu itself.
void TTrayMenu::ExecuteFilterText(TDKMenuItem*) {}
