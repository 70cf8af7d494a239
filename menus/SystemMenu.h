#pragma once

#include "DKComponents.h"

class TSystemMenu : public TDKPopupMenu {
public:
    explicit TSystemMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};
