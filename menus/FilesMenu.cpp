#include "FilesMenu.h"

void InitializeFilesMenu() {}
void FinalizeFilesMenu() {}
