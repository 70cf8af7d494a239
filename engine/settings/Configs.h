#pragma once
// The settings record and its .ini file.
#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "StringList.h"

class TfrmConfigs;

constexpr int MENU_COUNT = 9;  // ids 0..7 are menus, 8 is the clock

struct TTipWindow {
    int Top = 10;
    int Left = 10;
};

struct TScheme {
    std::wstring Name = L"Some Scheme";
    BYTE Transparency = 150;
    std::array<bool, MENU_COUNT> MenuEnabling{true, true, true, true, true, true, true, true, true};
    std::array<COLORREF, MENU_COUNT> MenuColors{0x023917, 0x023917, 0x023917, 0x023917, 0x023917,
                                                0x023917, 0x023917, 0x023917, 0x023917};
};

struct TConfig {
    TfrmConfigs* frmConfigs = nullptr;
    BYTE LogPriority = 4;
    bool HideMenu = false;
    BYTE ActiveSchemeInd = 0;
    TTipWindow TipWindow;
    std::vector<TScheme> Scheme;
    std::function<void(void* sender)> OnColorChanged;
    bool KeyBoardMode = false;
    gui::StringList ClockFormats;
    BYTE ActiveClockInd = 0;
    // Why the settings file, which is there, could not be read at start (0: it was read or is
    // not there). The record then holds defaults, which are not written over the file.
    DWORD LoadError = 0;
    // How many scheme sections were read from the file: a save erases only those of them that
    // no scheme took, never a section it did not read (one past a gap, where no [Scheme0] is).
    size_t SchemesRead = 0;

    // The scheme in use: ActiveSchemeInd clamped to the list (loading gives at least the built-in
    // scheme; a record left without any still gets one).
    TScheme& ActiveScheme();
    // The clock format in use, ActiveClockInd clamped; empty when there is none.
    std::wstring ActiveClockFormat() const;
};

extern TConfig Config;

// Settings file: the executable's path with ".ini".
std::wstring ConfigFileName();
void LoadConfig(TConfig& config, const std::wstring& fileName = ConfigFileName());
// False when the file could not be written (the old one is left whole): logged, or, where the
// log cannot take the line, kept for TakeUnsavedSettingsNote at the next start.
bool SaveConfig(TConfig& config, const std::wstring& fileName = ConfigFileName());
// What a failed save of that file left for the user, removed as it is taken; empty when none.
std::wstring TakeUnsavedSettingsNote(const std::wstring& fileName = ConfigFileName());

// "$" followed by upper-case hexadecimal with at least four digits.
std::wstring ColorToIniText(COLORREF color);

void InitializeConfigs();
void FinalizeConfigs();
