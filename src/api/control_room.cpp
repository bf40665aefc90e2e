#include "api/control_room.h"

#include <exception>

#include "check/station_check.h"
#include "controller/file_editor.h"
#include "controller/station_mode.h"
#include "playback/orders.h"
#include "playback/source_list.h"
#include "scheduler/event_calculation.h"
#include "station/station_events.h"
#include "status/control_assets.h"
#include "status/control_pages.h"
#include "status/status_json.h"

namespace kestrel {
namespace {

constexpr std::string_view kGetPrefix = "GET /control";
constexpr std::string_view kPostPrefix = "POST /control";

// Every page: never cached, never framed, no outside resources, no inline
// script, and the address (which may carry the key) never sent on.
const std::vector<std::string>& pageHeaders() {
    static const std::vector<std::string> headers = {
        "Cache-Control: no-store",
        "X-Content-Type-Options: nosniff",
        "Referrer-Policy: no-referrer",
        "X-Frame-Options: DENY",
        "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
        "img-src 'self' data:; connect-src 'self'; form-action 'self'; frame-ancestors 'none'; "
        "base-uri 'none'",
    };
    return headers;
}

std::string respond(int status, std::string_view contentType, std::string_view body,
                    std::vector<std::string> extra = {}) {
    std::vector<std::string> headers = pageHeaders();
    headers.insert(headers.end(), extra.begin(), extra.end());
    return httpResponse(status, contentType, body, headers);
}

std::string htmlAnswer(int status, std::string_view body) {
    return respond(status, "text/html; charset=utf-8", body);
}

std::string textAnswer(int status, std::string_view message, std::vector<std::string> extra = {}) {
    return respond(status, "text/plain; charset=utf-8", message, std::move(extra));
}

std::string seeOther(std::string_view location, std::vector<std::string> extra = {}) {
    extra.push_back("Location: " + std::string(location));
    return respond(303, "text/plain; charset=utf-8", "", std::move(extra));
}

// The page a file's editor is on.
std::string pageOfFile(std::string_view file) {
    return file == kScheduleFile ? "/control/week" : "/control/sources";
}

bool isPagePath(std::string_view path) {
    return path == "/control" || path == "/control/" || path == "/control/week" ||
           path == "/control/timeline" || path == "/control/sources";
}

bool isOrderPath(std::string_view path) {
    return path == "/control/switch" || path == "/control/mode" || path == "/control/save" ||
           path == "/control/logout";
}

}  // namespace

struct ControlRoom::Visit {
    const WebSessions::Session* session = nullptr;
    bool keyInAddress = false;

