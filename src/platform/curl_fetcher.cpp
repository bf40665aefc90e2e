#include "platform/curl_fetcher.h"

#include <curl/curl.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

void initialiseCurlOnce() {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == 0; }();
    (void)initialised;
}

FetchResult failure(std::string error) {
    FetchResult result;
    result.error = std::move(error);
    return result;
}

}  // namespace

struct CurlFetcher::Impl {
    CurlMulti::Impl& multi;
    long timeoutSeconds;
    CURL* handle = nullptr;
    bool busy = false;
    std::uint64_t generation = 0;  // tells a finished transfer from a newer one
    Done done;
    std::string body;
    bool tooLarge = false;
    char errorText[CURL_ERROR_SIZE] = "";

    Impl(CurlMulti::Impl& multiIn, long timeout) : multi(multiIn), timeoutSeconds(timeout) {}

    static size_t onData(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t bytes = size * count;
        if (self->body.size() + bytes > kMaxFetchBody) {
            self->tooLarge = true;
            return 0;
        }
        self->body.append(data, bytes);
        return bytes;
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
        curl_easy_setopt(handle, CURLOPT_PRIVATE, this);
    }

    FetchResult resultOf(CURLcode code) {
        if (code == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
            FetchResult result;
            result.ok = true;
            result.status = static_cast<int>(status);
            result.body = std::move(body);
            return result;
        }
        if (tooLarge) {
            return failure("response body larger than " + std::to_string(kMaxFetchBody) + " bytes");
        }
        return failure(errorText[0] ? errorText : curl_easy_strerror(code));
    }

    void detach();
    void finish(FetchResult result) {
        detach();
        body.clear();
        busy = false;
        std::exchange(done, {})(std::move(result));
    }
};

struct CurlMulti::Impl {
    EventLoop& loop;
    CURLM* multi = nullptr;
    EventLoop::CallId timer = 0;

    explicit Impl(EventLoop& loopIn) : loop(loopIn) {
        initialiseCurlOnce();
        multi = curl_multi_init();
        if (!multi) return;
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::onSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::onTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    }

    ~Impl() {
        loop.cancelCall(timer);
        if (multi) curl_multi_cleanup(multi);
    }

    // curl asks to watch a socket, or to stop; the loop reports readiness later.
    static int onSocket(CURL*, curl_socket_t socket, int what, void* user, void*) {
        auto* self = static_cast<Impl*>(user);
        if (what == CURL_POLL_REMOVE) {
            self->loop.unwatch(socket);
        } else {
            self->loop.watch(socket, what & CURL_POLL_IN, what & CURL_POLL_OUT,
                             [self, socket](bool readable, bool writable) {
                                 self->act(socket, (readable ? CURL_CSELECT_IN : 0) |
                                                       (writable ? CURL_CSELECT_OUT : 0));
                             });
        }
        return 0;
    }

    // curl asks for one time-out; -1 removes it. Never act from inside curl.
    static int onTimer(CURLM*, long milliseconds, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->loop.cancelCall(std::exchange(self->timer, 0));
        if (milliseconds >= 0) {
            self->timer = self->loop.callAfter(static_cast<double>(milliseconds) / 1000.0, [self] {
                self->timer = 0;
                self->act(CURL_SOCKET_TIMEOUT, 0);
            });
        }
        return 0;
    }

    void act(curl_socket_t socket, int events) {
        int running = 0;
        curl_multi_socket_action(multi, socket, events, &running);
        finishDone();
    }

    // Answers are handed out only after curl has returned: a handler that
    // resumes may start its next request at once.
    void finishDone() {
        struct Finished {
            CurlFetcher::Impl* fetcher;
            std::uint64_t generation;
            CURLcode code;
        };
        std::vector<Finished> finished;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            char* owner = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
            auto* fetcher = reinterpret_cast<CurlFetcher::Impl*>(owner);
            if (fetcher) finished.push_back({fetcher, fetcher->generation, message->data.result});
        }
        for (const auto& one : finished) {
            // An earlier answer's handler may have cancelled or restarted this fetcher.
            if (!one.fetcher->busy || one.fetcher->generation != one.generation) continue;
            one.fetcher->finish(one.fetcher->resultOf(one.code));
        }
    }
};

void CurlFetcher::Impl::detach() {
    if (multi.multi && handle) curl_multi_remove_handle(multi.multi, handle);
}

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

CurlMulti::CurlMulti(EventLoop& loop) : m_impl(std::make_unique<Impl>(loop)) {}

CurlMulti::~CurlMulti() = default;

CurlFetcher::CurlFetcher(CurlMulti& multi, long timeoutSeconds)
    : m_impl(std::make_unique<Impl>(*multi.m_impl, timeoutSeconds)) {
    initialiseCurlOnce();
    m_impl->handle = curl_easy_init();
}

CurlFetcher::~CurlFetcher() {
    if (m_impl->busy) m_impl->detach();
    if (m_impl->handle) curl_easy_cleanup(m_impl->handle);
}

bool CurlFetcher::busy() const {
    return m_impl->busy;
}

void CurlFetcher::cancel() {
    if (m_impl->busy) m_impl->finish(failure("request cancelled"));
}

void CurlFetcher::start(const std::string& url, BodyForm, Done done) {
    if (m_impl->busy) cancel();
    auto& impl = *m_impl;
    if (!impl.handle || !impl.multi.multi) {
        done(failure("HTTP client could not be set up"));
        return;
    }
    impl.body.clear();
    impl.tooLarge = false;
    impl.errorText[0] = '\0';
    impl.setUp(encodeForRequestLine(url));
    impl.done = std::move(done);
    impl.busy = true;
    ++impl.generation;
    const CURLMcode added = curl_multi_add_handle(impl.multi.multi, impl.handle);
    if (added != CURLM_OK) impl.finish(failure(curl_multi_strerror(added)));
}

}  // namespace kestrel
