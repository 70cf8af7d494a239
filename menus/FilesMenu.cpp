#include "FilesMenu.h"

void InitializeFilesMenu() {}
void FinalizeFilesMenu() {}

TFilesMenu::TFilesMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    LoadFavorites();
    FItems->AddMenuItem(MainTitleID, L"All Files", nullptr, true);
    AddFilter(L"Type Folder or File Name...");
    AddStatistics();
}

// The menu's own items and what its filter box runs come with the menu itself.
void TFilesMenu::ExecuteFilterText(TDKMenuItem*) {}
