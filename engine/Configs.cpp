#include "Configs.h"

#include <cwchar>

#include "IniFile.h"
#include "SysUtils.h"

TConfig Config;

TScheme& TConfig::ActiveScheme() {
    static TScheme fallback;
    if (Scheme.empty()) return fallback;
    return Scheme[ActiveSchemeInd < Scheme.size() ? ActiveSchemeInd : Scheme.size() - 1];
}

std::wstring TConfig::ActiveClockFormat() const {
    if (ClockFormats.Count() == 0) return {};
    int i = ActiveClockInd < ClockFormats.Count() ? ActiveClockInd : ClockFormats.Count() - 1;
    return ClockFormats[i];
}

std::wstring ConfigFileName() { return gui::ChangeFileExt(gui::ExeFileName(), L".ini"); }

std::wstring ColorToIniText(COLORREF color) {
    wchar_t buf[16];
    swprintf(buf, 16, L"$%04X", static_cast<unsigned>(color));
    return buf;
}

static BYTE LowByte(long long v) { return static_cast<BYTE>(v & 0xFF); }

void LoadConfig(TConfig& config, const std::wstring& fileName) {
    gui::IniFile ini(fileName);
    config.TipWindow.Top = static_cast<int>(ini.ReadInteger(L"TipWindow", L"Top", 10));
    config.TipWindow.Left = static_cast<int>(ini.ReadInteger(L"TipWindow", L"Left", 10));

    config.ActiveSchemeInd = LowByte(ini.ReadInteger(L"General", L"ActiveScheme", 0));
    config.HideMenu = ini.ReadBool(L"General", L"HideMenu", false);
    config.LogPriority = LowByte(ini.ReadInteger(L"General", L"LogPriority", 4));
    config.ActiveClockInd = LowByte(ini.ReadInteger(L"General", L"ActiveClockIndex", 0));

    config.Scheme.clear();
    for (int n = 0;; ++n) {
        std::wstring section = L"Scheme" + std::to_wstring(n);
        if (!ini.SectionExists(section)) break;
        TScheme s;
        s.Name = ini.ReadString(section, L"Name", L"Some Scheme");
        s.Transparency = LowByte(ini.ReadInteger(section, L"Transparency", 150));
        for (int i = 0; i < MENU_COUNT; ++i) {
            s.MenuEnabling[i] = ini.ReadBool(section, L"MenuEnabling" + std::to_wstring(i), true);
            s.MenuColors[i] = static_cast<COLORREF>(ini.ReadInteger(section, L"MenuColors" + std::to_wstring(i), 145687));
        }
        config.Scheme.push_back(s);
    }

    ini.ReadSectionValues(L"ClockFormats", config.ClockFormats);
    if (config.ClockFormats.Count() == 0) {
        config.ClockFormats.Add(L"");
        config.ActiveClockInd = 0;
    }
    for (int i = 0; i < config.ClockFormats.Count(); ++i) {
        bool named = !config.ClockFormats.Name(i).empty();
        config.ClockFormats[i] = named ? config.ClockFormats.ValueFromIndex(i) : std::wstring();
    }
}

// Changes are made in memory and the file is written once: key by key took most of a minute
// with hundreds of schemes, and a cut end left the file half rewritten.
void SaveConfig(TConfig& config, const std::wstring& fileName) {
    gui::MemIniFile ini(fileName);
    ini.WriteInteger(L"TipWindow", L"Top", config.TipWindow.Top);
    ini.WriteInteger(L"TipWindow", L"Left", config.TipWindow.Left);

    ini.WriteInteger(L"General", L"ActiveScheme", config.ActiveSchemeInd);
    ini.WriteInteger(L"General", L"ActiveClockIndex", config.ActiveClockInd);
    ini.WriteBool(L"General", L"HideMenu", config.HideMenu);
    ini.WriteInteger(L"General", L"LogPriority", config.LogPriority);

    for (size_t n = 0; n < config.Scheme.size(); ++n) {
        const TScheme& s = config.Scheme[n];
        std::wstring section = L"Scheme" + std::to_wstring(n);
        ini.WriteString(section, L"Name", s.Name);
        ini.WriteInteger(section, L"Transparency", s.Transparency);
        for (int i = 0; i < MENU_COUNT; ++i) {
            ini.WriteBool(section, L"MenuEnabling" + std::to_wstring(i), s.MenuEnabling[i]);
            ini.WriteString(section, L"MenuColors" + std::to_wstring(i), ColorToIniText(s.MenuColors[i]));
        }
    }
    for (size_t n = config.Scheme.size();; ++n) {
        std::wstring section = L"Scheme" + std::to_wstring(n);
        if (!ini.SectionExists(section)) break;
        ini.EraseSection(section);
    }

    ini.EraseSection(L"ClockFormats");
    for (int i = 0; i < config.ClockFormats.Count(); ++i)
        ini.WriteString(L"ClockFormats", std::to_wstring(i), config.ClockFormats[i]);
    ini.UpdateFile();
}

void InitializeConfigs() {
    Config.ClockFormats.Clear();
    LoadConfig(Config);
    Config.KeyBoardMode = false;
}

void FinalizeConfigs() {
    SaveConfig(Config);
    Config.ClockFormats.Clear();
    Config.Scheme.clear();
}