    bool mayRead() const { return session || keyInAddress; }
    PageViewer viewer() const { return session ? PageViewer{true, session->csrf} : PageViewer{}; }
};

ControlRoom::ControlRoom(Station& station, std::function<std::string()> newToken)
    : m_station(station), m_sessions(std::move(newToken)) {}

double ControlRoom::now() const {
    return m_station.platform.clock.steadySeconds();
}

bool ControlRoom::isRequest(std::string_view text) {
    return text.starts_with(kGetPrefix) || text.starts_with(kPostPrefix);
}

bool ControlRoom::mayBecomeRequest(std::string_view text) {
    return isRequest(text) ||
           (!text.empty() && (kGetPrefix.starts_with(text) || kPostPrefix.starts_with(text)));
}

const WebSessions::Session* ControlRoom::sessionOf(const HttpRequest& request) {
    return m_sessions.find(cookieValue(request.header("cookie"), kCookie), now());
}

RequestArrival ControlRoom::arrival(std::string_view text) {
    const RequestArrival small = requestArrival(text, kSmallBody);
    if (small != RequestArrival::TooLarge) return small;
    const RequestArrival large = requestArrival(text, kLargeBody);
    if (large == RequestArrival::TooLarge || large == RequestArrival::Malformed) return large;
    const auto head = parseRequestHead(text);
    return head && sessionOf(*head) ? large : RequestArrival::TooLarge;
}

ControlRoom::Answer ControlRoom::answer(std::string_view text, const std::string& client) {
    Answer answer;
    try {
        switch (arrival(text)) {
            case RequestArrival::TooLarge:
                answer.bytes = textAnswer(413, "Too large");
                break;
            case RequestArrival::Whole:
                if (const auto request = parseRequest(text)) {
                    answer.path = request->path;
                    answer.bytes = route(*request, client);
                    break;
                }
                [[fallthrough]];
            default:
                answer.bytes = textAnswer(400, "Not a request");
        }
    } catch (const std::exception& failure) {
        recordHandlerFailure(m_station, "control room", failure.what());
        answer.bytes = textAnswer(500, "The station could not answer");
    }
    return answer;
}

std::string ControlRoom::route(const HttpRequest& request, const std::string& client) {
    const std::string& path = request.path;
    Visit visit;
    visit.session = sessionOf(request);
    const auto id = formField(request.query, "id");
    visit.keyInAddress = id && sameSecret(*id, m_station.state.APIkey);

    if (request.method == "POST") {
        if (path == "/control/login") return login(request, client);
        if (isOrderPath(path)) return order(request, visit, client);
        if (isPagePath(path) || path == "/control/status.json")
            return textAnswer(405, "Read with GET", {"Allow: GET"});
        return textAnswer(404, "Not found");
    }
    if (request.method != "GET") return textAnswer(405, "Not allowed", {"Allow: GET, POST"});
    if (isOrderPath(path)) return textAnswer(405, "Orders are sent with POST", {"Allow: POST"});
    if (path == "/control/control.css")
        return respond(200, "text/css; charset=utf-8", controlStyle(),
                       {"Cache-Control: max-age=600"});
    if (path == "/control/control.js") {
        return respond(200, "text/javascript; charset=utf-8", controlScript(),
                       {"Cache-Control: max-age=600"});
    }
    if (path == "/control/login") {
        return visit.session ? seeOther("/control") : htmlAnswer(200, loginPage(""));
    }
    if (path == "/control/status.json") {
        if (!visit.mayRead()) return textAnswer(403, "Log in first");
        return respond(200, "application/json", statusJson(m_station));
    }
    if (!isPagePath(path)) return textAnswer(404, "Not found");
    if (!visit.mayRead()) return seeOther("/control/login");

    const PageViewer viewer = visit.viewer();
    if (path == "/control/timeline") return htmlAnswer(200, timelinePage(m_station, viewer));
    if (path == "/control/week" || path == "/control/sources") {
        const std::string file = path == "/control/week" ? kScheduleFile : kSourceListFile;
        const EditedFile loaded = loadForEditing(m_station, file);
        EditorView editor{file, loaded.text, loaded.version};
        if (formField(request.query, "saved")) {
            editor.notice = "Saved. The previous version is in " + file + ".bak.";
        }
        return htmlAnswer(200, path == "/control/week" ? weekPage(m_station, viewer, editor)
                                                       : sourcesPage(m_station, viewer, editor));
    }
    return htmlAnswer(200, controlPage(m_station, viewer));
}

std::string ControlRoom::login(const HttpRequest& request, const std::string& client) {
    if (!m_sessions.mayTryLogin(client, now())) {
        return respond(429, "text/html; charset=utf-8",
                       loginPage("One try a second from an address: wait a moment, then try "
                                 "again."),
                       {"Retry-After: 1"});
    }
    if (!sameSecret(formField(request.body, "key").value_or(""), m_station.state.APIkey)) {
        recordWebLogin(m_station, client, false);
        return htmlAnswer(403, loginPage("That is not the station's key."));
    }
    recordWebLogin(m_station, client, true);
    const WebSessions::Session& session = m_sessions.open(now());
    std::string cookie = std::string("Set-Cookie: ") + kCookie + "=" + session.token +
                         "; Path=/control; Max-Age=" +
                         std::to_string(static_cast<long>(WebSessions::kLifetimeSeconds)) +
                         "; HttpOnly; SameSite=Strict";
    // Behind a reverse proxy that speaks TLS, the cookie never travels in the clear.
    if (request.header("x-forwarded-proto") == "https") cookie += "; Secure";
    return seeOther("/control", {cookie});
}

std::string ControlRoom::order(const HttpRequest& request, const Visit& visit,
                               const std::string& client) {
    if (!visit.session) return textAnswer(403, "Refused: log in first.");
    if (!sameSecret(formField(request.body, "csrf").value_or(""), visit.session->csrf))
        return textAnswer(403, "Refused: the page's token is missing or stale. Reload the page.");

    const std::string& path = request.path;
    if (path == "/control/logout") {
        m_sessions.close(visit.session->token);
        return seeOther("/control/login", {std::string("Set-Cookie: ") + kCookie +
                                           "=; Path=/control; Max-Age=0; HttpOnly; "
                                           "SameSite=Strict"});
    }
    if (path == "/control/save") return save(request, visit, client);
    if (path == "/control/mode") {
        const auto mode = formField(request.body, "mode");
        if (mode != "automatic" && mode != "manual")
            return textAnswer(400, "The mode is automatic or manual.");
        setMode(m_station, mode == "automatic", "web", client);
        return seeOther("/control");
    }
    const auto source = formField(request.body, "source").value_or("");
    if (source.size() != 1 || source[0] < '0' || source[0] > '9')
        return textAnswer(400, "Choose a source, 0 to 9.");
    recordWebOrder(m_station, client, source);
    m_station.spawn(webSwitch(m_station, source));
    return seeOther("/control");
}

std::string ControlRoom::save(const HttpRequest& request, const Visit& visit,
                              const std::string& client) {
    const std::string file = formField(request.body, "file").value_or("");
    if (!isEditableFile(file)) return textAnswer(400, "Only the schedule and the source list.");
    EditorView editor{file, formField(request.body, "text").value_or(""),
                      formField(request.body, "version").value_or("")};
    editor.checked = true;
    const auto show = [&](int status) {
        return htmlAnswer(status, file == kScheduleFile
                                      ? weekPage(m_station, visit.viewer(), editor)
                                      : sourcesPage(m_station, visit.viewer(), editor));
    };
    if (formField(request.body, "action") == "check") {
        editor.findings =
            checkFileText(m_station.platform.workdir, file, withStationLineEnds(editor.text));
        editor.notice = editor.findings.count() == 0
                            ? "The checks find nothing: the text can be saved."
                            : "The checks find " + std::to_string(editor.findings.count()) +
                                  " problem(s), listed below the text.";
        editor.problem = editor.findings.count() > 0;
        return show(200);
    }
    SaveOutcome outcome = saveEdit(m_station, file, editor.text, editor.version, client);
    editor.findings = std::move(outcome.findings);
    editor.problem = true;
    switch (outcome.result) {
        case SaveOutcome::Result::Saved:
            return seeOther(pageOfFile(file) + "?saved=1");
        case SaveOutcome::Result::Refused:
            editor.notice = "Not saved: the checks find " +
                            std::to_string(editor.findings.count()) +
                            " problem(s), listed below the text. Mend them and save again.";
            return show(422);
        case SaveOutcome::Result::Conflict:
            editor.checked = false;
            editor.notice = "Not saved: " + file +
                            " has changed since this page loaded it (another page or the "
                            "management server wrote it). Your text is below: keep a copy, "
                            "reload the page to see the file as it is now, then make your "
                            "changes again.";
            return show(409);
        case SaveOutcome::Result::Failed:
            editor.checked = false;
            editor.notice = "Not saved: the disk refused the write (" + outcome.error +
                            "). The file is as it was.";
            return show(500);
    }
    return show(500);
}

}  // namespace kestrel
