#include "endpoint/Url.h"

#include "endpoint/CurlLibrary.h"

#include <cstdlib>
#include <memory>

namespace marrowbell {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { CurlLibrary::get()->url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

// Schemes libcurl was not built for still parse; the caller decides what to accept.
UrlHandle parsed(std::string_view text) {
    const CurlLibrary* curl = CurlLibrary::get();
    if (!curl)
        return nullptr;
    UrlHandle handle(curl->url());
    if (!handle)
        return nullptr;
    std::string copy(text);
    if (copy.find('\0') != std::string::npos)
        return nullptr;
    if (curl->url_set(handle.get(), CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK)
        return nullptr;
    return handle;
}

std::optional<std::string> part(const std::string& url, CURLUPart which) {
    UrlHandle handle = parsed(url);
    if (!handle)
        return std::nullopt;
    const CurlLibrary& curl = *CurlLibrary::get(); // loaded, or nothing parsed
    char* value = nullptr;
    if (curl.url_get(handle.get(), which, &value, 0) != CURLUE_OK || !value)
        return std::nullopt;
    std::string result(value);
    curl.free(value);
    return result;
}

} // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (!parsed(text))
        return std::nullopt;
    return Url{std::string(text)};
}

std::string Url::scheme() const {
    std::string scheme = part(absoluteString, CURLUPART_SCHEME).value_or("");
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return scheme;
}

std::optional<std::string> Url::host() const {
    auto host = part(absoluteString, CURLUPART_HOST);
    if (!host || host->empty())
        return std::nullopt;
    return host;
}

bool Url::hasCredentials() const {
    return part(absoluteString, CURLUPART_USER) || part(absoluteString, CURLUPART_PASSWORD);
}

std::optional<int> Url::port() const {
    auto port = part(absoluteString, CURLUPART_PORT);
    if (!port)
        return std::nullopt;
    return std::atoi(port->c_str());
}

} // namespace marrowbell
