#pragma once

#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace kestrel::test {

/// A headless Chromium driven over WebDriver (Debian's chromedriver) on
/// loopback, with its profile and log in `dir`. Ends with its session.
class Browser {
public:
    using Json = nlohmann::json;

    /// `width` x `height` is the window's size in CSS pixels.
    explicit Browser(const TempDir& dir, int width = 1024, int height = 860);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    bool started() const { return m_session != "/session/"; }
    void open(const std::string& url);
    /// Runs `script` in the page with `argument`; its result (a promise's once settled).
    Json run(const std::string& script, const std::string& argument = "");
    /// Whether the element with this id shows `expected` within `limit`.
    bool shows(const std::string& id, const std::string& expected, std::chrono::milliseconds limit);
    /// Whether `script` returns true within `limit`.
    bool holds(const std::string& script, std::chrono::milliseconds limit);
    /// The text of the element with this id; "<none>" when there is none.
    std::string text(const std::string& id);
    /// Sets the value of the form field with this id and presses the button with that id.
    void fillAndPress(const std::string& fieldId, const std::string& value,
                      const std::string& buttonId);
    /// The window's content as PNG bytes.
    std::string screenshot();

private:
    Json post(const std::string& path, const Json& body);

    int m_port;
    ChildProcess m_driver;
    httplib::Client m_http;
    std::string m_session = "/session/";
};

}  // namespace kestrel::test
