#pragma once
// The platform's colour chooser (ChooseColorW) as an object that keeps its colour and custom
// colours between runs. A process-wide hook can answer in its place, so code that opens it can
// be driven without a modal dialog.
#include <windows.h>

#include <array>
#include <functional>

namespace gui {

class ColorDialog {
public:
    COLORREF Color = 0;
    std::array<COLORREF, 16> CustomColors{};

    // Shows the chooser owned by owner with Color preselected; true and Color set when the user
    // confirms, false (Color unchanged) when the chooser is cancelled.
    bool Execute(HWND owner);

    // Answers every Execute in place of the chooser: gets the owner and the preselected colour,
    // sets the colour and returns whether it was confirmed. Null restores the real chooser.
    using ExecuteHook = std::function<bool(HWND owner, COLORREF& color)>;
    static void SetExecuteHook(ExecuteHook hook);
};

}  // namespace gui
