#pragma once

#include "DKComponents.h"

class TTrayMenu : public TDKPopupMenu {
public:
    explicit TTrayMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};

// Module start and end routines (the hidden window of this menu lives from start to end).
void InitializeTrayMenu();
void FinalizeTrayMenu();
