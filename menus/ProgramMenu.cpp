#include "ProgramMenu.h"

TProgramMenu::TProgramMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    FItems->AddMenuItem(MainTitleID, L"All Programs", nullptr, true);
    AddFilter(L"Type Program Name...");
    AddStatistics();
}

// The menu's own items and what its filter box runs come with the menu itself.
void TProgramMenu::ExecuteFilterText(TDKMenuItem*) {}
