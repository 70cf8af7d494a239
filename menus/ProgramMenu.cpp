#include "ProgramMenu.h"

#include <shlobj.h>

#include "settings/DKLog.h"
#include "Application.h"
#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {

constexpr SHCONTF kEnumAll = 0xE0;  // folders, non-folders, hidden
constexpr int kSortFoldersFirst = 1;

// Fills Item from the given folder, or from the shell's special folder when none is given.
void ExposeSpecial(TDKMenuItem* Item, const std::wstring& path, int csidl) {
    if (!path.empty()) {
        Item->ExposeFolder(path, true, kEnumAll, kSortFoldersFirst);
        return;
    }
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(gui::App().Handle(), csidl, &pidl)) || !pidl) return;
    PIDLPtr list(pidl);
    Item->ExposeFolder(list.get(), true, kEnumAll, kSortFoldersFirst);
}

std::wstring QuickLaunchPath() {
    wchar_t buf[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(gui::App().Handle(), CSIDL_APPDATA, nullptr, 0, buf))) return {};
    return std::wstring(buf) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
}

}  // namespace

TProgramMenu::TProgramMenu(const TMenuOwner& AOwner, const TProgramFolders& Folders) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    TDKMenuItem* title = FItems->AddMenuItem(MainTitleID, L"All Programs", nullptr, true);
    int A = title->Index();
    TDKMenuItem* sections[3] = {
        FItems->InsertMenuItem(A + 1, 0, L"Start Menu"),
        FItems->InsertMenuItem(A + 2, 0, L"Desktop"),
        FItems->InsertMenuItem(A + 3, 0, L"Quick Launch"),
    };
    AddFilter(L"Type Program Name...");
    AddStatistics();

    for (TDKMenuItem* s : sections) {
        // ExposeFolder hands the flag down, so the whole content takes part in filtering.
        s->FFiltered = true;
        s->SetIcon(FFoldIcon.get());
    }
    // Of a file in both folders the first folder's copy is listed.
    ExposeSpecial(sections[0], Folders.CommonPrograms, CSIDL_COMMON_PROGRAMS);
    ExposeSpecial(sections[0], Folders.Programs, CSIDL_PROGRAMS);
    ExposeSpecial(sections[1], Folders.Desktop, CSIDL_DESKTOPDIRECTORY);
    ExposeSpecial(sections[1], Folders.CommonDesktop, CSIDL_COMMON_DESKTOPDIRECTORY);
    std::wstring quick = Folders.QuickLaunch.empty() ? QuickLaunchPath() : Folders.QuickLaunch;
    if (!quick.empty()) sections[2]->ExposeFolder(quick, true, kEnumAll, kSortFoldersFirst);

    for (TDKMenuItem* s : sections)
        for (int i = 0; i < s->Count(); ++i) PrepareFileItems(s->GetItem(i));
}

void TProgramMenu::PrepareFileItems(TDKMenuItem* Item) {
    for (int i = 0; i < Item->Count(); ++i) PrepareFileItems(Item->GetItem(i));
    if (Item->Folder()) return;
    Item->AddMenuItem(0, L"Empty");
    Item->FOnBeforExpose = [this](TDKMenuItem* Sender) { ExposeItemMenu(Sender); };
}

// Runs whatever was typed as a command line; one that starts nothing is told to the user.
void TProgramMenu::ExecuteFilterText(TDKMenuItem* Item) {
    try {
        Hide();
        WinExecOrReport(Item->Caption(), gui::ToAnsi(Item->Caption()), SW_SHOWNORMAL);
    } catch (const std::exception& e) {
        Log(4, L"(p1) " + gui::FromUtf8(e.what()));
    }
}
