#include "platform/timed_fetcher.h"

namespace kestrel {

void FetchStats::record(double seconds, const FetchResult& result) {
    for (std::size_t i = 0; i < kFetchDurationBuckets.size(); ++i) {
        if (seconds <= kFetchDurationBuckets[i]) {
            ++inBucket[i];
            break;
        }
    }
    ++count;
    sumSeconds += seconds;
    if (!result.isSuccessStatus()) ++failures;
}

void TimedFetcher::start(const std::string& url, BodyForm form, Done done) {
    // The answer may come after this decorator is gone (a cancel on shutdown):
    // it keeps only what outlives it.
    m_inner.start(url, form,
                  [&clock = m_clock, &stats = m_stats, begin = m_clock.steadySeconds(),
                   done = std::move(done)](FetchResult result) {
                      stats.record(clock.steadySeconds() - begin, result);
                      done(std::move(result));
                  });
}

}  // namespace kestrel
