// Shell context menus as menu items: the item's shell commands are queried into a popup menu
// handle, converted to children, submenus filled on demand, commands invoked and recorded.
#include <string>

#include "settings/DKLog.h"
#include "Application.h"
#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "Handles.h"
#include "SysUtils.h"

namespace {

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

// Predefined menu-bitmap values (HBMMENU_*) stand for pictures the system draws itself.
bool IsRealBitmap(HBITMAP b) {
    auto v = reinterpret_cast<INT_PTR>(b);
    return v > 11 || v < -1;
}

}  // namespace

HMENU ShellContextMenuHandle(const TDKMenuItem* Item) { return Item ? Item->FCommandsHMenu.get() : nullptr; }

void QueryShellCommands(TDKMenuItem* Item) {
    Item->FCommandsMenu.reset();
    Item->FCommandsThread = 0;
    // The rows of the earlier query went with this exposure; so does the menu they were read from.
    Item->FCommandsHMenu.reset();
    IContextMenu* cm = Item->ContextMenu();
    if (!cm) return;
    Item->FCommandsHMenu.reset(CreatePopupMenu());
    HMENU menu = Item->FCommandsHMenu.get();
    if (!menu) return;
    if (FAILED(cm->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL))) return;
    Item->FCommandsMenu = gui::ComPtr<IContextMenu>::Share(cm);
    Item->FCommandsThread = GetCurrentThreadId();
    AddItemsFromHMENU(menu, Item);
}

namespace {

// The item whose query made Row (the row itself or an owner, however deep the row lies), and the
// object that made it, when that object lives on this thread; none otherwise.
TDKMenuItem* CommandsOwner(TDKMenuItem* Row) {
    TDKMenuItem* x = Row;
    while (x && !x->FCommandsMenu) x = x->Owner();
    return x && x->FCommandsThread == GetCurrentThreadId() ? x : nullptr;
}

}  // namespace

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
            mi->TakeIcon(gui::IconHandle(BlackToTransparentIcon(mii.hbmpUnchecked)));
        else if (mii.hbmpItem && IsRealBitmap(mii.hbmpItem))
            mi->TakeIcon(gui::IconHandle(BlackToTransparentIcon(mii.hbmpItem)));
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
            TDKMenuItem* x = owner ? CommandsOwner(owner) : nullptr;
            if (!x || x != owner) return;  // an entry of a submenu's submenu keeps its placeholder
            auto cm3 = x->FCommandsMenu.as<IContextMenu3>();
            auto cm2 = cm3 ? gui::ComPtr<IContextMenu2>() : x->FCommandsMenu.as<IContextMenu2>();
            if (!cm3 && !cm2) return;
            const int pos = static_cast<int>(reinterpret_cast<INT_PTR>(Sender->Data()));
            // The submenu is read from the menu the owner's own query filled.
            HMENU h = GetSubMenu(x->FCommandsHMenu.get(), pos);
            if (cm3)
                cm3->HandleMenuMsg(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), pos);
            else
                cm2->HandleMenuMsg(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), pos);
            Sender->Clear();
            if (h) AddItemsFromHMENU(h, Sender);
        } catch (const std::exception& e) {
            Log(4, L"(c12) " + What(e));
        }
        return;
    }
    // A submenu entry whose fill found nothing has no command behind it.
    if (Sender->MIID() < 1) return;
    try {
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = CMIC_MASK_FLAG_NO_UI;
        info.hwnd = gui::App().Handle();
        info.lpVerb = MAKEINTRESOURCEA(Sender->MIID() - 1);
        info.nShow = SW_SHOWNORMAL;
        // Only the object that made the row knows its command number.
        TDKMenuItem* x = CommandsOwner(Sender);
        if (!x) return;
        // The command may run a modal loop in which the items go (a device change rebuilds the
        // Files menu): the menu is held and the launch record taken from copies.
        auto menu = x->FCommandsMenu;
        const int menuId = Sender->PopupMenu() ? Sender->PopupMenu()->FMenuID : 0;
        const std::wstring caption = x->Caption(), file = x->GetFileName();
        if (FAILED(menu->InvokeCommand(&info))) return;
        if (DKData) DKData->SaveExecTime(menuId, caption, file, -1);
    } catch (const std::exception& e) {
        Log(4, L"(c11) " + What(e));
    }
}
