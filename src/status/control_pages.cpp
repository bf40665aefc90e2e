#include "status/control_pages.h"

#include <algorithm>

#include "check/station_check.h"
#include "platform/file_io.h"
#include "playback/source_list.h"
#include "scheduler/event_calculation.h"
#include "station/time_format.h"
#include "status/html_text.h"
#include "status/timeline_picture.h"
#include "status/week_picture.h"

namespace kestrel {
namespace {

struct NavItem {
    const char* path;
    const char* name;
};
constexpr NavItem kNav[] = {{"/control", "Control"},
                            {"/control/week", "Week"},
                            {"/control/timeline", "Look back"},
                            {"/control/sources", "Sources"}};

std::string hidden(std::string_view name, std::string_view value) {
    return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + htmlText(value) +
           "\">";
}

// A whole page: the navigation (for a viewer), `body` in <main>, the script.
std::string page(std::string_view title, std::string_view current, const PageViewer* viewer,
                 std::string_view body, bool reload = false) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" +
        std::string(title) +
        " - Kestrelfield</title><link rel=\"icon\" href=\"data:,\">"
        "<link rel=\"stylesheet\" href=\"/control/control.css\"></head><body" +
        (reload ? " data-reload=\"1\"" : "") + ">";
    if (viewer) {
        html += "<nav>";
        for (const NavItem& item : kNav) {
            html += "<a href=\"" + std::string(item.path) + "\" data-keep" +
                    (current == item.path ? " aria-current=\"page\"" : "") + ">" + item.name +
                    "</a>";
        }
        if (viewer->loggedIn) {
            html += "<form method=\"post\" action=\"/control/logout\">" +
                    hidden("csrf", viewer->csrf) + "<button>Log out</button></form>";
        } else {
            html += "<a href=\"/control/login\">Log in</a>";
        }
        html += "</nav>";
    }
    html += "<main>";
    html += body;
    html += "</main><script src=\"/control/control.js\"></script></body></html>\n";
    return html;
}

SourceTable sourcesOf(const Station& station) {
    std::string bytes;
    readWholeFile(station.file(kSourceListFile), bytes);
    return lookupDigitSources(bytes);
}

std::string swatch(const char* colour) {
    return std::string(
               "<svg width=\"14\" height=\"14\" aria-hidden=\"true\"><rect width=\"14\" "
               "height=\"14\" fill=\"") +
           colour + "\"/></svg>";
}

std::string sourceLegend(const SourceTable& sources) {
    std::string html = "<ul class=\"legend\">";
    for (int n = 0; n <= 9; ++n) {
        if (sources.names[n].empty() && sources.addresses[n].empty()) continue;
        html += "<li>" + swatch(sourceColour(n)) + std::to_string(n) + " " +
                htmlText(sources.names[n]) + "</li>";
    }
    return html + "</ul>";
}

std::string findingsList(const Findings& findings, std::string_view id) {
    if (findings.count() == 0)
        return "<p id=\"" + std::string(id) + "\">No findings: every line reads as meant.</p>";
    std::string html = "<ul class=\"findings\" id=\"" + std::string(id) + "\">";
    for (const Finding& finding : findings.shown()) {
        html += "<li><b>" +
                (finding.line == 0 ? std::string("file") : "line " + std::to_string(finding.line)) +
                "</b> " + htmlText(finding.message) + "</li>";
    }
    if (findings.count() > findings.shown().size()) {
        html +=
            "<li>and " + std::to_string(findings.count() - findings.shown().size()) + " more</li>";
    }
    return html + "</ul>";
}

// "08:31:00 (12 minutes ago)" for a moment of the last days.
std::string momentAgo(const Station& station, double epochSeconds) {
    const double age = std::max(0.0, station.platform.clock.epochSeconds() - epochSeconds);
    const auto minutes = static_cast<long>(age / 60);
    const std::string ago = minutes < 120 ? std::to_string(minutes) + " minutes ago"
                                          : std::to_string(minutes / 60) + " hours ago";
    return localClock(epochSeconds, localOffset(station.platform.clock)) + " (" + ago + ")";
}

std::string editorSection(const PageViewer& viewer, const EditorView& editor,
                          std::string_view help) {
    std::string html =
        "<section class=\"panel wide\" id=\"editor\"><h2>Edit " + htmlText(editor.file) + "</h2>";
    if (!editor.notice.empty()) {
        html += std::string("<p class=\"notice") + (editor.problem ? " problem" : "") +
                "\" id=\"notice\">" + htmlText(editor.notice) + "</p>";
    }
    html += "<p>" + std::string(help) + "</p>";
    html += "<form method=\"post\" action=\"/control/save\">" + hidden("csrf", viewer.csrf) +
            hidden("file", editor.file) + hidden("version", editor.version) +
            "<textarea name=\"text\" id=\"text\" spellcheck=\"false\" autocapitalize=\"off\" "
            "autocomplete=\"off\" aria-label=\"" +
            htmlText(editor.file) + "\">\n" + htmlText(editor.text) +
            "</textarea><div class=\"row\"><button name=\"action\" value=\"check\" "
            "id=\"check\">Check</button><button class=\"go\" name=\"action\" value=\"save\" "
            "id=\"save\">Save</button></div></form>";
    if (editor.checked) {
        html += "<h2>The checks on this text</h2>" + findingsList(editor.findings, "textFindings");
    }
    return html + "</section>";
}

}  // namespace

