#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "menu/DKComponents.h"
#include "Handles.h"

// Opens an address with the shell's "open" verb (ShellExecuteW, application window, SW_HIDE).
// Tests replace it.
using TShellOpenFunc = std::function<void(const std::wstring& Address)>;

// The Internet button's menu: stored bookmarks and groups, the Firefox bookmarks, the Internet
// Explorer favourites, web search, a new mail message and the default-browser switch.
class TInternetMenu : public TDKPopupMenu {
public:
    static constexpr int CreateGroupID = 1;
    static constexpr int CreateBookmarkID = 2;
    static constexpr int GroupCreateGroupID = 13;
    static constexpr int GroupCreateBookmarkID = 14;
    static constexpr int SearchTitleID = 70006;
    static constexpr int FirefoxID = 70007;
    static constexpr int InternetExplorerID = 70008;
    static constexpr int OperaID = 70009;
    static constexpr int SearchEditID = 70009;
    static constexpr int GoogleID = 70010;
    static constexpr int YahooID = 70011;
    static constexpr int WikipediaID = 70012;
    static constexpr int FirefoxBookmarksID = 70015;
    static constexpr const wchar_t* BookmarkPrompt = L"Paste URL and Press Enter";

    static constexpr const wchar_t* GoogleHost = L"www.google.com";
    static constexpr const wchar_t* YahooHost = L"search.yahoo.com";
    static constexpr const wchar_t* WikipediaHost = L"en.wikipedia.org";
    static constexpr const wchar_t* SupportAddress = L"support@orvane.org";
    static constexpr const wchar_t* OperaHTMLProgId = L"Opera.HTML";
    static constexpr const wchar_t* OperaURLProgId = L"Opera.Protocol";

    explicit TInternetMenu(const TMenuOwner& AOwner);
    ~TInternetMenu() override;

    std::wstring WebIconsPath;  // "\images\internet\" beside the executable

    void ExecuteFilterText(TDKMenuItem* Item) override;

    void PrepareBookmarkItem(TDKMenuItem* Item);
    void CreateItemClick(TDKMenuItem* Sender);
    void CopyToFavoritesClick(TDKMenuItem* Sender);
    void EditUrlClick(TDKMenuItem* Sender);
    void CommitUrlEditClick(TDKMenuItem* Item);
    void WebSearchClick(TDKMenuItem* Item);
    void SelectSearchEngineClick(TDKMenuItem* Item);
    void CreateMailMessageClick(TDKMenuItem* Sender);
    void SelectDefaultBrowserClick(TDKMenuItem* Item);

    static std::wstring GetFirefoxPath();
    static std::wstring GetOperaPath();

    // Firefox bookmark reader (FirefoxBookmarks.cpp).
    void LoadFirefoxBookmarks(TDKMenuItem* Item);
    // The reading itself; where it finds nothing it leaves the file it looked at and why.
    void ReadFirefoxBookmarks(TDKMenuItem* Item, std::wstring& Target, std::wstring& Reason);
    void LoadFirefoxFolder(TDKMenuItem* Parent, int ParentId);

    // The search address of a query for the engine at Position (0 Google, 1 Yahoo!, 2 Wikipedia);
    // empty for any other position.
    static std::wstring SearchAddress(int Position, const std::wstring& Query);

    // Replaces the shell's open of addresses; an empty function restores ShellExecuteW.
    static void SetShellOpen(TShellOpenFunc f);

private:
    std::wstring FImagesPath;  // "\images\" beside the executable
    std::wstring FIEPath;
    // Site icons by cache file name, shared by a site's bookmarks; the items only show them.
    std::map<std::wstring, gui::IconHandle> FSiteIcons;
    void* FFirefoxDB = nullptr;                // sqlite3 connection while the bookmarks are read

    HICON SiteIcon(const std::wstring& URL);
    // Opens Address; What names it to the user when it does not open.
    void ShellOpen(const std::wstring& What, const std::wstring& Address);
};
