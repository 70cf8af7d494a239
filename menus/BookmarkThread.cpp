#include "BookmarkThread.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "settings/DKLog.h"
#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "HttpClient.h"
#include "util/IconsToFile.h"
#include "SysUtils.h"

namespace {

// Fetches in flight. Never freed: a fetch may still be running while the program's static
// objects are destroyed, and it must still find this.
struct TFetchState {
    std::mutex Lock;
    bool Ended = false;
    int Busy = 0;  // bodies inside a step that touches shared state
    int Running = 0;
};

TFetchState& Fetches() {
    static TFetchState* state = new TFetchState;
    return *state;
}

// A step that uses the log, the settings, the GUI thread or graphics: refused once the program
// is ending, and waited for by TBookmarkThread::EndAll while it runs.
class TSharedStep {
public:
    TSharedStep() {
        std::lock_guard<std::mutex> lock(Fetches().Lock);
        ok_ = !Fetches().Ended;
        if (ok_) ++Fetches().Busy;
    }
    ~TSharedStep() {
        if (!ok_) return;
        std::lock_guard<std::mutex> lock(Fetches().Lock);
        --Fetches().Busy;
    }
    TSharedStep(const TSharedStep&) = delete;
    TSharedStep& operator=(const TSharedStep&) = delete;
    explicit operator bool() const { return ok_; }

private:
    bool ok_ = false;
};

struct TRunningFetch {
    TRunningFetch() {
        std::lock_guard<std::mutex> lock(Fetches().Lock);
        ++Fetches().Running;
    }
    ~TRunningFetch() {
        std::lock_guard<std::mutex> lock(Fetches().Lock);
        --Fetches().Running;
    }
};

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix) {
    size_t n = wcslen(prefix);
    return s.size() >= n && _wcsnicmp(s.c_str(), prefix, n) == 0;
}

WORD Get16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD Get32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }

// Every image of an icon file lies inside the data and holds as many pixel and mask bytes as
// its header claims, so that nothing reads past a malformed favicon.
bool IcoIsSound(const TMemoryStream& s) {
    if (s.size() < 6 || Get16(&s[0]) != 0 || Get16(&s[2]) != 1) return false;
    size_t count = Get16(&s[4]);
    if (count == 0 || 6 + count * 16 > s.size()) return false;
    for (size_t i = 0; i < count; ++i) {
        const BYTE* e = &s[6 + i * 16];
        DWORD size = Get32(e + 8), offset = Get32(e + 12);
        if (size == 0 || offset > s.size() || size > s.size() - offset) return false;
        const BYTE* image = &s[offset];
        static const BYTE png[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
        if (size >= 8 && std::memcmp(image, png, 8) == 0) continue;
        if (size < sizeof(BITMAPINFOHEADER)) return false;
        BITMAPINFOHEADER h;
        std::memcpy(&h, image, sizeof(h));
        if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > size) return false;
        if (h.biWidth <= 0 || h.biWidth > 256 || h.biHeight < 2 || h.biHeight > 512 || h.biPlanes != 1) return false;
        if (h.biCompression != BI_RGB) return false;
        WORD bpp = h.biBitCount;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
        unsigned long long colours = h.biClrUsed ? h.biClrUsed : (bpp <= 8 ? 1u << bpp : 0u);
        if (colours > 256) return false;
        unsigned long long w = static_cast<unsigned long long>(h.biWidth), rows = h.biHeight / 2;
        unsigned long long xorRow = (w * bpp + 31) / 32 * 4, andRow = (w + 31) / 32 * 4;
        unsigned long long need = h.biSize + colours * 4 + (xorRow + andRow) * rows;
        if (need > size) return false;
    }
    return true;
}

}  // namespace

std::wstring BookmarkHost(const std::wstring& URL) {
    std::wstring s = URL;
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
        if (StartsWithNoCase(s, scheme)) {
            s.erase(0, wcslen(scheme));
            break;
        }
    }
    return s.substr(0, s.find(L'/'));
}

std::wstring SiteIconFileName(const std::wstring& IconsPath, const std::wstring& URL) {
    std::wstring s = BookmarkHost(URL);
    // Credentials and port do not name the site (and a password has no place in a file name).
    size_t at = s.rfind(L'@');
    if (at != std::wstring::npos) s.erase(0, at + 1);
    size_t portFrom = s.find(L':', !s.empty() && s[0] == L'[' ? s.find(L']') : 0);
    if (portFrom != std::wstring::npos) s.erase(portFrom);
    std::erase(s, L'.');
    for (wchar_t& c : s)
        if (c < L' ' || wcschr(L"<>:\"/\\|?*", c)) c = L'_';
    return IconsPath + s + L".ico";
}

