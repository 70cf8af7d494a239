#include "TrayMenu.h"

void InitializeTrayMenu() {}
void FinalizeTrayMenu() {}
