#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "platform/clock.h"
#include "platform/url_fetcher.h"

namespace kestrel {

/// Upper bounds, in seconds, of the fetch duration histogram's buckets; a
/// fetch gives up after 60 s.
inline constexpr std::array<double, 10> kFetchDurationBuckets = {0.05, 0.1, 0.25, 0.5, 1,
                                                                 2.5,  5,   10,   30,  60};

/// Durations and failures of one fetcher instance's requests.
struct FetchStats {
    std::array<std::uint64_t, kFetchDurationBuckets.size()> inBucket{};  ///< not cumulative
    std::uint64_t count = 0;
    double sumSeconds = 0;
    std::uint64_t failures = 0;  ///< no answer, or an answer outside 2xx

    void record(double seconds, const FetchResult& result);
};

/// Stats by fetcher purpose ("air", "management", "status_report", ...).
struct FetchMetrics {
    std::map<std::string, FetchStats> byFetcher;
};

/// A fetcher that measures another: the time from the start of each request
/// to its result goes into `stats`. Everything else is the inner fetcher's.
class TimedFetcher final : public UrlFetcher {
public:
    TimedFetcher(UrlFetcher& inner, const Clock& clock, FetchStats& stats)
        : m_inner(inner), m_clock(clock), m_stats(stats) {}

    bool busy() const override { return m_inner.busy(); }
    void cancel() override { m_inner.cancel(); }
    /// A request cancelled before its answer counts as failed.
    void start(const std::string& url, BodyForm form, Done done) override;

private:
    UrlFetcher& m_inner;
    const Clock& m_clock;
    FetchStats& m_stats;
};

}  // namespace kestrel
