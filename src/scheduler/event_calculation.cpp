#include "scheduler/event_calculation.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/text_lines.h"
#include "station/time_format.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// Marks an empty candidate; above every real time value.
constexpr int kNoTime = 999999;

struct Candidate {
    int weekday = -1;
    int time = -1;
    char source = ' ';

    std::string eventText() const {
        return std::to_string(weekday) + " " + zeroPadded(time, 6) + " " + source;
    }
};

class EventSearch {
public:
    EventSearch(int today, int now) : m_today(today), m_tomorrow(today % 7 + 1), m_now(now) {
        m_next.time = kNoTime;
        m_firstOfTomorrow.time = kNoTime;
    }

    void consider(const EventLine& e) {
        if (e.weekday == m_today && e.time < m_now && e.time > m_last.time) {
            m_last = {e.weekday, e.time, e.source};
        }
        if (e.weekday == m_today && e.time > m_now && e.time < m_next.time) {
            m_next = {e.weekday, e.time, e.source};
        }
        if (!hasNext() && e.weekday == m_tomorrow && e.time < m_firstOfTomorrow.time) {
            m_firstOfTomorrow = {m_tomorrow, e.time, e.source};
        }
    }

    void finish() {
        if (!hasNext() && m_firstOfTomorrow.time != kNoTime) m_next = m_firstOfTomorrow;
    }

    bool hasLast() const { return m_last.weekday != -1; }
    bool hasNext() const { return m_next.weekday != -1; }
    const Candidate& last() const { return m_last; }
    const Candidate& next() const { return m_next; }

private:
    int m_today;
    int m_tomorrow;
    int m_now;
    Candidate m_last;
    Candidate m_next;
    Candidate m_firstOfTomorrow;
};

}  // namespace

bool parseEventLine(std::string_view line, EventLine& event) {
    if (line.size() != kEventLineLength || line[0] == ';' || line[1] != ' ') return false;
    event.weekday = leadingNumber(line.substr(0, 1));
    event.time = leadingNumber(line.substr(2, 6));
    event.source = line[9];
    return true;
}

std::vector<WeekEvent> weekEvents(std::string_view text) {
    std::vector<WeekEvent> events;
    std::size_t number = 0;
    for (const std::string& line : splitLines(text)) {
        ++number;
        EventLine event;
        if (!parseEventLine(line, event) || event.weekday < 1 || event.weekday > 7 ||
            !isTimeOfDay(event.time)) {
            continue;
        }
        const int source = event.source >= '0' && event.source <= '9' ? event.source - '0' : 0;
        events.push_back({event.weekday, event.time, source, number});
    }
    // The search's comparisons are strict: of one day and second, the earliest line wins.
    std::stable_sort(events.begin(), events.end(), [](const WeekEvent& a, const WeekEvent& b) {
        return a.weekday != b.weekday ? a.weekday < b.weekday : a.time < b.time;
    });
    events.erase(std::unique(events.begin(), events.end(),
                             [](const WeekEvent& a, const WeekEvent& b) {
                                 return a.weekday == b.weekday && a.time == b.time;
                             }),
                 events.end());
    return events;
}

int leadingNumber(std::string_view text) {
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

std::string_view textPart(std::string_view text, std::size_t first, std::size_t count) {
    if (first == 0 || first > text.size()) return {};
    return text.substr(first - 1, count);
}

const char* eventDayName(char weekdayDigit) {
    static constexpr const char* kNames[] = {"Sun", "Mon", "Tus", "Wed", "Thu", "Fri", "Sat"};
    if (weekdayDigit < '1' || weekdayDigit > '7') return "Error";
    return kNames[weekdayDigit - '1'];
}

std::string nextEventCaption(std::string_view eventText) {
    const char weekday = eventText.empty() ? ' ' : eventText.front();
    std::string caption = "Next switch on ";
    caption += eventDayName(weekday);
    caption += " at ";
    caption += textPart(eventText, 3, 6);
    caption += " to source ";
    caption += textPart(eventText, 10, 1);
    return caption;
}

namespace {

// The schedule's event lines; nullopt when it cannot be read.
std::optional<std::vector<EventLine>> readSchedule(const Station& station) {
    std::ifstream in(station.file(kScheduleFile), std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<EventLine> events;
    forEachLine(in, [&](std::string_view line) {
        EventLine event;
        if (parseEventLine(line, event)) events.push_back(event);
        return true;
    });
    return events;
}

// Every event of the schedule due within the next 12 s of `now`, or in the
// second just gone, as event texts.
std::vector<std::string> eventsDueSoon(const std::vector<EventLine>& events,
                                       const LocalDateTime& now) {
    constexpr int kSecondsPerWeek = 7 * 86400;
    constexpr int kSoonSeconds = 12;
    std::vector<std::string> soon;
    const int nowInWeek = (now.weekday - 1) * 86400 + now.secondsSinceMidnight();
    for (const EventLine& e : events) {
        const int hour = e.time / 10000, minute = e.time / 100 % 100, second = e.time % 100;
        if (e.weekday < 1 || e.weekday > 7 || hour > 23 || minute > 59 || second > 59) continue;
        const int inWeek = (e.weekday - 1) * 86400 + hour * 3600 + minute * 60 + second;
        const int ahead =
            ((inWeek - nowInWeek) % kSecondsPerWeek + kSecondsPerWeek) % kSecondsPerWeek;
        if (ahead <= kSoonSeconds || ahead >= kSecondsPerWeek - 1)
            soon.push_back(Candidate{e.weekday, e.time, e.source}.eventText());
    }
    return soon;
}

}  // namespace

void tmrLoadEventsAndCalculate(Station& station) {
    auto& state = station.state;
    auto& display = station.display;
    tolerate([&] {
        const LocalDateTime now = station.now();
        // The minute of NextEvent is frozen so that the executor can fire it all minute long.
        const auto events = readSchedule(station);
        if (!events) return;
        state.SoonEvents = eventsDueSoon(*events, now);
        const std::string hhmm = zeroPadded(now.hour, 2) + zeroPadded(now.minute, 2);
        if (textPart(state.NextEvent, 3, 4) == hhmm) return;
        EventSearch search(now.weekday, now.hour * 10000 + now.minute * 100 + now.second);
        for (const EventLine& event : *events)
            search.consider(event);
        search.finish();
        if (search.hasLast()) state.LastEvent = search.last().eventText();
        if (search.hasNext()) state.NextEvent = search.next().eventText();
    });
    tolerate([&] { display.lblLastEvent.caption = "Last Switch: " + state.LastEvent; });
    tolerate([&] { display.lblNextEvent.caption = nextEventCaption(state.NextEvent); });
}

}  // namespace kestrel
