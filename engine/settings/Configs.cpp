#include "settings/Configs.h"

#include <cwchar>

#include "settings/DKLog.h"
#include "util/DKUtils.h"
#include "FormatDateTime.h"
#include "IniFile.h"
#include "Registry.h"
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

namespace {

// Saves that failed where the log could not tell of it either, by settings file, until the next
// start shows them.
const wchar_t kUnsavedKey[] = L"SOFTWARE\\Orvane\\UnsavedSettings";
std::wstring gLastFailure;

// Logged; where the log cannot take the line (no log file, or it cannot be written either) the
// note waits in the user's registry for the next start.
void ReportSaveFailure(const std::wstring& fileName, DWORD error) {
    std::wstring reason = gui::Trim(gui::SysErrorMessage(error));
    // The end routine tries again what the session end tried: one report is enough.
    if (fileName + reason == gLastFailure) return;
    gLastFailure = fileName + reason;
    if (TryLog(4, L"Settings could not be saved to " + fileName + L": " + reason)) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    gui::Registry reg(HKEY_CURRENT_USER);
    if (reg.OpenKey(kUnsavedKey, true))
        reg.WriteString(fileName, L"On " + gui::FormatDateTime(L"c", now) + L" the settings could not be saved to " +
                                      fileName + L": " + reason);
}

}  // namespace

static BYTE LowByte(long long v) { return static_cast<BYTE>(v & 0xFF); }

// The file is read once and looked up in memory: key by key through the profile functions, 500
// schemes took seconds before the bar showed.
void LoadConfig(TConfig& config, const std::wstring& fileName) {
    gui::MemIniFile ini(fileName);
    config.LoadError = ini.ReadError();
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
    config.SchemesRead = config.Scheme.size();
    // Without a scheme in the file the bar starts with the built-in one, a scheme like any other
    // (listed and edited in the options dialog, written at exit): every key at its default.
    if (config.Scheme.empty()) config.Scheme.emplace_back();

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
bool SaveConfig(TConfig& config, const std::wstring& fileName) {
    if (config.LoadError) {
        ReportSaveFailure(fileName, config.LoadError);
        return false;
    }
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
    for (size_t n = config.Scheme.size(); n < config.SchemesRead; ++n) {
        std::wstring section = L"Scheme" + std::to_wstring(n);
        if (!ini.SectionExists(section)) break;
        ini.EraseSection(section);
    }

    ini.EraseSection(L"ClockFormats");
    for (int i = 0; i < config.ClockFormats.Count(); ++i)
        ini.WriteString(L"ClockFormats", std::to_wstring(i), config.ClockFormats[i]);
    DWORD error = ERROR_SUCCESS;
    if (ini.UpdateFile(&error)) return true;
    ReportSaveFailure(fileName, error);
    return false;
}

std::wstring TakeUnsavedSettingsNote(const std::wstring& fileName) {
    gui::Registry reg(HKEY_CURRENT_USER);
    if (!reg.KeyExists(kUnsavedKey) || !reg.OpenKey(kUnsavedKey, false) || !reg.ValueExists(fileName)) return {};
    std::wstring note;
    try {
        note = reg.ReadString(fileName);
    } catch (const std::exception&) {
        // not ours to read: dropped below all the same
    }
    reg.DeleteValue(fileName);
    bool empty = reg.GetValueNames().empty();
    reg.CloseKey();
    if (empty) reg.DeleteKey(kUnsavedKey);
    return note;
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
