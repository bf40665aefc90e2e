#include "platform/curl_fetcher.h"

#include <curl/curl.h>

#include <atomic>

namespace kestrel {
namespace {

void initialiseCurlOnce() {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == 0; }();
    (void)initialised;
}

}  // namespace

struct CurlFetcher::Impl {
    long timeoutSeconds;
    CURL* handle = nullptr;
    std::atomic<bool> busy{false};
    std::atomic<bool> cancelled{false};
    std::string body;
    bool tooLarge = false;
    char errorText[CURL_ERROR_SIZE] = "";

    static size_t onData(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t bytes = size * count;
        if (self->cancelled) return 0;
        if (self->body.size() + bytes > kMaxFetchBody) {
            self->tooLarge = true;
            return 0;
        }
        self->body.append(data, bytes);
        return bytes;
    }

    // libcurl calls this about once a second even while no data arrives.
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Impl*>(user)->cancelled ? 1 : 0;
    }

    void setUp(const std::string& url) {
        curl_easy_reset(handle);
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
#else
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
        // Configured paths go out as written, "/../" included.
        curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(handle, CURLOPT_TIMEOUT, timeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_USERAGENT, "Kestrelfield");
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Impl::onData);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    }
};

std::string encodeForRequestLine(const std::string& url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '"' || c == '#') {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0f];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

CurlFetcher::CurlFetcher(long timeoutSeconds) : m_impl(std::make_unique<Impl>()) {
    initialiseCurlOnce();
    m_impl->timeoutSeconds = timeoutSeconds;
    m_impl->handle = curl_easy_init();
}

CurlFetcher::~CurlFetcher() {
    if (m_impl->handle) curl_easy_cleanup(m_impl->handle);
}

bool CurlFetcher::busy() const {
    return m_impl->busy;
}

void CurlFetcher::cancel() {
    if (m_impl->busy) m_impl->cancelled = true;
}

FetchResult CurlFetcher::fetch(const std::string& url, BodyForm) {
    FetchResult result;
    if (!m_impl->handle) {
        result.error = "HTTP client could not be set up";
        return result;
    }
    m_impl->cancelled = false;
    m_impl->busy = true;
    m_impl->body.clear();
    m_impl->tooLarge = false;
    m_impl->errorText[0] = '\0';
    m_impl->setUp(encodeForRequestLine(url));
    const CURLcode code = curl_easy_perform(m_impl->handle);
    if (code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(m_impl->handle, CURLINFO_RESPONSE_CODE, &status);
        result.ok = true;
        result.status = static_cast<int>(status);
        result.body = std::move(m_impl->body);
    } else if (m_impl->cancelled) {
        result.error = "request cancelled";
    } else if (m_impl->tooLarge) {
        result.error = "response body larger than " + std::to_string(kMaxFetchBody) + " bytes";
    } else {
        result.error = m_impl->errorText[0] ? m_impl->errorText : curl_easy_strerror(code);
    }
    m_impl->body.clear();
    m_impl->busy = false;
    return result;
}

}  // namespace kestrel
