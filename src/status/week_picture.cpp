#include "status/week_picture.h"

#include <cstdio>

#include "station/time_format.h"
#include "status/html_text.h"

namespace kestrel {
namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kSecondsPerWeek = 7 * kSecondsPerDay;
// The picture's units: a minute of the day is one unit across.
constexpr int kLabelWidth = 90;
constexpr int kTop = 34;
constexpr int kRowHeight = 40;
constexpr int kRowGap = 6;

constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

int secondsOfDay(int hhmmss) {
    return hhmmss / 10000 * 3600 + hhmmss / 100 % 100 * 60 + hhmmss % 100;
}

int weekSecond(const WeekEvent& event) {
    return (event.weekday - 1) * kSecondsPerDay + secondsOfDay(event.time);
}

std::string sourceTitle(int source, const SourceTable& sources) {
    std::string title = "source " + std::to_string(source);
    if (!sources.names[source].empty()) title += " " + sources.names[source];
    return title;
}

std::string clockText(int seconds) {
    return zeroPadded(seconds / 3600, 2) + ":" + zeroPadded(seconds / 60 % 60, 2) + ":" +
           zeroPadded(seconds % 60, 2);
}

}  // namespace

std::string svgNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string shown = text;
    if (shown.ends_with(".0")) shown.resize(shown.size() - 2);
    return shown;
}

const char* sourceColour(int source) {
    static constexpr const char* kColours[] = {"#8c8c8c", "#1f77b4", "#ff7f0e", "#2ca02c",
                                               "#d62728", "#9467bd", "#8c564b", "#e377c2",
                                               "#bcbd22", "#17becf"};
    return source >= 0 && source <= 9 ? kColours[source] : "#444444";
}

const char* sourceTextColour(int source) {
    return source == 2 || source == 8 || source == 9 ? "#000000" : "#ffffff";
}

std::string eventMoment(const WeekEvent& event) {
    static constexpr const char* kShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    return std::string(kShort[event.weekday - 1]) + " " + clockText(secondsOfDay(event.time));
}

std::vector<WeekStretch> weekStretches(const std::vector<WeekEvent>& events) {
    std::vector<WeekStretch> stretches;
    if (events.empty()) return stretches;
    // The week's last event plays on from Sunday midnight until the first one.
    const auto add = [&](const WeekEvent& event, int from, int to) {
        while (from < to) {
            const int day = from / kSecondsPerDay;
            const int end = std::min(to, (day + 1) * kSecondsPerDay);
            stretches.push_back({day % 7 + 1, from - day * kSecondsPerDay,
                                 end - day * kSecondsPerDay, event.source, event});
            from = end;
        }
    };
    add(events.back(), 0, weekSecond(events.front()));
    for (std::size_t i = 0; i < events.size(); ++i) {
        const int to = i + 1 < events.size() ? weekSecond(events[i + 1]) : kSecondsPerWeek;
        add(events[i], weekSecond(events[i]), to);
    }
    return stretches;
}

std::optional<WeekEvent> nextWeekEvent(const std::vector<WeekEvent>& events,
                                       const LocalDateTime& now) {
    if (events.empty()) return std::nullopt;
    const int nowInWeek = (now.weekday - 1) * kSecondsPerDay + now.secondsSinceMidnight();
    for (const WeekEvent& event : events) {
        if (weekSecond(event) > nowInWeek) return event;
    }
    return events.front();
}

