#include "InternetMenu.h"

#include <shellapi.h>
#include <shlobj.h>

#include "Application.h"
#include "BookmarkThread.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "Registry.h"
#include "SysUtils.h"

namespace {

TShellOpenFunc& Opener() {
    static TShellOpenFunc f;
    return f;
}

// One row of the browser table: what the association keys are set to for that browser.
struct TBrowserRow {
    const wchar_t* ClientName;
    const wchar_t* HTMLProgId;
    const wchar_t* URLProgId;
    const wchar_t* Arguments;
    const wchar_t* DDEApplication;
};

const TBrowserRow* BrowserRow(int ID) {
    static const TBrowserRow kFirefox{L"FIREFOX.EXE", L"FirefoxHTML", L"FirefoxURL",
                                      L" -requestPending -osint -url \"%1\"", L"Firefox"};
    static const TBrowserRow kIE{L"IEXPLORE.EXE", L"IE.AssocFile.HTM", L"IE.HTTP", L" -nohome", L"IExplore"};
    static const TBrowserRow kOpera{L"Opera.exe", TInternetMenu::OperaHTMLProgId, TInternetMenu::OperaURLProgId, L"",
                                    L"Opera"};
    switch (ID) {
    case TInternetMenu::FirefoxID:
        return &kFirefox;
    case TInternetMenu::InternetExplorerID:
        return &kIE;
    case TInternetMenu::OperaID:
        return &kOpera;
    default:
        return nullptr;
    }
}

enum class TAssocValue { ClientName, HTMLProgId, URLProgId, Command, DDEApplication };

struct TAssocKey {
    const wchar_t* Key;
    const wchar_t* Name;  // empty: the key's default value
    TAssocValue Value;
};

constexpr TAssocKey kAssocKeys[] = {
    {L"Software\\Clients\\StartMenuInternet", L"", TAssocValue::ClientName},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice", L"Progid",
     TAssocValue::HTMLProgId},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.shtml\\UserChoice", L"Progid",
     TAssocValue::HTMLProgId},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice", L"Progid",
     TAssocValue::URLProgId},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice", L"Progid",
     TAssocValue::URLProgId},
    {L"Software\\Classes\\.htm", L"", TAssocValue::HTMLProgId},
    {L"Software\\Classes\\.shtm", L"", TAssocValue::HTMLProgId},
    {L"Software\\Classes\\http\\shell\\open\\command", L"", TAssocValue::Command},
    {L"Software\\Classes\\https\\shell\\open\\command", L"", TAssocValue::Command},
    {L"Software\\Classes\\http\\shell\\open\\ddeexec\\Application", L"", TAssocValue::DDEApplication},
};

