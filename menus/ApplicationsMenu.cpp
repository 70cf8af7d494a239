#include "ApplicationsMenu.h"

void InitializeApplicationsMenu() {}
void FinalizeApplicationsMenu() {}