std::string weekPicture(const std::vector<WeekEvent>& events, const SourceTable& sources,
                        const LocalDateTime& now) {
    const int width = kLabelWidth + 1440;
    const int height = kTop + 7 * (kRowHeight + kRowGap);
    std::string svg = "<svg class=\"week\" viewBox=\"0 0 " + std::to_string(width) + " " +
                      std::to_string(height) +
                      "\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "
                      "aria-label=\"The week's schedule\" font-family=\"sans-serif\" "
                      "font-size=\"20\">";
    for (int hour = 0; hour <= 24; ++hour) {
        const std::string x = std::to_string(kLabelWidth + hour * 60);
        svg += "<line x1=\"" + x + "\" y1=\"" + std::to_string(kTop - 6) + "\" x2=\"" + x +
               "\" y2=\"" + std::to_string(height) + "\" stroke=\"" +
               (hour % 6 == 0 ? "#999" : "#ddd") + "\"/>";
        if (hour % 3 == 0 && hour < 24) {
            svg += "<text x=\"" + x + "\" y=\"22\" dx=\"3\" fill=\"#333\">" + zeroPadded(hour, 2) +
                   ":00</text>";
        }
    }
    const auto rowTop = [](int weekday) { return kTop + (weekday - 1) * (kRowHeight + kRowGap); };
    for (int day = 1; day <= 7; ++day) {
        svg += "<text x=\"0\" y=\"" + std::to_string(rowTop(day) + 27) + "\"" +
               (day == now.weekday ? " font-weight=\"bold\"" : "") + ">" +
               std::string(kDayNames[day - 1]).substr(0, 3) + "</text>";
    }
    for (const WeekStretch& s : weekStretches(events)) {
        const double x = kLabelWidth + s.from / 60.0;
        const double w = (s.to - s.from) / 60.0;
        const std::string title = eventMoment(s.event) + " (line " + std::to_string(s.event.line) +
                                  "): " + sourceTitle(s.source, sources) + ", from " +
                                  clockText(s.from) + " to " + clockText(s.to);
        svg += "<g class=\"stretch\" data-day=\"" + std::to_string(s.weekday) +
               "\" data-source=\"" + std::to_string(s.source) + "\" data-from=\"" +
               std::to_string(s.from) + "\"><title>" + htmlText(title) + "</title><rect x=\"" +
               svgNumber(x) + "\" y=\"" + std::to_string(rowTop(s.weekday)) + "\" width=\"" +
               svgNumber(w) + "\" height=\"" + std::to_string(kRowHeight) + "\" fill=\"" +
               sourceColour(s.source) + "\" stroke=\"#fff\" stroke-width=\"1\"/>";
        if (w >= 24) {
            svg += "<text x=\"" + svgNumber(x + 5) + "\" y=\"" +
                   std::to_string(rowTop(s.weekday) + 27) + "\" fill=\"" +
                   sourceTextColour(s.source) + "\">" + std::to_string(s.source) + "</text>";
        }
        svg += "</g>";
    }
    if (const auto next = nextWeekEvent(events, now)) {
        const double x = kLabelWidth + secondsOfDay(next->time) / 60.0;
        svg += "<circle class=\"next\" cx=\"" + svgNumber(x) + "\" cy=\"" +
               std::to_string(rowTop(next->weekday) + kRowHeight / 2) +
               "\" r=\"9\" fill=\"none\" stroke=\"#000\" stroke-width=\"3\"><title>Next: " +
               htmlText(eventMoment(*next) + " " + sourceTitle(next->source, sources)) +
               "</title></circle>";
    }
    const double nowX = kLabelWidth + now.secondsSinceMidnight() / 60.0;
    const int nowTop = rowTop(now.weekday) - 4;
    svg += "<line class=\"now\" x1=\"" + svgNumber(nowX) + "\" y1=\"" + std::to_string(nowTop) +
           "\" x2=\"" + svgNumber(nowX) + "\" y2=\"" + std::to_string(nowTop + kRowHeight + 8) +
           "\" stroke=\"#e00000\" stroke-width=\"4\"><title>Now</title></line>";
    if (events.empty()) {
        svg += "<text x=\"" + std::to_string(kLabelWidth + 20) + "\" y=\"" +
               std::to_string(kTop + 3 * (kRowHeight + kRowGap) + 27) +
               "\">No events: nothing switches on schedule</text>";
    }
    return svg + "</svg>";
}

}  // namespace kestrel
