#include "status/timeline_picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "station/time_format.h"
#include "status/html_text.h"
#include "status/week_picture.h"

namespace kestrel {
namespace {

using Kind = Timeline::Kind;

int numberField(const HistoryEntry& entry, std::string_view key) {
    const std::string_view text = entry.field(key);
    int value = -1;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string field(const HistoryEntry& entry, std::string_view key) {
    return std::string(entry.field(key));
}

// The mark an entry makes, if it makes one.
std::optional<Timeline::Mark> markOf(const HistoryEntry& e) {
    const std::string source = field(e, "source");
    const auto mark = [&](Kind kind, std::string text) {
        return Timeline::Mark{e.at, kind, std::move(text)};
    };
    const std::string& event = e.event;
    if (event == "switch") {
        const std::string cause = field(e, "cause");
        if (cause == "operator") return mark(Kind::Order, "Operator switched to source " + source);
        if (cause == "management")
            return mark(Kind::Order, "Management server switched to source " + source);
        return std::nullopt;
    }
    if (event == "api_switch_request")
        return mark(Kind::Order,
                    "API client " + field(e, "client") + " asked for source " + field(e, "key"));
    if (event == "web_order")
        return mark(Kind::Order, "Control room at " + field(e, "client") + " asked for source " +
                                     field(e, "key"));
    if (event == "mode") {
        const std::string mode = field(e, "mode") == "automatic" ? "AUTOMATIC" : "MANUAL";
        const std::string by = field(e, "origin") == "web"
                                   ? "the control room at " + field(e, "client")
                                   : "the operator";
        return mark(Kind::Order, mode + " by " + by);
    }
    if (event == "management_order_ignored")
        return mark(Kind::Order, "Management order \"" + field(e, "key") + "\" ignored (" +
                                     field(e, "reason") + ")");
    if (event == "schedule_downloaded")
        return mark(Kind::Order, "Management server wrote the schedule");
    if (event == "file_saved")
        return mark(Kind::Order,
                    field(e, "file") + " saved by the control room at " + field(e, "client"));
    if (event == "failure_declared")
        return mark(Kind::Failover, "Server of source " + source + " failed: source 0 on air");
    if (event == "failure_recovered")
        return mark(Kind::Failover, "Server of source " + source + " answers again");
    if (event == "player_outage")
        return mark(Kind::Outage, "Player of source " + source + " ended: started again");
    if (event == "stream_stall")
        return mark(Kind::Stall, "Stream of source " + source + " stalled: started again");
    if (event == "silence")
        return mark(Kind::Silence,
                    "Source " + source + " silent for " + field(e, "seconds") + " s");
    if (event == "silence_hold_ended")
        return mark(Kind::Silence, "Source " + source + " no longer held off for silence");
    if (event == "switch_failed")
        return mark(Kind::FailedSwitch, "Switch to source " + source + " failed (" +
                                            field(e, "cause") + "), source " + field(e, "on_air") +
                                            " played on");
    return std::nullopt;
}

// Picture units: one unit across per minute, lanes below the hour scale.
constexpr int kLabelWidth = 110;
constexpr int kScaleBottom = 30;
constexpr int kOnAirTop = 36, kOnAirHeight = 40;
constexpr int kOrdersTop = 86, kProblemsTop = 120, kMarkHeight = 24;
constexpr int kLevelTop = 156, kLevelHeight = 60;
constexpr int kHeight = kLevelTop + kLevelHeight + 6;
constexpr double kLowestDbfs = -60;

const char* markColour(Kind kind) {
    switch (kind) {
        case Kind::Order:
            return "#1f4fbf";
        case Kind::Failover:
            return "#ff7f00";
        case Kind::Outage:
            return "#d00000";
        case Kind::Stall:
            return "#8000c0";
        case Kind::Silence:
            return "#0090d0";
        case Kind::FailedSwitch:
            return "#800000";
    }
    return "#000";
}

double levelY(double dbfs) {
    const double along = (std::clamp(dbfs, kLowestDbfs, 0.0) - kLowestDbfs) / -kLowestDbfs;
    return kLevelTop + kLevelHeight * (1 - along);
}

}  // namespace

Timeline timelineOf(const History& history, double now, double span) {
    Timeline timeline;
    timeline.from = now - span;
    timeline.to = now;
    std::optional<Timeline::OnAir> open;
    const auto close = [&](double at) {
        if (!open) return;
        open->to = std::min(at, now);
        open->from = std::max(open->from, timeline.from);
        if (open->to > open->from) timeline.onAir.push_back(*open);
        open.reset();
    };
    const auto take = [&](const HistoryEntry& e) {
        if (e.at > now) return;
        if (e.event == "start") close(e.at);
        if (e.event == "switch") {
            close(e.at);
            open = Timeline::OnAir{e.at, now, numberField(e, "source"), field(e, "cause")};
        }
        if (e.at < timeline.from) return;
        if (e.event == "level") {
            const std::string_view rms = e.field("rms_dbfs");
            double value = 0;
            if (std::from_chars(rms.data(), rms.data() + rms.size(), value).ec == std::errc())
                timeline.levels.push_back({e.at, value});
        } else if (auto mark = markOf(e)) {
            timeline.marks.push_back(std::move(*mark));
        }
    };
    if (history.carried()) take(*history.carried());
    for (const HistoryEntry& entry : history.entries())
        take(entry);
    close(now);
    return timeline;
}

std::string timelinePicture(const Timeline& timeline, std::int64_t localOffset, int silenceLevel) {
    const double minutes = (timeline.to - timeline.from) / 60;
    const auto xOf = [&](double at) { return kLabelWidth + (at - timeline.from) / 60; };
    const auto clock = [&](double at) { return localClock(at, localOffset); };
    std::string svg = "<svg class=\"timeline\" viewBox=\"0 0 " +
                      svgNumber(kLabelWidth + minutes + 10) + " " + std::to_string(kHeight) +
                      "\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "
                      "aria-label=\"The last 24 hours\" font-family=\"sans-serif\" "
                      "font-size=\"20\">";

    // Hour lines in local time, labelled every three hours.
    const double firstHour =
        std::ceil((timeline.from + static_cast<double>(localOffset)) / 3600) * 3600 -
        static_cast<double>(localOffset);
    for (double at = firstHour; at <= timeline.to; at += 3600) {
        const std::string x = svgNumber(xOf(at));
        const std::string hour = clock(at).substr(0, 2);
        svg += "<line x1=\"" + x + "\" y1=\"" + std::to_string(kScaleBottom - 6) + "\" x2=\"" + x +
               "\" y2=\"" + std::to_string(kHeight) + "\" stroke=\"#ddd\"/>";
        if (std::stoi(hour) % 3 == 0)
            svg += "<text x=\"" + x + "\" y=\"20\" dx=\"3\" fill=\"#333\">" + hour + ":00</text>";
    }
    const auto laneLabel = [&](int top, const char* text) {
        svg += "<text x=\"0\" y=\"" + std::to_string(top + 19) + "\">" + text + "</text>";
    };
    laneLabel(kOnAirTop + 8, "On air");
    laneLabel(kOrdersTop, "Orders");
    laneLabel(kProblemsTop, "Faults");
    laneLabel(kLevelTop + 20, "Level");

    for (const auto& on : timeline.onAir) {
        const double x = xOf(on.from), w = (on.to - on.from) / 60;
        svg += "<g class=\"onair\" data-source=\"" + std::to_string(on.source) + "\"><title>" +
               htmlText(clock(on.from) + " to " + clock(on.to) + ": source " +
                        std::to_string(on.source) + " (" + on.cause + ")") +
               "</title><rect x=\"" + svgNumber(x) + "\" y=\"" + std::to_string(kOnAirTop) +
               "\" width=\"" + svgNumber(std::max(w, 0.5)) + "\" height=\"" +
               std::to_string(kOnAirHeight) + "\" fill=\"" + sourceColour(on.source) + "\"/>";
        if (w >= 24) {
            svg += "<text x=\"" + svgNumber(x + 5) + "\" y=\"" + std::to_string(kOnAirTop + 27) +
                   "\" fill=\"" + sourceTextColour(on.source) + "\">" + std::to_string(on.source) +
                   "</text>";
        }
        svg += "</g>";
    }

    // Marks of one kind within one minute share a place: a flapping source stays readable.
    std::map<std::pair<int, long>, std::vector<const Timeline::Mark*>> places;
    for (const auto& mark : timeline.marks) {
        places[{static_cast<int>(mark.kind),
                static_cast<long>(std::floor((mark.at - timeline.from) / 60))}]
            .push_back(&mark);
    }
    for (const auto& [place, marks] : places) {
        const Timeline::Mark& first = *marks.front();
        std::string title = clock(first.at) + " " + first.text;
        if (marks.size() > 1) title += " (and " + std::to_string(marks.size() - 1) + " more)";
        const int top = first.kind == Kind::Order ? kOrdersTop : kProblemsTop;
        svg += "<rect class=\"mark\" x=\"" + svgNumber(xOf(first.at) - 1.5) + "\" y=\"" +
               std::to_string(top) + "\" width=\"4\" height=\"" + std::to_string(kMarkHeight) +
               "\" fill=\"" + markColour(first.kind) + "\"><title>" + htmlText(title) +
               "</title></rect>";
    }

    // The level strip: a step per minute, broken where there was no data.
    std::string path;
    double lastEnd = -1;
    const std::string base = svgNumber(levelY(kLowestDbfs));
    for (const auto& level : timeline.levels) {
        const double x = xOf(level.at);
        if (std::abs(x - lastEnd) > 0.01) {
            if (!path.empty()) path += "V" + base;
            path += "M" + svgNumber(x) + " " + base;
        }
        path += "V" + svgNumber(levelY(level.rmsDbfs)) + "H" + svgNumber(x + 1);
        lastEnd = x + 1;
    }
    if (!path.empty()) {
        svg += "<path class=\"level\" d=\"" + path + "V" + base +
               "Z\" fill=\"#2ca02c\"><title>Mean RMS per minute, -60 to 0 dBFS</title></path>";
    }
    const std::string silenceY = svgNumber(levelY(silenceLevel));
    svg += "<line x1=\"" + std::to_string(kLabelWidth) + "\" y1=\"" + silenceY + "\" x2=\"" +
           svgNumber(kLabelWidth + minutes) + "\" y2=\"" + silenceY +
           "\" stroke=\"#d00000\" stroke-dasharray=\"6 4\"><title>Silence level " +
           std::to_string(silenceLevel) + " dBFS</title></line>";
    svg += "<rect x=\"" + std::to_string(kLabelWidth) + "\" y=\"" + std::to_string(kLevelTop) +
           "\" width=\"" + svgNumber(minutes) + "\" height=\"" + std::to_string(kLevelHeight) +
           "\" fill=\"none\" stroke=\"#bbb\"/>";
    return svg + "</svg>";
}

}  // namespace kestrel
