#pragma once

#include "DKComponents.h"

class THelpMenu : public TDKPopupMenu {
public:
    explicit THelpMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};
