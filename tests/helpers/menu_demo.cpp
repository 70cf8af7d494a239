// Shows a three-level menu of made-up items and writes what is on screen to a state file
// every 100 ms, for the end-to-end test. Usage: menu_demo <state file>. Ends when
// "<state file>.quit" exists or after two minutes; the menu reopens 300 ms after it is hidden.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "Application.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "SysUtils.h"
#include "PlainMenu.h"
#include "Platform.h"

// A menu with no command of its own behind the filter box.
namespace {

std::wstring g_state;
std::wstring g_events;
TDKPopupMenu* g_menu = nullptr;
DWORD g_hiddenSince = 0;

void Describe(TDKMenuItem* item, std::wstring& out) {
    if (HWND h = item->FormHandle(); h && IsWindowVisible(h)) {
        RECT r{};
        GetWindowRect(h, &r);
        out += L"open " + (item->Owner() ? item->Caption() : std::wstring(L"root")) + L" " + std::to_wstring(r.left) +
               L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom) +
               L" selected " + std::to_wstring(item->SelectedRow()) + L"\n";
    }
    for (int i = 0; i < item->Count(); ++i) Describe(item->GetItem(i), out);
}

void Order(TDKMenuItem* item, std::wstring& out) {
    if (item->Count() == 0) return;
    out += L"order " + (item->Owner() ? item->Caption() : std::wstring(L"root")) + L":";
    for (int i = 0; i < item->Count(); ++i) out += (i ? L"," : L"") + item->GetItem(i)->Caption();
    out += L"\n";
    for (int i = 0; i < item->Count(); ++i) Order(item->GetItem(i), out);
}

void WriteState() {
    std::wstring out;
    Describe(g_menu->RootItem(), out);
    Order(g_menu->RootItem(), out);
    out += g_events;
    std::wstring tmp = g_state + L".tmp";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    std::string utf8 = gui::ToUtf8(out);
    DWORD written = 0;
    WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(f);
    MoveFileExW(tmp.c_str(), g_state.c_str(), MOVEFILE_REPLACE_EXISTING);
}

TDKMenuItem* Stored(TDKMenuItem* owner, int id, const std::wstring& caption) {
    TDKMenuItem* mi = owner->AddMenuItem(id, caption, [](TDKMenuItem* s) { g_events += L"clicked " + s->Caption() + L"\n"; });
    mi->SetDragged(true);
    return mi;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    g_state = argv[1];
    LocalFree(argv);
    gui::PlatformScope platform;
    gui::App().Initialize();
    {
        TPlainMenu menu;
        g_menu = &menu;
        TDKMenuItem* root = menu.RootItem();
        TDKMenuItem* alpha = Stored(root, 1, L"Alpha");
        Stored(alpha, 11, L"Alpha 1");
        TDKMenuItem* alpha2 = Stored(alpha, 12, L"Alpha 2");
        Stored(alpha2, 121, L"Deep 1");
        Stored(alpha2, 122, L"Deep 2");
        Stored(alpha, 13, L"Alpha 3");
        Stored(root, 2, L"Beta");
        Stored(root, 3, L"Gamma");
        Stored(root, 4, L"Delta");
        Stored(root, 5, L"Epsilon");
        root->ShowAt(100, 100);
        // A plain window of another kind at (800, 700): clicking it takes the activation away.
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        wc.lpszClassName = L"MenuDemoElsewhere";
        RegisterClassW(&wc);
        HWND elsewhere = CreateWindowExW(WS_EX_NOACTIVATE, wc.lpszClassName, L"elsewhere", WS_POPUP, 800, 700, 200, 150,
                                         nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(elsewhere, SW_SHOWNA);

        gui::Timer tick(100);
        DWORD start = GetTickCount();
        tick.OnTimer = [&] {
            HWND h = root->FormHandle();
            if (!h || !IsWindowVisible(h)) {
                if (!g_hiddenSince) g_hiddenSince = GetTickCount();
                if (GetTickCount() - g_hiddenSince > 300) {
                    g_hiddenSince = 0;
                    g_events += L"reopened\n";
                    root->ShowAt(100, 100);
                }
            }
            WriteState();
            if (GetFileAttributesW((g_state + L".quit").c_str()) != INVALID_FILE_ATTRIBUTES ||
                GetTickCount() - start > 120000)
                gui::App().Terminate();
        };
        tick.SetEnabled(true);
        WriteState();
        gui::App().Run();
        tick.SetEnabled(false);
        DestroyWindow(elsewhere);
        g_menu = nullptr;
    }
    return 0;
}
