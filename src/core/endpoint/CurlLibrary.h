#pragma once

#include <curl/curl.h>

#include <string>

namespace marrowbell {

// libcurl, loaded (dlopen of libcurl.so.4) and initialised when an endpoint is first
// probed, so a process that never probes one — the idle scheduler above all — never
// maps it and the TLS libraries it brings. The members are libcurl's functions of the
// same name without their "curl_" prefix.
struct CurlLibrary {
    decltype(&::curl_global_init) global_init;
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_perform) easy_perform;
    decltype(&::curl_easy_getinfo) easy_getinfo;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_easy_strerror) easy_strerror;
    decltype(&::curl_slist_append) slist_append;
    decltype(&::curl_slist_free_all) slist_free_all;
    decltype(&::curl_url) url;
    decltype(&::curl_url_set) url_set;
    decltype(&::curl_url_get) url_get;
    decltype(&::curl_url_cleanup) url_cleanup;
    decltype(&::curl_free) free;

    // The library, loaded and initialised once per process and never unloaded; null
    // when it cannot be loaded, with the reason in `why`.
    static const CurlLibrary* get(std::string* why = nullptr);
};

} // namespace marrowbell
