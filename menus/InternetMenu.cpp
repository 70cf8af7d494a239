#include "InternetMenu.h"

TInternetMenu::TInternetMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    FItems->AddMenuItem(MainTitleID, L"Bookmarks", nullptr, true);
    AddFilter(L"Type Bookmark Name...");
    AddStatistics();
}

// The menu's own items and what its filter box runs come with the menu itself.
void TInternetMenu::ExecuteFilterText(TDKMenuItem*) {}
