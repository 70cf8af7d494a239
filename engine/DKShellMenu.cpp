// Shell context menus as menu items: the item's shell commands are queried into a popup menu
// handle, converted to children, submenus filled on demand, commands invoked and recorded.
#include <string>

#include "Application.h"
#include "DKComponents.h"
#include "DKDataModule.h"
#include "DKUtils.h"
#include "Handles.h"
#include "SysUtils.h"

namespace {

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

// The handle of the last query lives in the menu (items without a menu share one slot). A menu
// is built on one thread and then used on the GUI thread only, so no lock is needed.
HMENU g_menulessHandle = nullptr;

HMENU& HandleSlot(const TDKPopupMenu* Menu) {
    return Menu ? const_cast<TDKPopupMenu*>(Menu)->FContexMenu : g_menulessHandle;
}

void SetHandle(const TDKPopupMenu* Menu, HMENU H) {
    HMENU& slot = HandleSlot(Menu);
    HMENU old = slot;
    slot = H;
    // Rows of the earlier query were removed with that exposure; its handle is not read again.
    if (old && old != H) DestroyMenu(old);
}

// Predefined menu-bitmap values (HBMMENU_*) stand for pictures the system draws itself.
bool IsRealBitmap(HBITMAP b) {
    auto v = reinterpret_cast<INT_PTR>(b);
    return v > 11 || v < -1;
}

}  // namespace

HMENU ShellContextMenuHandle(const TDKPopupMenu* Menu) { return HandleSlot(Menu); }

void ReleaseShellContextMenu(const TDKPopupMenu* Menu) { SetHandle(Menu, nullptr); }

void QueryShellCommands(TDKMenuItem* Item) {
    IContextMenu* cm = Item->ContextMenu();
    if (!cm) return;
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    SetHandle(Item->PopupMenu(), menu);
    if (FAILED(cm->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL))) return;
    AddItemsFromHMENU(menu, Item);
}

void AddItemsFromHMENU(HMENU Menu, TDKMenuItem* Item) {
    wchar_t buffer[256];
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_STRING | MIIM_BITMAP | MIIM_FTYPE;
    bool split = false;
    const int count = GetMenuItemCount(Menu);
    for (int i = 0; i < count; ++i) {
        buffer[0] = 0;
        mii.dwTypeData = buffer;
        mii.cch = 255;
        if (!GetMenuItemInfoW(Menu, static_cast<UINT>(i), TRUE, &mii)) continue;
        if (mii.fType & MFT_SEPARATOR) {
            split = true;
            continue;
        }
        if (i == 0) split = true;
        buffer[255] = 0;
        std::wstring caption;
        for (const wchar_t* p = buffer; *p; ++p)
            if (*p != L'&') caption += *p;
        auto mi = std::make_unique<TDKMenuItem>();
        mi->FCaption = caption;
        mi->FData = reinterpret_cast<void*>(static_cast<INT_PTR>(i));
        if (mii.hbmpUnchecked)
            mi->FIcon = BlackToTransparentIcon(mii.hbmpUnchecked);
        else if (mii.hbmpItem && IsRealBitmap(mii.hbmpItem))
            mi->FIcon = BlackToTransparentIcon(mii.hbmpItem);
        if (mii.hSubMenu) {
            mi->FOnBeforExpose = ShellCommandClick;
            mi->AddMenuItem(0, L"Empty");
        } else {
            mi->FOnClick = ShellCommandClick;
            mi->FMIID = static_cast<int>(mii.wID);
        }
        mi->FHasSplitter = split;
        split = false;
        Item->Add(mi.release());
    }
}

void ShellCommandClick(TDKMenuItem* Sender) {
    if (!Sender) return;
    if (Sender->Count() > 0) {
        // A submenu entry about to open: let the extension fill it, then convert it.
        try {
            TDKMenuItem* owner = Sender->Owner();
            IContextMenu* cm = owner ? owner->ContextMenu() : nullptr;
            if (!cm) return;
            IContextMenu2* cm2 = nullptr;
            IContextMenu3* cm3 = nullptr;
            if (FAILED(cm->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&cm3)))) cm3 = nullptr;
            if (!cm3 && FAILED(cm->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&cm2)))) cm2 = nullptr;
            if (!cm3 && !cm2) return;
            const int pos = static_cast<int>(reinterpret_cast<INT_PTR>(Sender->Data()));
            HMENU h = GetSubMenu(ShellContextMenuHandle(Sender->PopupMenu()), pos);
            if (cm3) {
                cm3->HandleMenuMsg(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), pos);
                cm3->Release();
            } else {
                cm2->HandleMenuMsg(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), pos);
                cm2->Release();
            }
            Sender->Clear();
            if (h) AddItemsFromHMENU(h, Sender);
        } catch (const std::exception& e) {
            Log(4, L"(c12) " + What(e));
        }
        return;
    }
    try {
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = CMIC_MASK_FLAG_NO_UI;
        info.hwnd = gui::App().Handle();
        info.lpVerb = MAKEINTRESOURCEA(Sender->MIID() - 1);
        info.nShow = SW_SHOWNORMAL;
        // The file or folder item whose menu holds the command, however deep the entry lies.
        TDKMenuItem* x = Sender;
        while (x && !x->ContextMenu()) x = x->Owner();
        if (!x) return;
        // The command may run a modal loop in which the items go (a device change rebuilds the
        // Files menu): the menu is held and the launch record taken from copies.
        auto menu = gui::ComPtr<IContextMenu>::Share(x->ContextMenu());
        const int menuId = Sender->PopupMenu() ? Sender->PopupMenu()->FMenuID : 0;
        const std::wstring caption = x->Caption(), file = x->GetFileName();
        menu->InvokeCommand(&info);
        if (DKData) DKData->SaveExecTime(menuId, caption, file, -1);
    } catch (const std::exception& e) {
        Log(4, L"(c11) " + What(e));
    }
}
