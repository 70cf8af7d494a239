#pragma once
// Background fetch of a new bookmark's page title and site icon.
#include <string>

#include "../gui/Thread.h"

class TDKMenuItem;

// Cache file of a site's icon: IconsPath + host without dots + ".ico".
std::wstring SiteIconFileName(const std::wstring& IconsPath, const std::wstring& URL);

class TBookmarkThread : public gui::Thread {
public:
    // Created suspended; the creator sets the fields, FreeOnTerminate, then calls Start().
    TBookmarkThread() = default;
    std::wstring IconsPath;
    std::wstring FCaption;
    TDKMenuItem* DKMenuItem = nullptr;  // not owned

protected:
    void Execute() override;
    void UpdateCaption();
};