std::string loginPage(std::string_view notice) {
    std::string body =
        "<section class=\"panel login\"><h1>Kestrelfield control room</h1>"
        "<form method=\"post\" action=\"/control/login\"><label for=\"key\">API key</label>"
        "<input type=\"password\" name=\"key\" id=\"key\" autocomplete=\"current-password\" "
        "autofocus required><button class=\"go\" id=\"login\">Log in</button></form>";
    if (!notice.empty())
        body += "<p class=\"notice problem\" id=\"notice\">" + htmlText(notice) + "</p>";
    body += "<p>The key is the station's <code>APIKey</code>. A login lasts 12 hours.</p>";
    return page("Log in", "", nullptr, body + "</section>");
}

std::string controlPage(const Station& station, const PageViewer& viewer) {
    std::string body =
        "<div id=\"lost\">No answer from the station: the page shows its last known state.</div>"
        "<div id=\"unwritable\"></div><div class=\"panels\">"
        "<section class=\"panel wide onair\"><span id=\"lblSourceDisp\"></span><div>"
        "<div id=\"lblStudio\"></div><div class=\"rows\"><span>Address:</span>"
        "<span id=\"lblCurrentSource\"></span><span>Pending:</span><span id=\"pending\"></span>"
        "</div><span id=\"lblPendingSource\" class=\"line\"></span></div></section>"
        "<section class=\"panel\"><h2>Operate</h2><div class=\"row\">Mode: "
        "<span id=\"cmdAutoManual\" class=\"mode\"></span></div>";
    if (viewer.loggedIn) {
        const SourceTable sources = sourcesOf(station);
        std::string options = "<option value=\"\">Choose a source</option>";
        for (int n = 0; n <= 9; ++n) {
            if (sources.addresses[n].empty()) continue;
            options += "<option value=\"" + std::to_string(n) + "\">" + std::to_string(n) + " " +
                       htmlText(sources.names[n]) + "</option>";
        }
        body +=
            "<form class=\"order\" id=\"switchForm\" method=\"post\" action=\"/control/switch\" "
            "data-asking=\"Switching to source %...\" data-field=\"source\">" +
            hidden("csrf", viewer.csrf) +
            "<select name=\"source\" id=\"source\" required aria-label=\"Source\">" + options +
            "</select><button class=\"go\" id=\"switch\">Switch now</button></form>"
            "<form class=\"order\" id=\"modeForm\" method=\"post\" action=\"/control/mode\" "
            "data-asking=\"Asking for % mode...\" data-field=\"mode\">" +
            hidden("csrf", viewer.csrf) + hidden("mode", "manual") +
            "<button id=\"modeButton\">Switch to MANUAL</button></form>"
            "<p id=\"answer\" role=\"status\"></p>";
    } else {
        body += "<p><a href=\"/control/login\">Log in</a> to switch sources and the mode.</p>";
    }
    body +=
        "</section><section class=\"panel\"><h2>Players and sound</h2>"
        "<div class=\"rows\"><span>Player:</span><span id=\"lblMplayer\"></span>"
        "<span>Players running:</span><span><span id=\"lblMplayer1\"></span> "
        "<span id=\"lblMplayer2\"></span></span></div>"
        "<span id=\"lblSilence\" class=\"line\"></span><span id=\"lblOutput\" "
        "class=\"line\"></span>"
        "<div id=\"meter\"><span id=\"meterTitle\">On air: no data</span><div id=\"meterBars\">"
        "</div></div></section>"
        "<section class=\"panel\"><h2>Source failure detector</h2><div><span id=\"lblFail\" "
        "class=\"lamp\"></span><b id=\"lblFailText\"></b></div><span id=\"lblFailURL\" "
        "class=\"line\"></span><span id=\"lblFailCheckTime\" class=\"line\"></span></section>"
        "<section class=\"panel\"><h2>Schedule</h2><div><b id=\"lblClock\"></b> "
        "<span id=\"lblDate\"></span></div><span id=\"lblLastEvent\" class=\"line\"></span>"
        "<span id=\"lblNextEvent\" class=\"line\"></span></section>"
        "<section class=\"panel\"><h2>Stream</h2><div class=\"rows\"><span>Title:</span>"
        "<span id=\"lblRXmetadata\"></span><span>Name:</span><span id=\"lblStreamName\"></span>"
        "<span>Bitrate:</span><span id=\"lblStreamBitrate\"></span><span>Received:</span>"
        "<span id=\"lblStreamReceived\"></span></div></section></div>";
    return page("Control room", "/control", &viewer, body);
}

