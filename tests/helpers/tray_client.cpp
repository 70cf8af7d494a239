// A notification-area client speaking the Windows protocol: it builds the block that
// Shell_NotifyIcon sends (WM_COPYDATA, dwData 1, signature, message, 32-bit NOTIFYICONDATAW at
// offset 8) and sends it to the host, and reports the callback messages it receives.
//   tray_client [--host HEX] [--log FILE] step...
// Steps:
//   add ID TIP            NIM_ADD with NIF_MESSAGE|NIF_ICON|NIF_TIP, callback WM_APP+1
//   modify ID FLAGS TIP   NIM_MODIFY with those flags (callback WM_APP+2 when NIF_MESSAGE)
//   version ID V          NIM_SETVERSION with uTimeout/uVersion = V
//   delete ID             NIM_DELETE
//   focus ID              NIM_SETFOCUS
//   short ID BYTES        NIM_ADD in a block cut to BYTES bytes
//   system ID TIP         NIM_ADD through the system's own Shell_NotifyIconW, with the window's
//                         handle (low word) as the callback number
//   title TEXT            the window's text
//   wait MS               pumps messages for MS milliseconds
//   expect N MS           pumps until N callback messages came or MS passed
//   until LPARAM MS       pumps until a callback with that lParam (hexadecimal) came or MS passed
//   gate NAME             pumps until the named event is set (at most 60 s)
//   bulk N                adds N icons, modifies each (tip and icon), deletes each; prints counts
//   many N                adds N icons (ids 1000 on) and leaves them; prints "many added COUNT"
//   took                  prints "took MS", how long the host took to answer the last request
// In TIP, \n and \r stand for line breaks. Lines printed (and appended to FILE):
//   hwnd HEX | reply STEP ID RESULT | msg CALLBACK WPARAM LPARAM (hexadecimal)
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TestIcons.h"

namespace {

constexpr UINT kCallback = WM_APP + 1;
constexpr UINT kCallback2 = WM_APP + 2;
constexpr size_t kBlockSize = 8 + 956;  // signature, message, NOTIFYICONDATAW (32-bit, all fields)

HWND gHost = nullptr;
HWND gWnd = nullptr;
FILE* gLog = nullptr;
int gReceived = 0;
std::vector<LPARAM> gSeen;  // every callback's lParam, in order

void Out(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::fputs(buf, stdout);
    std::fflush(stdout);
    if (gLog) {
        std::fputs(buf, gLog);
        std::fflush(gLog);
    }
}

LRESULT CALLBACK ClientProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kCallback || m == kCallback2) {
        ++gReceived;
        gSeen.push_back(lp);
        Out("msg %X %llX %llX\n", m, static_cast<unsigned long long>(wp), static_cast<unsigned long long>(lp));
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

void Pump(DWORD ms, int until = -1) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (until >= 0 && gReceived >= until) return;
        if (GetTickCount() - start >= ms) return;
        Sleep(5);
    }
}

std::wstring Widen(const char* s) {
    std::wstring out;
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
        out.resize(static_cast<size_t>(n - 1));
    }
    std::wstring r;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == L'\\' && i + 1 < out.size() && (out[i + 1] == L'n' || out[i + 1] == L'r')) {
            r.push_back(out[i + 1] == L'n' ? L'\n' : L'\r');
            ++i;
        } else {
            r.push_back(out[i]);
        }
    }
    return r;
}

HICON MakeIcon(DWORD id) { return testing_support::SolidIcon32(16, 0xFF000000u | ((id * 0x3B5F1u) & 0xFFFFFFu)); }

