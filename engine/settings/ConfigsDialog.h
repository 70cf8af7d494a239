#pragma once
// The options dialog: edits the live settings record while the bar runs. Every control writes
// straight into the record; "Cancel" puts the schemes and clock formats back as they were when
// the dialog was shown. Not modal; at most one exists (Config.frmConfigs).
#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"
#include "ColorDialog.h"
#include "settings/Configs.h"
#include "StringList.h"
#include "Window.h"

// The system's long time format in date-time format letters (hours with or without a leading
// zero, ":mm:ss", the am/pm marker before or after as the locale has it).
std::wstring SystemLongTimeFormat();

// Schemes and clock formats beyond this many cannot be chosen: the active indexes are bytes.
constexpr int MaxConfigEntries = 256;

class TfrmConfigs : public gui::Window {
public:
    static constexpr int ClientWidth = 392;
    static constexpr int ClientHeight = 320;
    static inline const wchar_t* ClassName = L"TfrmConfigs";
    static inline const wchar_t* NewSchemeName = L"New Scheme";
    static constexpr BYTE NewSchemeTransparency = 190;
    static constexpr COLORREF NewSchemeColor = 7995324;

    // Creates the form hidden, centred on the screen. Heap-allocate it: it frees itself after
    // closing. ShowConfigDialog is the normal way in.
    explicit TfrmConfigs(TConfig& AConfig);

    // Fills the controls from the record, takes the snapshot and shows the form.
    void ShowAndFill();
    // Closes like the window's close box: the edits stay, the form goes away.
    void Close();
    bool Closing() const { return FClosing; }

    // A control by its component name ("btnOK", "CheckBox3", "Panel9", "tsView" ...), or null.
    HWND Control(const std::wstring& Name) const;
    int PageIndex() const { return FPageIndex; }
    COLORREF PanelColor(int Tag) const { return FPanelColors.at(static_cast<size_t>(Tag)); }
    gui::ColorDialog* ColorDialog() const { return FColorDialog.get(); }

    // Snapshot taken when the dialog was last shown.
    std::vector<TScheme> OldScheme;
    BYTE OldActiveScheme = 0;
    std::unique_ptr<gui::StringList> OldClockFormats;
    BYTE OldActiveClockFormat = 0;

    // handlers
    void lbConfigClick();
    void chbAutoHideClick();
    void cbClockFormatsSelect();
    void cbClockFormatsKeyUp();
    void btnAddClockFormatClick();
    void btnDeleteClockFormatClick();
    void cbSchemeSelect();
    void cbSchemeKeyUp();
    void btnAddShemeClick();
    void btnDeleteSchemeClick();
    void tbTransparencyChange();
    void CheckBox1Click(int Tag);
    void Panel1Click(int Tag);
    void btnOKClick();
    void btnCancelClick();
    void FormClose();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void Destroyed() override;
    const char* ClassNameForErrors() const override { return "TfrmConfigs"; }

private:
    ~TfrmConfigs() override;
    using FontPtr = gui::FontHandle;

    void CreateControls();
    HWND Add(const std::wstring& Name, const wchar_t* Class, const std::wstring& Text, DWORD Style, int X, int Y,
             int W, int H, HWND Parent, int Id, DWORD ExStyle = 0);
    HWND AddLabel(const std::wstring& Name, const std::wstring& Text, int X, int Y, HWND Parent);
    void AddHint(HWND Control, const wchar_t* Text);
    void SetPage(int Index);
    void ShowScheme(const TScheme& S);
    void SetPanelColor(int Tag, COLORREF Color);
    void FireColorChanged();
    void OnCommand(int Id, int Code);
    static LRESULT CALLBACK ComboEditProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    TConfig& FConfig;
    std::unique_ptr<gui::ColorDialog> FColorDialog;
    FontPtr FFont, FBoldFont;
    std::vector<std::pair<std::wstring, HWND>> FControls;
    std::array<HWND, 2> FPages{};
    std::array<COLORREF, MENU_COUNT> FPanelColors{};
    HWND FHint = nullptr;
    int FPageIndex = 0;
    bool FClosing = false;
    bool FInColorDialog = false;
    bool FReleasePending = false;
};

// Shows the options dialog for the settings record; a dialog already open is refilled, takes a
// new snapshot and comes to the front.
void ShowConfigDialog(TConfig& AConfig = Config);
