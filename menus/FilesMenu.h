#pragma once

#include <functional>
#include <string>

#include "menu/DKComponents.h"
#include "Handles.h"

// Starts an ANSI command line with a show state (WinExec). Tests replace it.
using TFilesWinExecFunc = std::function<void(const std::string& CmdLine, UINT Show)>;
// Opens a program with parameters through the shell (ShellExecuteW, default verb). Tests replace it.
using TFilesShellExecFunc = std::function<void(const std::wstring& File, const std::wstring& Params)>;
// Lists the computer folder's entries under the menu's root (ExposeFolder). Tests replace it.
using TFilesListDrivesFunc = std::function<void(TDKMenuItem* Root, LPCITEMIDLIST Drives)>;

// The Files button's menu: favourites, the computer's drives as lazily opened folder trees
// (each file and folder with Total Commander, new-folder and rename commands), a path box that
// opens the typed path in the file browser, and statistics.
class TFilesMenu : public TDKPopupMenu {
public:
    explicit TFilesMenu(const TMenuOwner& AOwner);
    ~TFilesMenu() override;

    gui::IconHandle FTCIcon;    // null when "tc.ico" is missing
    std::wstring TCPath;        // Total Commander's executable, or empty
    std::wstring FileToOperate;  // what the running rename started from

    // Rebuilds everything below "All Files": drives, filter and statistics.
    void RefreshDrives();

    void ExposeItemMenu(TDKMenuItem* Item) override;
    void BeginRename(TDKMenuItem* Sender) override;
    void EndRename(TDKMenuItem* Item) override;
    void ExecuteFilterText(TDKMenuItem* Item) override;

    void OpenInTotalCommanderClick(TDKMenuItem* Sender);
    void CreateNewFolderClick(TDKMenuItem* Sender);

    // Replace the program starts; an empty function restores the real one.
    static void SetWinExec(TFilesWinExecFunc f);
    static void SetTotalCommanderStart(TFilesShellExecFunc f);
    static void SetDriveListing(TFilesListDrivesFunc f);

private:
    // The rebuild itself; errors propagate (RefreshDrives logs them).
    void FillDrives();

    TDKMenuItem* FRenameItem = nullptr;  // the item FileToOperate was taken from
};

// Message sent to the device listener to run a refresh that had to wait for construction.
constexpr UINT WM_FILES_DEFERRED_REFRESH = WM_APP + 0x102;

// The hidden device listener ("FShellTrayHnd"); lives from module start to module end.
extern gui::WindowHandle DeviceListenerWnd;
LRESULT CALLBACK FilesWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

// Module start and end routines (the hidden window of this menu lives from start to end).
void InitializeFilesMenu();
void FinalizeFilesMenu();