void Put32(std::vector<BYTE>& b, size_t off, DWORD v) {
    for (int i = 0; i < 4; ++i) b[off + static_cast<size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
}

struct Request {
    DWORD message = 0;
    DWORD id = 0;
    DWORD flags = 0;
    DWORD callback = kCallback;
    HICON icon = nullptr;
    std::wstring tip;
    DWORD version = 0;
    size_t size = kBlockSize;
};

DWORD gLastSendMs = 0;

LRESULT Send(const Request& r) {
    std::vector<BYTE> b(kBlockSize, 0);
    Put32(b, 0, 0x34753423u);  // the signature Shell_NotifyIcon writes
    Put32(b, 4, r.message);
    Put32(b, 8, 956);                                                    // cbSize
    Put32(b, 12, static_cast<DWORD>(reinterpret_cast<UINT_PTR>(gWnd)));  // handles travel as 32 bits
    Put32(b, 16, r.id);
    Put32(b, 20, r.flags);
    Put32(b, 24, r.callback);
    Put32(b, 28, static_cast<DWORD>(reinterpret_cast<UINT_PTR>(r.icon)));
    for (size_t i = 0; i < r.tip.size() && i < 127; ++i) {
        b[32 + 2 * i] = static_cast<BYTE>(r.tip[i] & 0xFF);
        b[33 + 2 * i] = static_cast<BYTE>(r.tip[i] >> 8);
    }
    Put32(b, 808, r.version);
    COPYDATASTRUCT cds{1, static_cast<DWORD>(r.size), b.data()};
    DWORD_PTR answer = 0;
    const DWORD start = GetTickCount();
    const bool answered = SendMessageTimeoutW(gHost, WM_COPYDATA, reinterpret_cast<WPARAM>(gWnd),
                                              reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 20000, &answer) != 0;
    gLastSendMs = GetTickCount() - start;
    if (!answered) return -1;
    return static_cast<LRESULT>(answer);
}

}  // namespace

