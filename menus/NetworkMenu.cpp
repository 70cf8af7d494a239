#include "NetworkMenu.h"

#include <shlobj.h>

#include <exception>

#include "settings/DKLog.h"
#include "Application.h"
#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "SysUtils.h"

namespace {

TWinExecFunc& Starter() {
    static TWinExecFunc f;
    return f;
}

// Absolute item id list of a special folder, or an exception naming it.
PIDLPtr SpecialFolder(int Csidl) {
    LPITEMIDLIST p = nullptr;
    HRESULT hr = SHGetSpecialFolderLocation(gui::App().Handle(), Csidl, &p);
    if (FAILED(hr) || !p) throw std::runtime_error("special folder " + std::to_string(Csidl) + " is not available");
    return PIDLPtr(p);
}

}  // namespace

void TNetworkMenu::SetWinExec(TWinExecFunc f) { Starter() = std::move(f); }

TNetworkMenu::TNetworkMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    try {
        FItems->AddMenuItem(MainTitleID, L"All Networks", nullptr, true);
        int first = FItems->Count();
        // Only the places themselves: computers and other folders of the network are left out.
        PIDLPtr net = SpecialFolder(CSIDL_NETWORK);
        FItems->ExposeFolder(net.get(), false, SHCONTF_NONFOLDERS, 0);
        for (int i = first; i < FItems->Count(); ++i)
            FItems->GetItem(i)->FOnAfterExpose = [this](TDKMenuItem* Item) { AfterExposeFolder(Item); };
    } catch (const std::exception& e) {
        Log(4, L"(n1) " + gui::FromUtf8(e.what()));
    }
    // Everything added from here on takes part in filtering; the network places above do not.
    FItems->SetFiltered(true);
    FItems->AddMenuItem(0, L"Connections", nullptr, true);
    if (LPITEMIDLIST p = nullptr; SUCCEEDED(SHGetSpecialFolderLocation(gui::App().Handle(), CSIDL_CONNECTIONS, &p)) && p) {
        PIDLPtr conn(p);
        FItems->ExposeFolder(conn.get(), true, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, 0);
    }
    AddFilter(L"Type Host Name...");
    AddStatistics();
}

// Opens the typed host name or share path in the file browser; the menu stays open.
void TNetworkMenu::ExecuteFilterText(TDKMenuItem* Item) {
    if (!Item) return;
    std::string cmd = gui::ToAnsi(L"explorer.exe \"" + Item->Caption() + L"\"");
    if (Starter())
        Starter()(cmd, SW_SHOWNORMAL);
    else
        WinExecOrReport(Item->Caption(), cmd, SW_SHOWNORMAL);
}
