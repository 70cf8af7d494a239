#pragma once
// A menu with no provider behaviour, for tests, helpers and benchmarks that need a tree.
#include "menu/DKComponents.h"

struct TPlainMenu : TDKPopupMenu {
    using TDKPopupMenu::TDKPopupMenu;
    void ExecuteFilterText(TDKMenuItem*) override {}
};