int main(int argc, char** argv) {
    int a = 1;
    for (; a + 1 < argc; a += 2) {
        if (std::strcmp(argv[a], "--host") == 0) {
            gHost = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(argv[a + 1], nullptr, 16)));
        } else if (std::strcmp(argv[a], "--log") == 0) {
            gLog = std::fopen(argv[a + 1], "a");
        } else {
            break;
        }
    }
    if (!gHost) gHost = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!gHost) {
        Out("no host\n");
        return 1;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = ClientProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TrayClientWnd";
    RegisterClassW(&wc);
    gWnd = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    Out("hwnd %llX\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(gWnd)));
    std::vector<HICON> icons;
    auto icon = [&](DWORD id) {
        icons.push_back(MakeIcon(id));
        return icons.back();
    };
    auto arg = [&](int i) -> const char* { return a + i < argc ? argv[a + i] : ""; };

    while (a < argc) {
        std::string step = argv[a];
        DWORD id = static_cast<DWORD>(std::strtoul(arg(1), nullptr, 0));
        Request r;
        r.id = id;
        if (step == "add") {
            r.message = NIM_ADD;
            r.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
            r.icon = icon(id);
            r.tip = Widen(arg(2));
            Out("reply add %lu %lld\n", id, static_cast<long long>(Send(r)));
            a += 3;
        } else if (step == "modify") {
            r.message = NIM_MODIFY;
            r.flags = static_cast<DWORD>(std::strtoul(arg(2), nullptr, 0));
            r.callback = kCallback2;
            r.icon = icon(id + 1000);
            r.tip = Widen(arg(3));
            Out("reply modify %lu %lld\n", id, static_cast<long long>(Send(r)));
            a += 4;
        } else if (step == "version") {
            r.message = NIM_SETVERSION;
            r.version = static_cast<DWORD>(std::strtoul(arg(2), nullptr, 0));
            Out("reply version %lu %lld\n", id, static_cast<long long>(Send(r)));
            a += 3;
        } else if (step == "delete") {
            r.message = NIM_DELETE;
            Out("reply delete %lu %lld\n", id, static_cast<long long>(Send(r)));
            a += 2;
        } else if (step == "focus") {
            r.message = NIM_SETFOCUS;
            Out("reply focus %lu %lld\n", id, static_cast<long long>(Send(r)));
            a += 2;
        } else if (step == "short") {
            r.message = NIM_ADD;
            r.flags = NIF_MESSAGE | NIF_TIP;
            r.tip = L"short";
            r.size = static_cast<size_t>(std::strtoul(arg(2), nullptr, 0));
            Out("reply short %lu %lld\n", id, static_cast<long long>(Send(r)));
            a += 3;
        } else if (step == "system") {
            NOTIFYICONDATAW nid{};
            nid.cbSize = sizeof(nid);
            nid.hWnd = gWnd;
            nid.uID = id;
            nid.uFlags = NIF_MESSAGE | NIF_TIP;
            nid.uCallbackMessage = static_cast<UINT>(reinterpret_cast<UINT_PTR>(gWnd) & 0xFFFF);
            lstrcpynW(nid.szTip, Widen(arg(2)).c_str(), 128);
            Out("reply system %lu %d\n", id, Shell_NotifyIconW(NIM_ADD, &nid) ? 1 : 0);
            a += 3;
        } else if (step == "title") {
            SetWindowTextW(gWnd, Widen(arg(1)).c_str());
            a += 2;
        } else if (step == "wait") {
            Pump(static_cast<DWORD>(std::strtoul(arg(1), nullptr, 0)));
            a += 2;
        } else if (step == "expect") {
            Pump(static_cast<DWORD>(std::strtoul(arg(2), nullptr, 0)), static_cast<int>(id));
            a += 3;
        } else if (step == "until") {
            LPARAM want = static_cast<LPARAM>(std::strtoull(arg(1), nullptr, 16));
            DWORD start = GetTickCount();
            auto seen = [&] { return std::find(gSeen.begin(), gSeen.end(), want) != gSeen.end(); };
            while (!seen() && GetTickCount() - start < std::strtoul(arg(2), nullptr, 0)) Pump(20);
            a += 3;
        } else if (step == "gate") {
            HANDLE ev = OpenEventW(SYNCHRONIZE, FALSE, Widen(arg(1)).c_str());
            DWORD start = GetTickCount();
            while (ev && GetTickCount() - start < 60000) {
                if (MsgWaitForMultipleObjects(1, &ev, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) break;
                Pump(0);
            }
            if (ev) CloseHandle(ev);
            a += 2;
        } else if (step == "bulk") {
            int added = 0, modified = 0, deleted = 0;
            for (DWORD i = 1; i <= id; ++i) {
                Request q;
                q.message = NIM_ADD;
                q.id = i;
                q.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
                q.icon = icon(i);
                q.tip = L"Bulk " + std::to_wstring(i) + L"\nsecond line";
                added += Send(q) == 1;
            }
            for (DWORD i = 1; i <= id; ++i) {
                Request q;
                q.message = NIM_MODIFY;
                q.id = i;
                q.flags = NIF_ICON | NIF_TIP;
                q.icon = icon(i + 1000);
                q.tip = L"Changed " + std::to_wstring(i);
                modified += Send(q) == 1;
            }
            for (DWORD i = 1; i <= id; ++i) {
                Request q;
                q.message = NIM_DELETE;
                q.id = i;
                deleted += Send(q) == 1;
            }
            Out("bulk added %d modified %d deleted %d\n", added, modified, deleted);
            a += 2;
        } else if (step == "many") {
            int added = 0;
            for (DWORD i = 0; i < id; ++i) {
                Request q;
                q.message = NIM_ADD;
                q.id = 1000 + i;
                q.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
                q.icon = icon(1);
                q.tip = L"Many " + std::to_wstring(i);
                added += Send(q) == 1;
            }
            Out("many added %d\n", added);
            a += 2;
        } else if (step == "took") {
            Out("took %lu\n", gLastSendMs);
            a += 1;
        } else {
            Out("unknown step %s\n", step.c_str());
            return 2;
        }
    }
    for (HICON h : icons)
        if (h) DestroyIcon(h);
    DestroyWindow(gWnd);
    if (gLog) std::fclose(gLog);
    return 0;
}
