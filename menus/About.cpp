#include "Handles.h"
#include "About.h"

#include <shellapi.h>
#include <winver.h>

#include <atomic>
#include <memory>

#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {

std::atomic<int> gOpenBoxes{0};

TAboutOpenFunc& Opener() {
    static TAboutOpenFunc f;
    return f;
}

using FontPtr = gui::FontHandle;

FontPtr MakeFont(const TAboutLabel& l) {
    return FontPtr(CreateFontW(l.FontHeight, 0, 0, 0, l.Bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                               l.FontName.c_str()));
}

// A frame of Width lines along R, drawn inside it: top and left in TopColor, bottom and right
// in BottomColor.
void Frame3D(HDC DC, RECT R, COLORREF TopColor, COLORREF BottomColor, int Width) {
    gui::BrushHandle topBrush(CreateSolidBrush(TopColor));
    gui::BrushHandle bottomBrush(CreateSolidBrush(BottomColor));
    HBRUSH top = topBrush.get(), bottom = bottomBrush.get();
    for (int i = 0; i < Width && R.right - R.left > 1 && R.bottom - R.top > 1; ++i) {
        RECT t{R.left, R.top, R.right - 1, R.top + 1};
        RECT l{R.left, R.top, R.left + 1, R.bottom - 1};
        RECT b{R.left, R.bottom - 1, R.right, R.bottom};
        RECT r{R.right - 1, R.top, R.right, R.bottom};
        FillRect(DC, &t, top);
        FillRect(DC, &l, top);
        FillRect(DC, &b, bottom);
        FillRect(DC, &r, bottom);
        InflateRect(&R, -1, -1);
    }
}

}  // namespace

std::wstring GetFileVersionString(const std::wstring& FileName) {
    std::wstring path = FileName.empty() ? gui::ExeFileName() : FileName;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return L"";
    std::vector<BYTE> buf(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, buf.data())) return L"";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(buf.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO))
        return L"";
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}

void TfrmAbout::SetOpenAddress(TAboutOpenFunc f) { Opener() = std::move(f); }
int TfrmAbout::OpenCount() { return gOpenBoxes.load(); }

