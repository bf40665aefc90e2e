#include "platform/curl_fetcher.h"

namespace kestrel {

struct CurlFetcher::Impl {};
CurlFetcher::CurlFetcher(long) : m_impl(std::make_unique<Impl>()) {}
CurlFetcher::~CurlFetcher() = default;
bool CurlFetcher::busy() const { return false; }
void CurlFetcher::cancel() {}
FetchResult CurlFetcher::fetch(const std::string&, BodyForm) { return {}; }

}  // namespace kestrel
