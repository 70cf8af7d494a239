#pragma once

#include "DKComponents.h"

class TNetworkMenu : public TDKPopupMenu {
public:
    explicit TNetworkMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
};