// A string value of an HKLM key, empty when the key or the value is missing.
std::wstring MachineString(const std::wstring& Key, const std::wstring& Name) {
    gui::Registry reg(HKEY_LOCAL_MACHINE, KEY_READ);
    if (!reg.OpenKeyReadOnly(Key)) return {};
    try {
        return reg.ReadString(Name);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

void TInternetMenu::SetShellOpen(TShellOpenFunc f) { Opener() = std::move(f); }

void TInternetMenu::ShellOpen(const std::wstring& What, const std::wstring& Address) {
    if (Opener())
        Opener()(Address);
    else
        ShellExecuteOrReport(What, gui::App().Handle(), L"open", Address, L"", L"", SW_HIDE);
}

// Bookmarks of one site share the icon loaded from its cache file.
HICON TInternetMenu::SiteIcon(const std::wstring& URL) {
    std::wstring file = SiteIconFileName(WebIconsPath, URL);
    auto it = FSiteIcons.find(file);
    if (it != FSiteIcons.end()) return it->second.get();
    gui::IconHandle icon = LoadSmallIconFile(file);
    HICON shown = icon.get();
    if (icon) FSiteIcons.emplace(file, std::move(icon));
    return shown;
}

TInternetMenu::TInternetMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    FImagesPath = gui::ExeDir() + L"images\\";
    WebIconsPath = FImagesPath + L"internet\\";
    FIEPath = GetAppPath(L"IEXPLORE.EXE");

    auto createItem = [this](TDKMenuItem* s) { CreateItemClick(s); };
    TDKMenuItem* favorites = FItems->AddMenuItem(FavoritesTitleID, L"Favorites", nullptr, true);
    favorites->AddMenuItem(CreateGroupID, L"Create New Group", createItem);
    favorites->AddMenuItem(CreateBookmarkID, L"Create New Bookmark", createItem);
    favorites->AddMenuItem(0, L"Clear Favorites", [this](TDKMenuItem* s) { ClearFavorites(s); });

    FMaxMIID = DKData ? DKData->FillMenuItem(FItems, FMenuID, -1, -1) : -1;
    // With nothing stored the next id would be 0, the mark of an unfinished item: new items
    // start above the fixed command ids instead.
    if (FMaxMIID < 0) FMaxMIID = GroupCreateBookmarkID;
    const int stored = FItems->Count();
    for (int i = 1; i < stored; ++i) PrepareBookmarkItem(FItems->GetItem(i));

    FItems->AddMenuItem(MainTitleID, L"Bookmarks", nullptr, true);

    TDKMenuItem* firefox = FItems->AddMenuItem(FirefoxBookmarksID, L"FireFox Bookmarks", nullptr, false, false, true);
    firefox->TakeIcon(LoadSmallIconFile(FImagesPath + L"ff.ico"));
    LoadFirefoxBookmarks(firefox);

    TDKMenuItem* ie = FItems->AddMenuItem(0, L"IE Favorites");
    ie->TakeIcon(LoadSmallIconFile(FImagesPath + L"ie.ico"));
    ie->SetFiltered(true);
    LPITEMIDLIST raw = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(gui::App().Handle(), CSIDL_FAVORITES, &raw)) && raw) {
        PIDLPtr pidl(raw);
        ie->ExposeFolder(pidl.get(), true, 0xE0, 1);
    }

    FItems->AddMenuItem(SearchTitleID, L"Search", nullptr, true);
    TDKMenuItem* search = FItems->AddMenuItem(SearchEditID, L"Type Quety and Press Enter...",
                                              [this](TDKMenuItem* s) { WebSearchClick(s); }, false, false, false,
                                              true);
    auto engine = [this](TDKMenuItem* s) { SelectSearchEngineClick(s); };
    search->AddMenuItem(GoogleID, L"Google", engine, false, false, false, false, true)
        ->TakeIcon(LoadSmallIconFile(WebIconsPath + L"googlecom.ico"));
    search->AddMenuItem(YahooID, L"Yahoo!", engine)->TakeIcon(LoadSmallIconFile(WebIconsPath + L"yahoocom.ico"));
    search->AddMenuItem(WikipediaID, L"WikipediA", engine)
        ->TakeIcon(LoadSmallIconFile(WebIconsPath + L"wikipediacom.ico"));

    FItems->AddMenuItem(0, L"Other Tasks", nullptr, true);
    FItems->AddMenuItem(0, L"Create Mail Message", [this](TDKMenuItem* s) { CreateMailMessageClick(s); })
        ->TakeIcon(LoadSmallIconFile(FImagesPath + L"envelope.ico"));
    TDKMenuItem* browsers = FItems->AddMenuItem(0, L"Select Default Browser");
    browsers->SetIcon(FFoldIcon.get());
    auto browser = [this](TDKMenuItem* s) { SelectDefaultBrowserClick(s); };
    const std::pair<int, std::wstring> rows[] = {{FirefoxID, GetFirefoxPath()},
                                                 {InternetExplorerID, FIEPath},
                                                 {OperaID, GetOperaPath()}};
    const wchar_t* names[] = {L"FireFox", L"Internet Explorer", L"Opera"};
    for (int i = 0; i < 3; ++i) {
        TDKMenuItem* mi = browsers->AddMenuItem(rows[i].first, names[i], browser, false, false, false, false, i == 0);
        // A browser that is not installed shows no icon.
        if (!gui::Trim(rows[i].second).empty()) mi->TakeIcon(gui::IconHandle(GetShellSmallIcon(rows[i].second)));
    }

    AddFilter(L"Type Bookmark Name...");
}

TInternetMenu::~TInternetMenu() {
    // The windows showing the icons go before the icons.
    Hide();
}

// ---- stored bookmarks and groups ----

