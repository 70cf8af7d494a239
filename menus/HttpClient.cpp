#include "HttpClient.h"

#include <winhttp.h>

#include <algorithm>
#include <cwctype>

#include "SysUtils.h"

namespace {

std::string ErrorText(DWORD code) {
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT: return "The operation timed out";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "The server name could not be resolved";
        case ERROR_WINHTTP_CANNOT_CONNECT: return "Could not connect to the server";
        case ERROR_WINHTTP_CONNECTION_ERROR: return "The connection to the server was reset";
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "The URL does not use a recognised protocol";
        case ERROR_WINHTTP_INVALID_URL: return "The URL is invalid";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "The server response could not be parsed";
        case ERROR_WINHTTP_REDIRECT_FAILED: return "The redirection failed";
        case ERROR_WINHTTP_SECURE_FAILURE: return "The secure connection failed";
        default: return "The request failed";
    }
}

[[noreturn]] void Fail(DWORD code) {
    if (code == WSAETIMEDOUT) code = ERROR_WINHTTP_TIMEOUT;  // some WinHTTPs pass the socket's code on
    throw EHttpError(ErrorText(code) + " (WinHTTP error " + std::to_string(code) + ")", code);
}

std::wstring QueryText(HINTERNET request, DWORD what) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

bool QueryNumber(HINTERNET request, DWORD what, DWORD& value) {
    DWORD size = sizeof(value);
    return WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                               WINHTTP_NO_HEADER_INDEX) != FALSE;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

// The charset parameter of a Content-Type value, lower case, or empty.
std::wstring Charset(const std::wstring& contentType) {
    std::wstring ct = Lower(contentType);
    size_t at = ct.find(L"charset=");
    if (at == std::wstring::npos) return {};
    std::wstring cs = ct.substr(at + 8);
    cs = cs.substr(0, cs.find_first_of(L"; \t"));
    std::erase(cs, L'"');
    std::erase(cs, L'\'');
    return cs;
}

// Valid UTF-8, allowing a sequence cut by the end of the data (a body cut at its bound) when
// whole sequences came before it: a lone high last byte is rather a single-byte charset.
bool LooksUtf8(const std::vector<BYTE>& b, size_t& usable) {
    size_t i = 0;
    bool multiByte = false;
    while (i < b.size()) {
        BYTE c = b[i];
        size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (n == 9 || (n == 1 && c < 0xC2)) return false;
        if (i + n >= b.size() && n > 0) {  // a sequence cut at the end
            if (!multiByte) return false;
            for (size_t k = i + 1; k < b.size(); ++k)
                if ((b[k] & 0xC0) != 0x80) return false;
            break;
        }
        for (size_t k = 1; k <= n; ++k)
            if ((b[i + k] & 0xC0) != 0x80) return false;
        multiByte = multiByte || n > 0;
        i += n + 1;
    }
    usable = i;
    return true;
}

std::wstring Widen(const BYTE* data, size_t size, UINT codePage) {
    if (size == 0) return {};
    int n = MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(data), static_cast<int>(size), out.data(), n);
    return out;
}

}  // namespace

std::wstring DecodeHttpText(const std::vector<BYTE>& Body, const std::wstring& ContentType) {
    std::wstring cs = Charset(ContentType);
    size_t start = 0;
    if (Body.size() >= 3 && Body[0] == 0xEF && Body[1] == 0xBB && Body[2] == 0xBF) {
        start = 3;
        cs = L"utf-8";
    }
    std::vector<BYTE> rest(Body.begin() + static_cast<std::ptrdiff_t>(start), Body.end());
    size_t usable = 0;
    if (cs == L"utf-8" || cs == L"utf8" || (cs.empty() && LooksUtf8(rest, usable))) {
        if (cs.empty()) return Widen(rest.data(), usable, CP_UTF8);
        return Widen(rest.data(), rest.size(), CP_UTF8);
    }
    UINT cp = 1252;
    if (cs.rfind(L"windows-", 0) == 0) {
        UINT n = static_cast<UINT>(_wtoi(cs.c_str() + 8));
        if (n >= 874 && n <= 1258 && IsValidCodePage(n)) cp = n;
    }
    return Widen(rest.data(), rest.size(), cp);
}

THttpClient::THttpClient() {
    session_.reset(WinHttpOpen(L"Mozilla/5.0 (compatible; Orvane)", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) Fail(GetLastError());
}

void TInternetTraits::close(void* h) noexcept { WinHttpCloseHandle(h); }

void THttpClient::Get(const std::wstring& URL, std::vector<BYTE>& Body, size_t MaxBytes, TOverflow Overflow) {
    Body.clear();
    responseCode_ = 0;
    contentType_.clear();
    const ULONGLONG deadline = GetTickCount64() + TotalTimeout;

    WinHttpSetTimeouts(session_.get(), ResolveTimeout, ConnectTimeout, SendTimeout, ReceiveTimeout);
    DWORD policy = HandleRedirects ? WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS : WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(session_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(URL.c_str(), static_cast<DWORD>(URL.size()), 0, &parts)) Fail(GetLastError());
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        Fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    if (host.empty()) Fail(ERROR_WINHTTP_INVALID_URL);

    TInternetHandle connect(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connect) Fail(GetLastError());
    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    TInternetHandle request(WinHttpOpenRequest(connect.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) Fail(GetLastError());
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    // The wait for the response head has a time-out of its own (90 s unless set).
    DWORD responseTimeout = static_cast<DWORD>(ReceiveTimeout);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof(responseTimeout));
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        Fail(GetLastError());
    if (!WinHttpReceiveResponse(request.get(), nullptr)) Fail(GetLastError());

    DWORD status = 0;
    if (!QueryNumber(request.get(), WINHTTP_QUERY_STATUS_CODE, status)) Fail(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    responseCode_ = static_cast<int>(status);
    contentType_ = QueryText(request.get(), WINHTTP_QUERY_CONTENT_TYPE);
    if (status >= 300) {
        std::wstring version = QueryText(request.get(), WINHTTP_QUERY_VERSION);
        std::wstring text = QueryText(request.get(), WINHTTP_QUERY_STATUS_TEXT);
        std::string line = gui::ToUtf8(version.empty() ? L"HTTP/1.1" : version) + " " + std::to_string(status);
        if (!text.empty()) line += " " + gui::ToUtf8(text);
        throw EHttpError(line, 0, static_cast<int>(status));
    }

    DWORD length = 0;
    if (QueryNumber(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, length) && length > MaxBytes &&
        Overflow == TOverflow::Refuse)
        throw EHttpError("Response too large (" + std::to_string(length) + " bytes)", 0, responseCode_);

    std::vector<BYTE> chunk;
    for (;;) {
        if (GetTickCount64() > deadline) Fail(ERROR_WINHTTP_TIMEOUT);
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) Fail(GetLastError());
        if (available == 0) break;
        chunk.resize(std::min<DWORD>(available, 64 * 1024));
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read)) Fail(GetLastError());
        if (read == 0) break;
        if (Body.size() + read > MaxBytes) {
            if (Overflow == TOverflow::Refuse) {
                Body.clear();
                throw EHttpError("Response too large", 0, responseCode_);
            }
            Body.insert(Body.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(MaxBytes - Body.size()));
            break;  // the rest is not read; closing the request drops the connection
        }
        Body.insert(Body.end(), chunk.begin(), chunk.begin() + read);
    }
}

std::wstring THttpClient::Get(const std::wstring& URL, size_t MaxBytes) {
    std::vector<BYTE> body;
    Get(URL, body, MaxBytes, TOverflow::Cut);
    return DecodeHttpText(body, contentType_);
}
