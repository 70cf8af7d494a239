#pragma once
// The About box: coloured tiles with the program's name, version and notices; any click, Enter,
// Esc or a switch to another window closes it, and it frees itself then.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Handles.h"
#include "Window.h"

// The file version of the executable (FileName empty) or of FileName as "a.b.c.d" from its
// version resource; empty when it has none.
std::wstring GetFileVersionString(const std::wstring& FileName = L"");

// One label of the box: a coloured tile (Transparent off) or text drawn over the tiles.
struct TAboutLabel {
    std::wstring Name;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    COLORREF Color = 0;
    bool Transparent = true;
    std::wstring Caption;
    std::wstring FontName = L"Tahoma";
    int FontHeight = -11;
    bool Bold = false;
    bool WordWrap = false;
    bool AutoSize = false;
    RECT BoundsRect() const { return {Left, Top, Left + Width, Top + Height}; }
};

// Opens a mail or web address of the box (ShellExecuteW, verb "open", SW_HIDE). Tests replace it.
using TAboutOpenFunc = std::function<void(const std::wstring& Address)>;

class TfrmAbout : public gui::Window {
public:
    static constexpr int ClientWidth = 278;
    static constexpr int ClientHeight = 338;
    static constexpr BYTE AlphaBlendValue = 215;
    static inline const wchar_t* ClassName = L"TfrmAbout";
    static inline const wchar_t* MailAddress = L"mailto:support@orvane.example";
    static inline const wchar_t* SiteAddress = L"https://orvane.example/";

    // Creates the box (hidden) centred on the desktop; VersionFile names the program whose version
    // and icon are shown (empty: the executable). Heap-allocate it: it deletes itself when closed.
    explicit TfrmAbout(const std::wstring& VersionFile = L"");

    // Shows the box without waiting for it.
    void ShowBox();
    void Close();
    // A close has been asked for and is on its way.
    bool Closing() const { return FClosing; }

    const TAboutLabel* Label(const std::wstring& Name) const;
    const std::vector<TAboutLabel>& Labels() const { return FLabels; }
    // The boxes now open (each "About..." click makes one).
    static int OpenCount();
    static void SetOpenAddress(TAboutOpenFunc f);

    // form events
    void FormCreate();
    void FormPaint(HDC DC);
    void FormClick();
    void FormKeyPress(wchar_t& Key);
    void FormClose();
    void lblMailClick();
    void lblSiteClick();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void Destroyed() override;
    const char* ClassNameForErrors() const override { return "TfrmAbout"; }

private:
    ~TfrmAbout() override;
    TAboutLabel& Lbl(const std::wstring& Name);
    void AddLabel(TAboutLabel l) { FLabels.push_back(std::move(l)); }
    const TAboutLabel* LabelAt(int X, int Y) const;
    void DrawLabel(HDC DC, const TAboutLabel& l) const;
    SIZE MeasureText(const TAboutLabel& l) const;

    std::wstring FVersionFile;
    std::vector<TAboutLabel> FLabels;
    gui::IconHandle FIcon;
    bool FClosing = false;
};