void TInternetMenu::PrepareBookmarkItem(TDKMenuItem* Item) {
    const int n = Item->Count();
    for (int i = 0; i < n && i < Item->Count(); ++i) PrepareBookmarkItem(Item->GetItem(i));

    bool fetch = false;
    if (!gui::Trim(Item->ExecPath()).empty()) {
        Item->SetFiltered(true);
        Item->FOnClick = [this](TDKMenuItem* s) { RunItem(s); };
        Item->AddMenuItem(0, L"Rename Bookmark", [this](TDKMenuItem* s) { BeginRename(s); });
        Item->AddMenuItem(0, L"Edit Bookmark URL", [this](TDKMenuItem* s) { EditUrlClick(s); });
        Item->AddMenuItem(0, L"Delete Bookmark", [this](TDKMenuItem* s) { RemoveItem(s); });
        if (Item->MIID() != 0) {
            Item->AddMenuItem(0, Item->ExecPath(), nullptr, false, true);
            Item->SetIcon(SiteIcon(Item->ExecPath()));
        } else {
            Item->AddMenuItem(0, Item->Caption(), nullptr, false, true);
            Item->SetExecPath(Item->Caption());
            fetch = true;
        }
    } else {
        Item->SetFiltered(false);
        Item->FOnClick = nullptr;
        Item->SetIcon(FFoldIcon.get());
        Item->AddMenuItem(0, L"Run All in Group", [this](TDKMenuItem* s) { RunAllInGroup(s); }, false, true);
        auto createItem = [this](TDKMenuItem* s) { CreateItemClick(s); };
        Item->AddMenuItem(GroupCreateGroupID, L"Create New Group", createItem);
        Item->AddMenuItem(GroupCreateBookmarkID, L"Create New Bookmark", createItem);
        Item->AddMenuItem(0, L"Rename Group", [this](TDKMenuItem* s) { BeginRename(s); });
        Item->AddMenuItem(0, L"Remove Group", [this](TDKMenuItem* s) { RemoveItem(s); });
    }

    if (Item->MIID() == 0) {
        Item->SetDragged(true);
        Item->SetEdited(false);
        Item->SetLoadable(true);
        ++FMaxMIID;
        Item->SetMIID(FMaxMIID);
    }

    if (fetch) {
        auto* thread = new TBookmarkThread();
        thread->IconsPath = WebIconsPath;
        thread->DKMenuItem = Item;
        thread->FreeOnTerminate = true;
        thread->Start();
    }
}

void TInternetMenu::CreateItemClick(TDKMenuItem* Sender) {
    TDKMenuItem* parent = nullptr;
    int index = -1;
    const int id = Sender->MIID();
    switch (id) {
    case CreateGroupID:
        if (TDKMenuItem* t = FItems->FindItem(FavoritesTitleID)) {
            parent = FItems;
            index = t->Index() + 1;
        }
        break;
    case CreateBookmarkID:
        if (TDKMenuItem* t = FItems->FindItem(MainTitleID)) {
            parent = FItems;
            index = t->Index();
        }
        break;
    case GroupCreateGroupID:
        parent = Sender->Owner();
        index = 0;
        break;
    case GroupCreateBookmarkID:
        // After the group's last entry, before its five commands.
        parent = Sender->Owner();
        if (parent) index = parent->Count() - 5;
        break;
    default:
        return;
    }
    if (!parent || index < 0) return;
    const bool bookmark = id == CreateBookmarkID || id == GroupCreateBookmarkID;
    const std::wstring prompt = bookmark ? BookmarkPrompt : GroupPrompt;
    // One new line of a kind at a time in a place: the command goes back to the open one.
    if (TDKMenuItem* open = OpenPrompt(parent, prompt)) {
        open->FocusEditBox();
        return;
    }
    TDKMenuItem* mi =
        InsertPrompt(Sender, parent, index, 0, prompt, [this](TDKMenuItem* s) { PrepareBookmarkItem(s); });
    if (bookmark)
        mi->SetExecPath(L"-");
    else
        mi->SetIcon(FFoldIcon.get());
}

void TInternetMenu::CopyToFavoritesClick(TDKMenuItem* Sender) {
    TDKMenuItem* source = Sender->Owner();
    TDKMenuItem* main = FItems->FindItem(MainTitleID);
    if (!source || !main) return;
    ++FMaxMIID;
    std::unique_ptr<TDKMenuItem> mi(new TDKMenuItem());
    mi->FMIID = FMaxMIID;
    mi->FCaption = source->Caption();
    mi->FIcon = source->Icon();
    mi->FExecPath = source->ExecPath();
    mi->FColor = FItems->Color();
    mi->SetLoadable(true);
    mi->SetDragged(true);
    mi->SetFiltered(true);
    FItems->Insert(main->Index(), mi.get());
    PrepareBookmarkItem(mi.release());
}

