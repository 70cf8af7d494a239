#include "NetworkMenu.h"

TNetworkMenu::TNetworkMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    FItems->AddMenuItem(MainTitleID, L"All Networks", nullptr, true);
    AddFilter(L"Type Host Name...");
    AddStatistics();
}

// The menu's own items and what its filter box runs come with the menu itself.
void TNetworkMenu::ExecuteFilterText(TDKMenuItem*) {}
