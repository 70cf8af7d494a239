#pragma once

// Module start and end routines (the hidden window of this menu lives from start to end).
void InitializeTrayMenu();
void FinalizeTrayMenu();
