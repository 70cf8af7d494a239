#pragma once
// A small blocking HTTP/1.1 client over WinHTTP: GET that follows redirects, with bounded
// time-outs and bounded bodies.
#include <windows.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "Handles.h"

// A failed request: connection, time-out, an error status or a body over its bound.
class EHttpError : public std::runtime_error {
public:
    EHttpError(const std::string& message, DWORD code = 0, int status = 0)
        : std::runtime_error(message), Code(code), Status(status) {}
    DWORD Code;  // WinHTTP error, 0 for an HTTP status or a size error
    int Status;  // HTTP status, 0 when none was received
};

// A WinHTTP session, connection or request handle (HINTERNET), closed with WinHttpCloseHandle.
struct TInternetTraits {
    using handle_type = void*;
    static void* none() noexcept { return nullptr; }
    static bool valid(void* h) noexcept { return h != nullptr; }
    static void close(void* h) noexcept;
};
using TInternetHandle = gui::UniqueHandle<TInternetTraits>;

class THttpClient {
public:
    THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    bool HandleRedirects = true;
    // Milliseconds for name resolution, connecting, sending and each wait for data.
    int ResolveTimeout = 10000;
    int ConnectTimeout = 10000;
    int SendTimeout = 10000;
    int ReceiveTimeout = 10000;
    // A whole request (all redirects and the body) ends with an error after this long.
    DWORD TotalTimeout = 30000;

    // How a body over its bound is handled: cut there, or the request fails.
    enum class TOverflow { Cut, Refuse };

    // GET into Body (replaced); throws EHttpError on failure and on a status of 300 or more
    // (after redirects), with the message "HTTP/1.1 404 Not Found" for a status.
    void Get(const std::wstring& URL, std::vector<BYTE>& Body, size_t MaxBytes, TOverflow Overflow);
    // GET of a page as text: UTF-8 unless the response names another charset or is no valid UTF-8.
    std::wstring Get(const std::wstring& URL, size_t MaxBytes);

    int ResponseCode() const { return responseCode_; }
    const std::wstring& ContentType() const { return contentType_; }

private:
    TInternetHandle session_;
    int responseCode_ = 0;
    std::wstring contentType_;
};

// Text of a body by its Content-Type's charset (as above); exposed for tests.
std::wstring DecodeHttpText(const std::vector<BYTE>& Body, const std::wstring& ContentType);
