#include "BookmarkThread.h"

#include "../engine/DKComponents.h"

std::wstring SiteIconFileName(const std::wstring& IconsPath, const std::wstring& URL) {
    std::wstring s = URL;
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
        std::wstring p = scheme;
        if (s.size() >= p.size() && _wcsnicmp(s.c_str(), p.c_str(), p.size()) == 0) {
            s.erase(0, p.size());
            break;
        }
    }
    s = s.substr(0, s.find(L'/'));
    std::erase(s, L'.');
    return IconsPath + s + L".ico";
}

void TBookmarkThread::Execute() {}

void TBookmarkThread::UpdateCaption() {}