TfrmAbout::TfrmAbout(const std::wstring& VersionFile) : FVersionFile(VersionFile) {
    // Tiles in creation order: later ones lie above earlier ones where they overlap.
    struct Tile {
        const wchar_t* name;
        int l, t, w, h;
        COLORREF c;
    };
    static const Tile tiles[] = {
        {L"lbViolet", 94, 2, 89, 113, 16749459},       {L"lblLilac", 155, 115, 121, 78, 16754386},
        {L"lblGreen", 2, 2, 92, 77, 7995324},          {L"lblLightGreen", 2, 264, 78, 72, 10222512},
        {L"lblLightRed", 80, 224, 114, 112, 16763647}, {L"lblRed", 95, 174, 114, 68, 10198015},
        {L"lblGray", 194, 192, 82, 144, 14079702},     {L"lblBlue", 2, 168, 93, 96, 16763799},
        {L"lblBrawn", 183, 2, 93, 113, 10206463},      {L"lblYellow", 2, 79, 153, 89, 9109503},
    };
    for (const Tile& t : tiles) {
        TAboutLabel l;
        l.Name = t.name;
        l.Left = t.l, l.Top = t.t, l.Width = t.w, l.Height = t.h;
        l.Color = t.c;
        l.Transparent = false;
        AddLabel(l);
    }
    auto text = [this](const wchar_t* name, int x, int y, int w, int h, const std::wstring& caption) -> TAboutLabel& {
        TAboutLabel l;
        l.Name = name;
        l.Left = x, l.Top = y, l.Width = w, l.Height = h;
        l.Caption = caption;
        AddLabel(l);
        return FLabels.back();
    };
    TAboutLabel& prog = text(L"lblProgName", 49, 23, 217, 31, L"Orvane");
    prog.FontName = L"Times New Roman", prog.FontHeight = -27, prog.Bold = true;
    TAboutLabel& ver = text(L"lblVersion", 165, 50, 56, 23, L"--------");
    ver.FontName = L"Times New Roman", ver.FontHeight = -20, ver.Bold = true, ver.AutoSize = true;
    text(L"lblDescription", 12, 96, 140, 30, L"A desktop shell: one bar, eight menus.").WordWrap = true;
    text(L"lblCopyright", 12, 186, 180, 14, L"Copyright \x00A9 2026 Orvane");
    text(L"lblMail", 12, 204, 180, 14, L"support@orvane.example");
    text(L"lblSite", 12, 218, 180, 14, L"orvane.example");
    text(L"lblLows", 8, 241, 262, 89, L"").WordWrap = true;

    gui::WindowClass cls{ClassName, CS_DBLCLKS, nullptr, nullptr, nullptr};
    // Centred on the desktop, no border: the client area is the whole window.
    const int x = (GetSystemMetrics(SM_CXSCREEN) - ClientWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - ClientHeight) / 2;
    if (!Create(cls, L"About...", WS_POPUP, WS_EX_LAYERED, x, y, ClientWidth, ClientHeight))
        throw std::runtime_error("the About box could not be created");
    ++gOpenBoxes;
    SetLayeredWindowAttributes(Handle(), 0, AlphaBlendValue, LWA_ALPHA);
    FormCreate();
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::Destroyed() {
    --gOpenBoxes;
    delete this;
}

TAboutLabel& TfrmAbout::Lbl(const std::wstring& Name) {
    for (TAboutLabel& l : FLabels)
        if (l.Name == Name) return l;
    throw std::logic_error("no label " + gui::ToUtf8(Name));
}

const TAboutLabel* TfrmAbout::Label(const std::wstring& Name) const {
    for (const TAboutLabel& l : FLabels)
        if (l.Name == Name) return &l;
    return nullptr;
}

SIZE TfrmAbout::MeasureText(const TAboutLabel& l) const {
    SIZE sz{};
    gui::WindowDC dc(Handle());
    FontPtr font = MakeFont(l);
    gui::SelectScope use(dc.get(), font.get());
    GetTextExtentPoint32W(dc.get(), l.Caption.c_str(), static_cast<int>(l.Caption.size()), &sz);
    return sz;
}

void TfrmAbout::FormCreate() {
    Lbl(L"lblLows").Caption =
        L"Warning: this program is protected by copyright law. Unauthorised copying or distribution "
        L"of this program, or of any part of it, may result in severe civil and criminal penalties.";
    std::wstring version = GetFileVersionString(FVersionFile);
    TAboutLabel& ver = Lbl(L"lblVersion");
    if (!version.empty()) ver.Caption = version;  // without version information the dashes stay
    if (ver.AutoSize) {
        SIZE sz = MeasureText(ver);
        ver.Width = sz.cx;
        ver.Height = sz.cy;
    }
    // The version ends where the program's name ends.
    const TAboutLabel& prog = Lbl(L"lblProgName");
    ver.Left = prog.Left + prog.Width - ver.Width;

    // The program's first icon, large, as the shell shows it for the executable.
    std::wstring program = FVersionFile.empty() ? gui::ExeFileName() : FVersionFile;
    HICON large = nullptr;
    if (ExtractIconExW(program.c_str(), 0, &large, nullptr, 1) == 1) FIcon.reset(large);
}

void TfrmAbout::DrawLabel(HDC DC, const TAboutLabel& l) const {
    RECT r = l.BoundsRect();
    if (!l.Transparent) {
        gui::BrushHandle b(CreateSolidBrush(l.Color));
        FillRect(DC, &r, b.get());
    }
    if (l.Caption.empty()) return;
    FontPtr font = MakeFont(l);
    gui::SelectScope use(DC, font.get());
    SetBkMode(DC, TRANSPARENT);
    SetTextColor(DC, RGB(0, 0, 0));
    UINT fmt = DT_LEFT | DT_NOPREFIX | (l.WordWrap ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextW(DC, l.Caption.c_str(), static_cast<int>(l.Caption.size()), &r, fmt);
}

// Each tile with its 3D frame, in creation order, so a later tile covers the frames below it;
// tiles at the form's edges get frames that reach the edge. The red tile has no frame.
void TfrmAbout::FormPaint(HDC DC) {
    for (const TAboutLabel& l : FLabels) {
        if (l.Transparent) continue;
        DrawLabel(DC, l);
        if (l.Name == L"lblRed") continue;
        RECT r = l.BoundsRect();
        if (r.top == 2) r.top = 0;
        if (r.left == 2) r.left = 0;
        if (ClientHeight - 2 == r.bottom) r.bottom += 2;
        if (ClientWidth - 2 == r.right) r.right += 2;
        Frame3D(DC, r, LightenColor(l.Color, 40), DarkenColor(l.Color, 40), 2);
    }
}

void TfrmAbout::ShowBox() {
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}

// Closing goes through a posted WM_CLOSE: a click or a deactivation is still being handled.
void TfrmAbout::Close() {
    if (FClosing || !Handle()) return;
    FClosing = true;
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TfrmAbout::FormClick() { Close(); }

void TfrmAbout::FormKeyPress(wchar_t& Key) {
    if (Key == 13 || Key == 27) Close();
}

// Not Destroy(): the window's destruction deletes this box, which must not be read after it.
void TfrmAbout::FormClose() { DestroyWindow(Handle()); }

void TfrmAbout::lblMailClick() {
    if (Opener())
        Opener()(MailAddress);
    else
        ShellExecuteOrReport(L"Mail", Handle(), L"open", MailAddress, L"", L"", SW_HIDE);
}

void TfrmAbout::lblSiteClick() {
    if (Opener())
        Opener()(SiteAddress);
    else
        ShellExecuteOrReport(L"Web site", Handle(), L"open", SiteAddress, L"", L"", SW_HIDE);
}

const TAboutLabel* TfrmAbout::LabelAt(int X, int Y) const {
    // The topmost label under the point: text labels lie above the tiles, later above earlier.
    for (auto it = FLabels.rbegin(); it != FLabels.rend(); ++it) {
        POINT p{X, Y};
        RECT r = it->BoundsRect();
        if (PtInRect(&r, p)) return &*it;
    }
    return nullptr;
}

LRESULT TfrmAbout::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        // Drawn off screen in one go: tiles, their frames, the icon, then the texts.
        {
            gui::MemoryDCHandle memDC(CreateCompatibleDC(dc));
            gui::BitmapHandle bmp(CreateCompatibleBitmap(dc, ClientWidth, ClientHeight));
            HDC mem = memDC.get();
            gui::SelectScope use(mem, bmp.get());
            RECT all{0, 0, ClientWidth, ClientHeight};
            FillRect(mem, &all, GetSysColorBrush(COLOR_BTNFACE));
            FormPaint(mem);
            if (FIcon) DrawIconEx(mem, 11, 23, FIcon.get(), 32, 32, 0, nullptr, DI_NORMAL);
            RECT bevel{8, 232, 8 + 266, 234};
            DrawEdge(mem, &bevel, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);
            for (const TAboutLabel& l : FLabels)
                if (l.Transparent) DrawLabel(mem, l);
            BitBlt(dc, 0, 0, ClientWidth, ClientHeight, mem, 0, 0, SRCCOPY);
        }
        EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONUP: {
        const TAboutLabel* l = LabelAt(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
        if (l && l->Name == L"lblMail")
            lblMailClick();
        else if (l && l->Name == L"lblSite")
            lblSiteClick();
        else
            FormClick();
        return 0;
    }
    case WM_CHAR: {
        wchar_t key = static_cast<wchar_t>(wp);
        FormKeyPress(key);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) FormClick();  // another window became active
        break;
    case WM_CLOSE:
        FormClose();
        return 0;
    default:
        break;
    }
    return DefaultHandler(msg, wp, lp);
}
