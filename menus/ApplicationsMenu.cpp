#include "ApplicationsMenu.h"

void InitializeApplicationsMenu() {}
void FinalizeApplicationsMenu() {}

TApplicationsMenu::TApplicationsMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    FItems->AddMenuItem(MainTitleID, L"Active Applications", nullptr, true);
    AddFilter(L"Type Application Name...");
}

// The menu's own items and what its filter box runs come with the menu itself.
void TApplicationsMenu::ExecuteFilterText(TDKMenuItem*) {}
