#pragma once
// The notification area of this shell: the "Shell_TrayWnd" window that programs send their
// icons to, and the Tray menu that shows those icons and forwards mouse actions to their owners.
#include <windows.h>
#include <docobj.h>

#include <atomic>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Handles.h"
#include "menu/DKComponents.h"

// ---- the WM_COPYDATA block (32-bit layout, little-endian, offsets from the block's start) ----

namespace tray_block {
constexpr DWORD Signature = 0x34753423u;  // at offset 0
constexpr size_t Message = 4;       // NIM_* code
constexpr size_t Record = 8;        // the 32-bit NOTIFYICONDATAW starts here
constexpr size_t hWnd = 12;
constexpr size_t uID = 16;
constexpr size_t uFlags = 20;
constexpr size_t uCallbackMessage = 24;
constexpr size_t hIcon = 28;
constexpr size_t szTip = 32;
constexpr size_t TipChars = 128;
constexpr size_t uVersion = 808;    // uTimeout / uVersion; its low byte is read
// The host reads up to and including the version byte; a shorter block is refused.
constexpr size_t MinSize = uVersion + 1;
// Icon ids from here up are not icons (the shell's own requests).
constexpr DWORD IgnoredIDs = 0xFFFFFFA0u;
}  // namespace tray_block

// The NOTIFYICONDATAW part of a request as the host reads it.
struct TTrayNotifyData {
    DWORD Message = 0;
    HWND hWnd = nullptr;
    DWORD uID = 0;
    DWORD uFlags = 0;
    DWORD uCallbackMessage = 0;
    HICON hIcon = nullptr;
    std::wstring szTip;  // at most 128 characters, up to the first NUL
    DWORD uTimeout = 0;  // uTimeout / uVersion as sent
    BYTE Version() const { return static_cast<BYTE>(uTimeout & 0xFF); }
    // The owner window's text, read before the menu is touched: reading the text of another
    // thread's window lets other sent messages in.
    bool OwnerTextRead = false;
    std::wstring OwnerText;
};

// Reads a block of Size bytes; false when it is absent, shorter than the host reads or not
// signed as the system signs it.
bool ParseTrayCopyData(const void* Data, size_t Size, TTrayNotifyData& Out);
// The tip's lines as a string list splits them (CR LF, LF or CR).
std::vector<std::wstring> TrayTipLines(const std::wstring& Tip);
// The caption rule: the tip's first line, else the owner's window text, else the owner's
// executable file name, else "Unknown icon...". Trimmed.
std::wstring TrayCaption(const std::wstring& Tip, const std::wstring& OwnerText, const std::wstring& ExeFileName);

// What a tray item holds about its icon (owned by the item through its Data pointer).
struct TTrayIcon {
    HWND Wnd = nullptr;
    UINT uID = 0;
    UINT uCallBack = 0;
    BYTE uVersion = 0;
    std::wstring szInfo;  // never filled
};

class TTrayMenu : public TDKPopupMenu {
public:
    explicit TTrayMenu(const TMenuOwner& AOwner);
    ~TTrayMenu() override;  // Destroy

    void ExecuteFilterText(TDKMenuItem* Item) override;

    // Icons one window may have; its further adds are refused (and logged once).
    static constexpr int MaxIconsPerWindow = 256;
    // Refused: an owner that is no window or one of this program's own windows, a pair already
    // present, and an owner at MaxIconsPerWindow.
    bool AddTrayIcon(TTrayNotifyData& Data);
    bool ModifyTrayIcon(TTrayNotifyData& Data);
    bool DeleteTrayIcon(const TTrayNotifyData& Data);
    int FindTrayIcon(const TTrayNotifyData& Data);

    void TrayIconMouseDown(TDKMenuItem* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void TrayIconMouseMove(TDKMenuItem* Sender, TShiftState Shift, int X, int Y);
    void TrayIconMouseUp(TDKMenuItem* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void TrayIconDblClick(TDKMenuItem* Sender);

    // The shell service objects started; they live in the GUI thread's apartment.
    std::vector<gui::ComPtr<IOleCommandTarget>> FTargetArr;

    // Starts a program by an ANSI command line without waiting (hidden). Tests replace it;
    // an empty function restores the real one.
    using TProgramStarter = std::function<void(const std::string& CommandLine)>;
    static void SetProgramStarter(TProgramStarter f);
    // Where the shell service objects are listed (under HKEY_LOCAL_MACHINE). Tests replace it.
    static void SetShellServiceObjectsKey(const std::wstring& KeyPath);

private:
    void StartShellServiceObjects();
    void ReleaseShellServiceObjects();
    // Removes a tray item: record freed, icon destroyed, item deleted.
    void RemoveTrayItem(TDKMenuItem* Item);
    void SetTrayItemIcon(TDKMenuItem* Item, HICON Source);
    void SetTipChildren(TDKMenuItem* Item, const std::vector<std::wstring>& Lines);

    std::unordered_set<HWND> FCrowdedOwners;  // owners whose refused icons were logged
};

// A window of this program: its top-level window belongs to this process and to a class the
// program registered. The windows of shell service objects started here are not.
bool IsOwnTrayWindow(HWND Wnd);

// The host window, from start-up to shut-down.
extern gui::WindowHandle TrayWindow;
// The Tray menu once it is built, until its destruction begins; null otherwise.
extern std::atomic<TTrayMenu*> TrayMenuInstance;

LRESULT CALLBACK TrayWndProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Module start and end routines (the host window lives from start to end).
void InitializeTrayMenu();
void FinalizeTrayMenu();
