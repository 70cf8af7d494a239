#pragma once

#include <string>

#include "menu/DKComponents.h"

// Where the Programs menu lists from. An empty entry means the shell's own folder.
struct TProgramFolders {
    std::wstring CommonPrograms;  // CSIDL_COMMON_PROGRAMS
    std::wstring Programs;        // CSIDL_PROGRAMS
    std::wstring Desktop;         // CSIDL_DESKTOPDIRECTORY
    std::wstring CommonDesktop;   // CSIDL_COMMON_DESKTOPDIRECTORY
    std::wstring QuickLaunch;     // "...\Microsoft\Internet Explorer\Quick Launch" under CSIDL_APPDATA
};

class TProgramMenu : public TDKPopupMenu {
public:
    explicit TProgramMenu(const TMenuOwner& AOwner, const TProgramFolders& Folders = {});
    void ExecuteFilterText(TDKMenuItem* Item) override;
    // Gives every file below Item a placeholder child so its commands are built on first open.
    void PrepareFileItems(TDKMenuItem* Item);
};
