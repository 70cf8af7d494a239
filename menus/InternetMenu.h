#pragma once

#include "DKComponents.h"

class TInternetMenu : public TDKPopupMenu {
public:
    explicit TInternetMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};
