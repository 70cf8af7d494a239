#include "ColorDialog.h"

#include <commdlg.h>

#include <utility>

namespace gui {

namespace {

ColorDialog::ExecuteHook& Hook() {
    static ColorDialog::ExecuteHook hook;
    return hook;
}

}  // namespace

void ColorDialog::SetExecuteHook(ExecuteHook hook) { Hook() = std::move(hook); }

bool ColorDialog::Execute(HWND owner) {
    if (Hook()) {
        COLORREF c = Color;
        if (!Hook()(owner, c)) return false;
        Color = c;
        return true;
    }
    CHOOSECOLORW cc{sizeof(cc)};
    cc.hwndOwner = owner;
    cc.rgbResult = Color;
    cc.lpCustColors = CustomColors.data();
    cc.Flags = CC_RGBINIT | CC_ANYCOLOR;
    if (!ChooseColorW(&cc)) return false;
    Color = cc.rgbResult;
    return true;
}

}  // namespace gui
