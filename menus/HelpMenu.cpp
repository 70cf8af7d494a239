#include "HelpMenu.h"

THelpMenu::THelpMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
}

// The menu's own items and what its filter box runs come with the menu itself.
void THelpMenu::ExecuteFilterText(TDKMenuItem*) {}