void TInternetMenu::EditUrlClick(TDKMenuItem* Sender) {
    TDKMenuItem* bookmark = Sender->Owner();
    if (!bookmark || bookmark->Count() <= 3) return;
    TDKMenuItem* url = bookmark->GetItem(3);
    StartEdit(url, [this](TDKMenuItem* s) { CommitUrlEditClick(s); });
}

void TInternetMenu::CommitUrlEditClick(TDKMenuItem* Item) {
    ForgetEdit(Item);
    Item->FOnClick = nullptr;
    Item->FOldOnClick = nullptr;
    Item->SetEdited(false);
    if (TDKMenuItem* bookmark = Item->Owner()) bookmark->SetExecPath(Item->Caption());
}

// ---- search, mail ----

std::wstring TInternetMenu::SearchAddress(int Position, const std::wstring& Query) {
    // A quotation mark would end the quoted %1 of the browser's command line and let the rest
    // of the query pass as the browser's own arguments.
    std::wstring q;
    for (wchar_t c : Query) {
        if (c == L'"')
            q += L"%22";
        else if (c < 0x20)
            continue;
        else
            q += c;
    }
    switch (Position) {
    case 0:
        return std::wstring(L"http://") + GoogleHost + L"/search?q=" + q + L"&ie=utf-8&oe=utf-8";
    case 1:
        return std::wstring(L"http://") + YahooHost + L"/search?p=" + q + L"&ei=UTF-8";
    case 2:
        return std::wstring(L"http://") + WikipediaHost + L"/wiki/" + q;
    default:
        return {};
    }
}

void TInternetMenu::WebSearchClick(TDKMenuItem* Item) {
    Hide();
    std::wstring address = SearchAddress(Item->GetRadioBox(GoogleID, WikipediaID), Item->Caption());
    if (!address.empty()) ShellOpen(L"Search", address);
}

void TInternetMenu::ExecuteFilterText(TDKMenuItem* Item) {
    Hide();
    TDKMenuItem* search = FItems->FindItem(SearchEditID);
    if (!search) return;
    search->SetCaption(Item->Caption());
    WebSearchClick(search);
}

void TInternetMenu::SelectSearchEngineClick(TDKMenuItem* Item) {
    if (TDKMenuItem* o = Item->Owner()) o->SetRadioBox(GoogleID, WikipediaID, Item->MIID());
}

void TInternetMenu::CreateMailMessageClick(TDKMenuItem* Sender) {
    ShellOpen(Sender ? Sender->Caption() : L"Create Mail Message", std::wstring(L"mailto:") + SupportAddress);
}

// ---- default browser ----

std::wstring TInternetMenu::GetFirefoxPath() {
    const std::wstring key = L"SOFTWARE\\Mozilla\\Mozilla Firefox";
    std::wstring version = MachineString(key, L"CurrentVersion");
    if (version.empty()) return {};
    return MachineString(key + L"\\" + version + L"\\Main", L"PathToExe");
}

std::wstring TInternetMenu::GetOperaPath() { return MachineString(L"SOFTWARE\\Opera Software", L"Last CommandLine"); }

void TInternetMenu::SelectDefaultBrowserClick(TDKMenuItem* Item) {
    const TBrowserRow* row = BrowserRow(Item->MIID());
    TDKMenuItem* owner = Item->Owner();
    if (!row || !owner) return;
    std::wstring path;
    switch (Item->MIID()) {
    case FirefoxID:
        path = GetFirefoxPath();
        break;
    case InternetExplorerID:
        path = FIEPath;
        break;
    default:
        path = GetOperaPath();
        break;
    }
    // Associations with an empty path would leave the user without a working browser: a
    // browser that is not installed cannot be chosen.
    if (gui::Trim(path).empty()) return;
    owner->SetRadioBox(FirefoxID, OperaID, Item->MIID());

    const std::wstring command = L"\"" + path + L"\"" + row->Arguments;
    for (const TAssocKey& k : kAssocKeys) {
        std::wstring value;
        switch (k.Value) {
        case TAssocValue::ClientName:
            value = row->ClientName;
            break;
        case TAssocValue::HTMLProgId:
            value = row->HTMLProgId;
            break;
        case TAssocValue::URLProgId:
            value = row->URLProgId;
            break;
        case TAssocValue::Command:
            value = command;
            break;
        case TAssocValue::DDEApplication:
            value = row->DDEApplication;
            break;
        }
        gui::Registry reg(HKEY_CURRENT_USER);
        if (!reg.OpenKey(k.Key, true)) continue;
        reg.WriteString(k.Name, value);
        reg.CloseKey();
    }
}