std::string weekPage(const Station& station, const PageViewer& viewer, const EditorView& editor) {
    std::string bytes;
    const bool readable = readWholeFile(station.file(kScheduleFile), bytes);
    const std::vector<WeekEvent> events = weekEvents(bytes);
    const SourceTable sources = sourcesOf(station);
    std::string body = "<h1>The week</h1><p id=\"next\">";
    if (const auto next = nextWeekEvent(events, station.now())) {
        body += "Next: <b>" + eventMoment(*next) + "</b>, source " + std::to_string(next->source) +
                " " + htmlText(sources.names[next->source]);
    } else {
        body += readable ? "The schedule has no event that fires."
                         : "There is no schedule file: nothing switches on schedule.";
    }
    body += "</p>";
    if (station.counters.scheduleDownloaded > 0) {
        body +=
            "<p class=\"notice\" id=\"managed\">The management server last wrote the schedule "
            "at " +
            momentAgo(station, station.counters.scheduleDownloaded) + ".</p>";
    } else if (station.state.ManagementUpdate > 0) {
        body +=
            "<p class=\"notice\" id=\"managed\">The management server replaces the schedule "
            "every " +
            std::to_string(station.state.ManagementUpdate) +
            " minutes; it has not written it since the station started.</p>";
    }
    body += "<div class=\"picture\">" + weekPicture(events, sources, station.now()) + "</div>" +
            sourceLegend(sources) + "<div class=\"panels\"><section class=\"panel wide\">" +
            "<h2>What the checks find in " + std::string(kScheduleFile) + "</h2>" +
            findingsList(checkFileText(station.platform.workdir, kScheduleFile, bytes),
                         "fileFindings") +
            "</section>";
    if (viewer.loggedIn) {
        body += editorSection(
            viewer, editor,
            "One event a line, exactly 10 characters: the weekday (1 Sunday to 7 Saturday), a "
            "blank, the time HHMMSS, a blank, the source. <code>2 083000 3</code> switches to "
            "source 3 on Mondays at 08:30:00. A line beginning with ; is a comment. The "
            "station reads the file within 10 seconds of a save.");
    }
    return page("The week", "/control/week", &viewer, body + "</div>");
}

std::string sourcesPage(const Station& station, const PageViewer& viewer,
                        const EditorView& editor) {
    std::string bytes;
    readWholeFile(station.file(kSourceListFile), bytes);
    const SourceTable sources = lookupDigitSources(bytes);
    std::string body =
        "<h1>Sources</h1><div class=\"panels\"><section class=\"panel wide\"><table "
        "id=\"sources\"><tr><th>Source</th><th>Name</th><th>Address</th></tr>";
    for (int n = 0; n <= 9; ++n) {
        if (sources.names[n].empty() && sources.addresses[n].empty()) continue;
        body += "<tr><td>" + swatch(sourceColour(n)) + " " + std::to_string(n) + "</td><td>" +
                htmlText(sources.names[n]) + "</td><td>" + htmlText(sources.addresses[n]) +
                "</td></tr>";
    }
    body += "</table></section><section class=\"panel wide\"><h2>What the checks find in " +
            std::string(kSourceListFile) + "</h2>" +
            findingsList(checkFileText(station.platform.workdir, kSourceListFile, bytes),
                         "fileFindings") +
            "</section>";
    if (viewer.loggedIn) {
        body += editorSection(viewer, editor,
                              "Two lines a source, 0 to 9: <code>1n:Name</code> and "
                              "<code>1u:http://host:port/path</code>. Source 0 is the backup. "
                              "A switch reads the file afresh.");
    }
    return page("Sources", "/control/sources", &viewer, body + "</div>");
}

std::string timelinePage(const Station& station, const PageViewer& viewer) {
    const double now = station.platform.clock.epochSeconds();
    const std::int64_t offset = localOffset(station.platform.clock);
    const Timeline timeline = timelineOf(station.history, now);
    std::string body =
        "<h1>The last 24 hours</h1><div class=\"picture\">" +
        timelinePicture(timeline, offset, station.state.SilenceLevel) +
        "</div><ul class=\"legend\"><li>" + swatch("#1f4fbf") + "order</li><li>" +
        swatch("#ff7f00") + "failover</li><li>" + swatch("#d00000") + "player outage</li><li>" +
        swatch("#8000c0") + "stall</li><li>" + swatch("#0090d0") + "silence</li><li>" +
        swatch("#800000") + "failed switch</li></ul>" + sourceLegend(sourcesOf(station)) +
        "<section class=\"panel\"><h2>What happened, latest first</h2><ol class=\"events\" "
        "id=\"events\" reversed>";
    constexpr std::size_t kListed = 200;
    std::size_t listed = 0;
    for (auto mark = timeline.marks.rbegin(); mark != timeline.marks.rend() && listed < kListed;
         ++mark, ++listed) {
        body += "<li>" + localClock(mark->at, offset) + " " + htmlText(mark->text) + "</li>";
    }
    if (timeline.marks.empty()) body += "<li>Nothing but the schedule's switches.</li>";
    body += "</ol><p>From the station's own history (" + std::string(kHistoryFile) +
            " in the station directory).</p></section>";
    return page("Look back", "/control/timeline", &viewer, body, true);
}

}  // namespace kestrel
