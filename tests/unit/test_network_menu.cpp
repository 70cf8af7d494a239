// The Network menu built on the test prefix's real shell folders, with a real dk.pdb.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "util/FileUtils.h"
#include "NetworkMenu.h"
#include "SysUtils.h"

using testing_support::TempDir;

namespace {

// Display names of the network folder's non-folder entries, read here independently.
std::vector<std::wstring> NetworkPlaces() {
    std::vector<std::wstring> out;
    LPITEMIDLIST raw = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_NETWORK, &raw)) || !raw) return out;
    PIDLPtr pidl(raw);
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) return out;
    IShellFolder* folder = nullptr;
    if (SUCCEEDED(desktop->BindToObject(pidl.get(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)))) {
        IEnumIDList* en = nullptr;
        if (folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &en) == S_OK && en) {
            LPITEMIDLIST e = nullptr;
            while (en->Next(1, &e, nullptr) == S_OK) {
                STRRET sr{};
                wchar_t name[MAX_PATH] = {};
                if (SUCCEEDED(folder->GetDisplayNameOf(e, SHGDN_INFOLDER, &sr))) StrRetToBufW(&sr, e, name, MAX_PATH);
                out.push_back(name);
                CoTaskMemFree(e);
            }
            en->Release();
        }
        folder->Release();
    }
    desktop->Release();
    return out;
}

class NetworkMenu : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        TNetworkMenu::SetWinExec([this](const std::string& cmd, UINT show) { starts.push_back({cmd, show}); });
    }
    void TearDown() override {
        menu.reset();
        TNetworkMenu::SetWinExec(nullptr);
        DKData.reset();
    }
    TempDir dir{L"netmenu"};
    std::unique_ptr<TNetworkMenu> menu;
    std::vector<std::pair<std::string, UINT>> starts;
};

int IndexOf(const TDKMenuItem* root, int id, const std::wstring& caption) {
    for (int i = 0; i < root->Count(); ++i)
        if (root->GetItem(i)->MIID() == id && root->GetItem(i)->Caption() == caption) return i;
    return -1;
}

TEST_F(NetworkMenu, SectionsInOrderWithPlacesUnfilteredAndConnectionsFiltered) {
    menu = std::make_unique<TNetworkMenu>(TMenuOwner{L"Network", 4, RGB(90, 120, 200), nullptr});
    TDKMenuItem* root = menu->Items();
    ASSERT_EQ(root->GetItem(0)->MIID(), TDKPopupMenu::FavoritesTitleID);
    const int all = IndexOf(root, TDKPopupMenu::MainTitleID, L"All Networks");
    const int conn = IndexOf(root, 0, L"Connections");
    const int filter = IndexOf(root, TDKPopupMenu::FilterTitleID, L"Filter");
    ASSERT_GT(all, 0);
    ASSERT_GT(conn, all);
    ASSERT_GT(filter, conn);
    EXPECT_TRUE(root->GetItem(all)->GroupTitle());
    EXPECT_TRUE(root->GetItem(conn)->GroupTitle());
    EXPECT_TRUE(root->Filtered());

    // Only the non-folder places of the network folder, each opening through its shell item.
    std::vector<std::wstring> places;
    for (int i = all + 1; i < conn; ++i) {
        TDKMenuItem* mi = root->GetItem(i);
        places.push_back(mi->Caption());
        EXPECT_FALSE(mi->Folder()) << gui::ToUtf8(mi->Caption());
        EXPECT_FALSE(mi->Filtered());
        EXPECT_TRUE(mi->IsFile());
        EXPECT_TRUE(mi->FOnAfterExpose);
        EXPECT_TRUE(mi->FOnClick);
    }
    EXPECT_EQ(places, NetworkPlaces());
    for (int i = conn + 1; i < filter; ++i) EXPECT_TRUE(root->GetItem(i)->Filtered());

    EXPECT_EQ(root->GetItem(filter + 1)->MIID(), TDKPopupMenu::FilterEditID);
    EXPECT_NE(menu->FindItem(TDKPopupMenu::MostPopularID), nullptr);
    EXPECT_NE(menu->FindItem(TDKPopupMenu::RecentID), nullptr);
}

TEST_F(NetworkMenu, FilterTextOpensTheTypedShareInTheFileBrowser) {
    menu = std::make_unique<TNetworkMenu>(TMenuOwner{L"Network", 4, RGB(90, 120, 200), nullptr});
    TDKMenuItem* box = menu->FindItem(TDKPopupMenu::FilterEditID);
    ASSERT_NE(box, nullptr);
    box->SetCaption(L"\\\\fileserver\\public");
    menu->ExecuteFilterText(box);
    box->SetCaption(L"caf\x00E9");  // the command goes out in the ANSI code page
    menu->ExecuteFilterText(box);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].first, "explorer.exe \"\\\\fileserver\\public\"");
    EXPECT_EQ(starts[0].second, static_cast<UINT>(SW_SHOWNORMAL));
    EXPECT_EQ(starts[1].first, gui::ToAnsi(L"explorer.exe \"caf\x00E9\""));
    EXPECT_EQ(starts[1].first.size(), std::string("explorer.exe \"cafe\"").size());
}

}  // namespace
