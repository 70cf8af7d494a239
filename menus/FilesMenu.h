#pragma once

#include "DKComponents.h"

class TFilesMenu : public TDKPopupMenu {
public:
    explicit TFilesMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};

// Module start and end routines (the hidden window of this menu lives from start to end).
void InitializeFilesMenu();
void FinalizeFilesMenu();
