#pragma once

#include "DKComponents.h"

class TApplicationsMenu : public TDKPopupMenu {
public:
    explicit TApplicationsMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};

// Module start and end routines (the hidden window of this menu lives from start to end).
void InitializeApplicationsMenu();
void FinalizeApplicationsMenu();
