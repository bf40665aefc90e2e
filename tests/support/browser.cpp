#include "support/browser.h"

#include <sstream>

#include "support/wait.h"

namespace kestrel::test {

Browser::Browser(const TempDir& dir, int width, int height)
    : m_port(freeLoopbackPort()),
      m_driver({"chromedriver", "--port=" + std::to_string(m_port)}, dir.path(),
               dir.path() / "chromedriver.log"),
      m_http("127.0.0.1", m_port) {
    m_http.set_read_timeout(60);
    waitUntil([this] { return m_http.Get("/status") != nullptr; });
    Json args = {"--user-data-dir=" + (dir.path() / "profile").string(),
                 "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
    std::istringstream flags(
        "--headless --no-sandbox --disable-gpu --disable-quic --hide-scrollbars "
        "--no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync");
    for (std::string flag; flags >> flag;)
        args.push_back(flag);
    Json options = {{"binary", "/usr/bin/chromium"}, {"args", args}};
    // A headless window is at least 500 px wide; a phone's width is emulated.
    if (width < 500) {
        options["mobileEmulation"] = {
            {"deviceMetrics", {{"width", width}, {"height", height}, {"pixelRatio", 2}}}};
    }
    m_session +=
        post("/session", {{"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", options}}}}}})
            .value("sessionId", "");
}

Browser::~Browser() {
    m_http.Delete(m_session);
}

void Browser::open(const std::string& url) {
    post(m_session + "/url", {{"url", url}});
}

Browser::Json Browser::run(const std::string& script, const std::string& argument) {
    return post(m_session + "/execute/sync", {{"script", script}, {"args", {argument}}});
}

bool Browser::shows(const std::string& id, const std::string& expected,
                    std::chrono::milliseconds limit) {
    return waitUntil([&] { return text(id) == expected; }, limit);
}

bool Browser::holds(const std::string& script, std::chrono::milliseconds limit) {
    return waitUntil([&] { return run(script) == Json(true); }, limit);
}

std::string Browser::text(const std::string& id) {
    const Json shown =
        run("const e = document.getElementById(arguments[0]); return e ? e.textContent : null", id);
    return shown.is_string() ? shown.get<std::string>() : "<none>";
}

void Browser::fillAndPress(const std::string& fieldId, const std::string& value,
                           const std::string& buttonId) {
    run("document.getElementById(" + Json(fieldId).dump() + ").value = arguments[0];" +
            "document.getElementById(" + Json(buttonId).dump() + ").click();",
        value);
}

std::string Browser::screenshot() {
    const auto answer = m_http.Get(m_session + "/screenshot");
    const Json parsed = Json::parse(answer ? answer->body : "", nullptr, false);
    const std::string base64 = parsed.is_object() ? parsed.value("value", "") : "";
    std::string png;
    unsigned bits = 0;
    int count = 0;
    for (const char c : base64) {
        const auto at =
            std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
                .find(c);
        if (at == std::string_view::npos) continue;
        bits = bits << 6 | static_cast<unsigned>(at);
        if ((count += 6) >= 8) png += static_cast<char>(bits >> (count -= 8) & 0xFF);
    }
    return png;
}

Browser::Json Browser::post(const std::string& path, const Json& body) {
    const auto answer = m_http.Post(path, body.dump(), "application/json");
    const Json parsed = Json::parse(answer ? answer->body : "", nullptr, false);
    return parsed.is_object() ? parsed.value("value", Json()) : Json();
}

}  // namespace kestrel::test
