#pragma once
// Single instance per logon session.
#include <string>

bool IsFirstInstance();
void ActivatePrevInstance();
void GetInstanceMutexName(std::wstring& name);
void InitializeOnce();
void FinalizeOnce();
