#pragma once
// Background fetch of a new bookmark's page title and site icon.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "../gui/Thread.h"

class TDKMenuItem;

// Cache file of a site's icon: IconsPath + host without dots + ".ico". Credentials and port
// are left out of the host, and characters a file name cannot hold become "_".
std::wstring SiteIconFileName(const std::wstring& IconsPath, const std::wstring& URL);

// The page title by the bookmark's title rule (the first "<title" as written, the text
// between the next ">" and "<", trimmed); empty when none. Runs of white space and control
// characters become one blank, and the title is cut at MaxTitleChars.
constexpr size_t MaxTitleChars = 256;
std::wstring PageTitle(const std::wstring& Text);
// "http://" in front of a text that holds neither "http:" nor "https:".
std::wstring NormalizeBookmarkURL(const std::wstring& URL);
// The host part of a URL: leading "http://" or "https://" dropped, cut at the first "/".
std::wstring BookmarkHost(const std::wstring& URL);

class TBookmarkThread : public gui::Thread {
public:
    // Created suspended; the creator sets the fields, FreeOnTerminate, then calls Start().
    TBookmarkThread() = default;
    std::wstring IconsPath;
    std::wstring FCaption;
    TDKMenuItem* DKMenuItem = nullptr;  // not owned

    // Call on the GUI thread, with DKMenuItem set: the thread keeps the item's life token, so
    // that its updates are dropped once the item is gone.
    void Start();

    // Bodies over these bounds: a page is cut there, a favicon is refused.
    static constexpr size_t MaxPageBytes = 4u << 20;
    static constexpr size_t MaxIconBytes = 2u << 20;

    // Fetch bodies running now (started and not yet ended).
    static int Running();
    // The program is ending: fetches still running stop touching anything shared (log,
    // settings, GUI thread, graphics) and end on their own. Waits, on the GUI thread serving
    // sent messages, until none is inside such a step, at most TimeoutMs.
    static void EndAll(DWORD TimeoutMs = 5000);

protected:
    void Execute() override;
    void UpdateCaption();

private:
    std::shared_ptr<const std::atomic<bool>> FItemAlive;
    bool ItemAlive() const { return FItemAlive && FItemAlive->load(); }
};
