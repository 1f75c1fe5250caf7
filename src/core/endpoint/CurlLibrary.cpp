#include "endpoint/CurlLibrary.h"

#include "base/SharedLibrary.h"

#include <optional>

namespace marrowbell {

const CurlLibrary* CurlLibrary::get(std::string* why) {
    static const std::optional<CurlLibrary> library = []() -> std::optional<CurlLibrary> {
        SharedLibrary so("libcurl.so.4");
        CurlLibrary curl{};
        bool complete =
            so.find("curl_global_init", curl.global_init) &&
            so.find("curl_easy_init", curl.easy_init) &&
            so.find("curl_easy_setopt", curl.easy_setopt) &&
            so.find("curl_easy_perform", curl.easy_perform) &&
            so.find("curl_easy_getinfo", curl.easy_getinfo) &&
            so.find("curl_easy_cleanup", curl.easy_cleanup) &&
            so.find("curl_easy_strerror", curl.easy_strerror) &&
            so.find("curl_slist_append", curl.slist_append) &&
            so.find("curl_slist_free_all", curl.slist_free_all) && so.find("curl_url", curl.url) &&
            so.find("curl_url_set", curl.url_set) && so.find("curl_url_get", curl.url_get) &&
            so.find("curl_url_cleanup", curl.url_cleanup) && so.find("curl_free", curl.free);
        if (!complete || curl.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return std::nullopt;
        return curl;
    }();
    if (!library && why)
        *why = "the HTTP library libcurl.so.4 could not be loaded";
    return library ? &*library : nullptr;
}

} // namespace marrowbell
