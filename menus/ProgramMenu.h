#pragma once

#include "DKComponents.h"

class TProgramMenu : public TDKPopupMenu {
public:
    explicit TProgramMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};