std::wstring PageTitle(const std::wstring& Text) {
    size_t at = Text.find(L"<title");
    size_t p = at == std::wstring::npos ? 0 : at + 1;  // position counted from 1, 0 when absent
    std::wstring s = Text.substr(std::min(Text.size(), p + 3));
    size_t gt = s.find(L'>');
    if (gt != std::wstring::npos) s.erase(0, gt + 1);
    size_t lt = s.find(L'<');
    if (lt == std::wstring::npos) return {};
    // The page decides what stands there: a caption gets one line of bounded length.
    std::wstring title;
    for (wchar_t c : s.substr(0, lt)) {
        bool blank = c <= L' ';
        if (blank && (title.empty() || title.back() == L' ')) continue;
        title += blank ? L' ' : c;
        if (title.size() >= MaxTitleChars) break;
    }
    if (!title.empty() && IS_HIGH_SURROGATE(title.back())) title.pop_back();
    return gui::Trim(title);
}

std::wstring NormalizeBookmarkURL(const std::wstring& URL) {
    if (URL.find(L"http:") == std::wstring::npos && URL.find(L"https:") == std::wstring::npos)
        return L"http://" + URL;
    return URL;
}

void TBookmarkThread::Start() {
    if (DKMenuItem && !FItemAlive) FItemAlive = DKMenuItem->LifeToken();
    gui::Thread::Start();
}

int TBookmarkThread::Running() {
    std::lock_guard<std::mutex> lock(Fetches().Lock);
    return Fetches().Running;
}

void TBookmarkThread::EndAll(DWORD TimeoutMs) {
    {
        std::lock_guard<std::mutex> lock(Fetches().Lock);
        Fetches().Ended = true;
    }
    const ULONGLONG until = GetTickCount64() + TimeoutMs;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(Fetches().Lock);
            if (Fetches().Busy == 0) return;
        }
        if (GetTickCount64() >= until) return;
        // A fetch may be waiting for the GUI thread to run its update.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
}

void TBookmarkThread::UpdateCaption() {
    if (ItemAlive()) DKMenuItem->SetCaption(FCaption);
}

void TBookmarkThread::Execute() {
    TRunningFetch running;

    std::wstring url;
    {
        TSharedStep step;
        if (!step) return;
        Synchronize([this, &url] {
            if (!ItemAlive()) return;
            url = NormalizeBookmarkURL(gui::Trim(DKMenuItem->ExecPath()));
            DKMenuItem->SetExecPath(url);
        });
    }
    if (url.empty()) return;  // the item was gone before the fetch began

    std::unique_ptr<THttpClient> http;
    std::wstring text;
    try {
        http = std::make_unique<THttpClient>();
        text = http->Get(url, MaxPageBytes);
    } catch (const std::exception& e) {
        TSharedStep step;
        if (!step) return;
        Log(3, L"(i1) " + gui::FromUtf8(e.what()));
    }

    std::wstring title = PageTitle(text);
    if (!title.empty()) {
        TSharedStep step;
        if (!step) return;
        FCaption = title;
        Synchronize([this] { UpdateCaption(); });
    }

    if (!http || !ItemAlive()) return;  // no client, or nobody left to show an icon
    const std::wstring host = BookmarkHost(url);
    TMemoryStream stream;
    try {
        http->Get(L"http://" + host + L"/favicon.ico", stream, MaxIconBytes, THttpClient::TOverflow::Refuse);
    } catch (const std::exception&) {
        return;
    }
    if (stream.empty()) return;
    const std::wstring fileName = SiteIconFileName(IconsPath, url);

    TSharedStep step;
    if (!step) return;
    TIcon icon;
    try {
        if (DetectImageType(&stream) == 4) {
            icon = PngStreamToIcon(stream);
        } else {
            if (!IcoIsSound(stream)) return;
            icon.LoadFromStream(stream);
        }
    } catch (const std::exception&) {
        return;
    }
    Pick16x16Icon(icon);
    SaveIconToFile(fileName, icon.Handle(), 4);
    gui::IconHandle loaded = LoadSmallIconFile(fileName);
    if (!loaded) return;
    // The item owns the icon from here; one that is gone leaves it to be destroyed here.
    Synchronize([this, &loaded] {
        if (ItemAlive()) DKMenuItem->TakeIcon(std::move(loaded));
    });
}
