#pragma once
// What tests read off menu trees.
#include <string>
#include <vector>

#include "menu/DKComponents.h"

namespace testing_support {

// The captions of an item's children, in order.
inline std::vector<std::wstring> Captions(const TDKMenuItem* item) {
    std::vector<std::wstring> out;
    for (int i = 0; i < item->Count(); ++i) out.push_back(item->GetItem(i)->Caption());
    return out;
}

}  // namespace testing_support
