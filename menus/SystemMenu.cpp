#include "SystemMenu.h"

TSystemMenu::TSystemMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    FItems->AddMenuItem(MainTitleID, L"All System Tools", nullptr, true);
    AddFilter(L"Type Tool Name...");
    AddStatistics();
}

// The menu's own items and what its filter box runs come with the menu itself.
void TSystemMenu::ExecuteFilterText(TDKMenuItem*) {}
