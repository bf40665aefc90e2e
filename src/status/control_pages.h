#pragma once

#include <string>
#include <string_view>

#include "check/findings.h"
#include "station/station.h"

namespace kestrel {

/// Who looks at a control room page.
struct PageViewer {
    bool loggedIn = false;  ///< a session: the page offers the orders and the editor
    std::string csrf;       ///< the session's token, which every order carries
};

/// A station file in the page's editor: its text and the version it was
/// loaded at, what the checks found in that text, and a notice above it.
struct EditorView {
    std::string file;
    std::string text;
    std::string version;
    Findings findings;
    bool checked = false;  ///< the findings are of `text` (else of the file on disk)
    std::string notice;
    bool problem = false;  ///< the notice tells of something refused or failed
};

/// The login form; `notice` says why the last try was refused (empty: none).
std::string loginPage(std::string_view notice);

/// The control room: the live state of the status page, and for a session
/// the switch to a source of the source list and the mode.
std::string controlPage(const Station& station, const PageViewer& viewer);

/// The week as a picture with the schedule's findings, and for a session the
/// schedule's editor (`editor`; its file is the schedule).
std::string weekPage(const Station& station, const PageViewer& viewer, const EditorView& editor);

/// The source list as a table with its findings, and for a session its editor.
std::string sourcesPage(const Station& station, const PageViewer& viewer, const EditorView& editor);

/// The last 24 hours of the station's history as a picture and a list.
std::string timelinePage(const Station& station, const PageViewer& viewer);

}  // namespace kestrel
