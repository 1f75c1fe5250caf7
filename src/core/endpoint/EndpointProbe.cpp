#include "endpoint/EndpointProbe.h"

#include "base/Json.h"
#include "endpoint/CurlLibrary.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <mutex>

namespace marrowbell {

namespace {

// A model list is small; a reply past this is not one, and is not kept in memory.
constexpr std::size_t maximumBody = 16 * 1024 * 1024;

std::string lowercased(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The loaded library; throws when it cannot be loaded, which a probe reports as its
// reason.
const CurlLibrary& curl() {
    std::string why;
    if (const CurlLibrary* library = CurlLibrary::get(&why))
        return *library;
    throw std::runtime_error(why);
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl().easy_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl().slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* handle) const { curl().url_cleanup(handle); }
};

struct Body {
    std::string bytes;
    bool overflowed = false;
};

size_t collect(char* data, size_t size, size_t count, void* context) {
    auto* body = static_cast<Body*>(context);
    std::size_t n = size * count;
    if (body->bytes.size() + n > maximumBody) {
        body->overflowed = true;
        return 0; // ends the transfer
    }
    body->bytes.append(data, n);
    return n;
}

// A header value may not carry line breaks or other control characters: they would
// split it into headers of the caller's choosing.
bool fitsInHeader(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
    });
}

EndpointReachability classify(long status, const std::string& body) {
    if (status == 200)
        return EndpointReachability::reachable(EndpointProbe::modelIdentifiers(body));
    if (status == 401 || status == 403)
        return EndpointReachability::unauthorized();
    return EndpointReachability::unreachable("it answered with HTTP " + std::to_string(status));
}

const char* notHTTP = "the server sent a reply that was not HTTP";

} // namespace

EndpointProbe::EndpointProbe(Seconds timeout)
    : timeout_(timeout) {}

std::optional<std::string> EndpointProbe::modelsURL(const Url& baseURL) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl().url());
    if (!url || baseURL.absoluteString.find('\0') != std::string::npos ||
        curl().url_set(url.get(), CURLUPART_URL, baseURL.absoluteString.c_str(),
                       CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    char* raw = nullptr;
    std::string path = "/";
    if (curl().url_get(url.get(), CURLUPART_PATH, &raw, 0) == CURLUE_OK && raw) {
        path = raw;
        curl().free(raw);
    }
    path += path.ends_with('/') ? "models" : "/models";
    if (curl().url_set(url.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    if (curl().url_get(url.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK || !raw)
        return std::nullopt;
    std::string result(raw);
    curl().free(raw);
    return result;
}

std::vector<std::string> EndpointProbe::modelIdentifiers(std::string_view body) {
    auto document = json::parse(body);
    if (!document || !document->is_object())
        return {};
    auto data = document->find("data");
    if (data == document->end() || !data->is_array())
        return {};
    std::vector<std::string> identifiers;
    for (const Json& model : *data) {
        if (!model.is_object())
            return {};
        auto id = model.find("id");
        if (id == model.end() || !id->is_string())
            return {};
        identifiers.push_back(id->get<std::string>());
    }
    return identifiers;
}

std::string EndpointProbe::explain(const TransferError& error) {
    switch (error.code) {
    case CURLE_COULDNT_CONNECT:
        if (error.systemError == ENETUNREACH)
            return "this computer is offline";
        return "nothing is listening on that port";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "that host name does not resolve";
    case CURLE_OPERATION_TIMEDOUT:
        return "it did not answer in time";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return "the connection dropped";
    default:
        break;
    }
    std::string description = error.description;
    if (description.empty())
        description = curl().easy_strerror(static_cast<CURLcode>(error.code));
    while (!description.empty() && (description.back() == '\n' || description.back() == '.'))
        description.pop_back();
    return lowercased(description);
}

EndpointReachability EndpointProbe::probe(const Endpoint& endpoint,
                                          const std::optional<std::string>& apiKey) const noexcept {
    try {
        auto url = modelsURL(endpoint.baseURL);
        if (!url)
            return EndpointReachability::unreachable("its address is not a valid URL");
        std::string scheme = endpoint.baseURL.scheme();
        bool web = scheme == "http" || scheme == "https";

        std::unique_ptr<curl_slist, HeaderListDeleter> headers;
        auto addHeader = [&](const std::string& line) {
            curl_slist* list = curl().slist_append(headers.get(), line.c_str());
            if (!list)
                throw std::bad_alloc();
            headers.release();
            headers.reset(list);
        };
        if (apiKey) {
            if (!fitsInHeader(*apiKey))
                return EndpointReachability::unreachable(
                    "its API key holds a line break or another control character");
            addHeader("Authorization: Bearer " + *apiKey);
            // "Name;" is libcurl's spelling of a header sent with an empty value.
            addHeader(apiKey->empty() ? std::string("x-api-key;") : "x-api-key: " + *apiKey);
        }

        std::unique_ptr<CURL, EasyDeleter> easy(curl().easy_init());
        if (!easy)
            return EndpointReachability::unreachable("the HTTP client could not start");
        CURL* h = easy.get();
        Body body;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        long milliseconds = std::max(1L, std::lround(timeout_ * 1000.0));
        curl().easy_setopt(h, CURLOPT_URL, url->c_str());
        curl().easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl().easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl().easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl().easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl().easy_setopt(h, CURLOPT_TIMEOUT_MS, milliseconds);
        curl().easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, milliseconds);
        curl().easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        curl().easy_setopt(h, CURLOPT_USERAGENT, "Marrowbell");
        curl().easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl().easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
        curl().easy_setopt(h, CURLOPT_WRITEDATA, &body);
        curl().easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);

        CURLcode code = curl().easy_perform(h);
        long status = 0;
        curl().easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && body.overflowed && status > 0)) {
            if (status <= 0)
                return EndpointReachability::unreachable(notHTTP);
            return classify(status, body.overflowed ? std::string() : body.bytes);
        }
        // libcurl refuses a reply without an HTTP status line as HTTP/0.9
        // (unsupported protocol) or as a weird server reply.
        if (web && (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL))
            return EndpointReachability::unreachable(notHTTP);
        long systemError = 0;
        curl().easy_getinfo(h, CURLINFO_OS_ERRNO, &systemError);
        return EndpointReachability::unreachable(
            explain({static_cast<int>(code), static_cast<int>(systemError), errorBuffer}));
    } catch (const std::exception& failure) {
        return EndpointReachability::unreachable(lowercased(failure.what()));
    } catch (...) {
        return EndpointReachability::unreachable("the check failed unexpectedly");
    }
}

EndpointStatus EndpointProbe::check(const Endpoint& endpoint,
                                    const std::optional<std::string>& apiKey) const noexcept {
    EndpointReachability reachability = probe(endpoint, apiKey);
    return EndpointStatus{endpoint.id, endpoint.name, std::move(reachability), Instant::now()};
}

} // namespace marrowbell
