#include "api/control_room.h"

#include <gtest/gtest.h>

#include "api/api_connections.h"
#include "support/sim_host.h"
#include "support/text_count.h"

namespace kestrel {
namespace {

const std::string kKey = "k3y-Secret-77";
const std::string kAddress = "192.0.2.7";
const std::string kSchedule = "2 060000 1\r\n";

struct Reply {
    int status = 0;
    std::string head;
    std::string body;

    std::string header(const std::string& name) const {
        const auto at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos) return {};
        const auto from = at + name.size() + 4;
        return head.substr(from, head.find("\r\n", from) - from);
    }
};

// A station with its API's connection table; each request on a new connection.
class ControlRoomTest : public ::testing::Test {
protected:
    ControlRoomTest() {
        host.write("sourcelist.ini",
                   "1n:Dales Morning\r\n1u:http://one.example/live\r\n3n:Kestrel Nights\r\n"
                   "3u:http://three.example/live\r\n");
        host.write("sourceevents.ini", kSchedule);
        host.start();
        host.state().APIkey = kKey;
    }

    Reply send(const std::string& request, const std::string& client = kAddress) {
        const int i = table.accept(client)->element;
        const auto bytes = table.receive(i, request);
        table.closed(i);
        Reply reply;
        if (!bytes) return reply;
        const auto end = bytes->find("\r\n\r\n");
        reply.status = std::stoi(bytes->substr(9, 3));
        reply.head = bytes->substr(0, end + 2);
        reply.body = bytes->substr(end + 4);
        return reply;
    }
    Reply get(const std::string& target, const std::string& cookie = {}) {
        return send("GET " + target + " HTTP/1.1\r\nHost: h\r\n" +
                    (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "\r\n");
    }
    Reply post(const std::string& path, const std::string& form, const std::string& cookie = {},
               const std::string& client = kAddress) {
        return send("POST " + path + " HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                        std::to_string(form.size()) + "\r\n" +
                        (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "\r\n" + form,
                    client);
    }

    // Logs in; the session's cookie, and its CSRF token as the page carries it.
    std::string logIn(const std::string& client = kAddress) {
        const Reply reply = post("/control/login", "key=" + kKey, {}, client);
        EXPECT_EQ(reply.status, 303) << reply.body;
        const std::string setCookie = reply.header("Set-Cookie");
        cookie = setCookie.substr(0, setCookie.find(';'));
        csrf = valueOf(get("/control", cookie).body, "csrf");
        return cookie;
    }
    // The value of the first hidden field `name` of a page.
    static std::string valueOf(const std::string& page, const std::string& name) {
        const std::string marker = "name=\"" + name + "\" value=\"";
        const auto at = page.find(marker);
        if (at == std::string::npos) return {};
        const auto from = at + marker.size();
        return page.substr(from, page.find('"', from) - from);
    }
    bool journalled(const std::string& part) {
        return host.journal.str().find(part) != std::string::npos;
    }

    test::SimHost host;
    ApiConnections table{host.station()};
    std::string cookie;
    std::string csrf;
};

TEST_F(ControlRoomTest, ReadingTakesASessionOrTheKeyAndNoPageShowsTheKey) {
    logIn();
    for (const std::string path :
         {"/control", "/control/week", "/control/timeline", "/control/sources"}) {
        EXPECT_EQ(get(path).status, 303) << path;
        EXPECT_EQ(get(path).header("Location"), "/control/login") << path;
        EXPECT_EQ(get(path + "?id=wrong").status, 303) << path;
        for (const Reply& reply : {get(path + "?id=" + kKey), get(path, cookie)}) {
            EXPECT_EQ(reply.status, 200) << path;
            EXPECT_EQ(reply.body.find(kKey), std::string::npos) << path;
            EXPECT_NE(reply.header("Content-Security-Policy").find("script-src 'self'"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(get("/control/status.json").status, 403);
    EXPECT_EQ(get("/control/status.json?id=" + kKey).status, 200);
    EXPECT_EQ(get("/control/status.json", cookie).status, 200);
    EXPECT_EQ(get("/control/control.js").status, 200) << "the script holds no secret";
    EXPECT_EQ(get("/control?id=" + kKey).body.find("name=\"csrf\""), std::string::npos)
        << "the key reads; only a session orders";
}

TEST_F(ControlRoomTest, NoGetChangesAnythingAndForgedOrdersAreRefused) {
    logIn();
    const std::string order = "source=3&csrf=" + csrf;
    struct Case {
        const char* what;
        Reply reply;
        int status;
    } cases[] = {
        {"switch by GET", get("/control/switch?source=3&csrf=" + csrf, cookie), 405},
        {"mode by GET", get("/control/mode?mode=manual&csrf=" + csrf, cookie), 405},
        {"page by POST", post("/control/week", order, cookie), 405},
        {"no session", post("/control/switch", order), 403},
        {"no token", post("/control/switch", "source=3", cookie), 403},
        {"another token",
         post("/control/switch", "source=3&csrf=" + csrf.substr(1) + csrf[0], cookie), 403},
        {"token without session", post("/control/mode", "mode=manual&csrf=" + csrf), 403},
        {"stale session", post("/control/switch", order, "kestrel_session=0123"), 403},
        {"no such source", post("/control/switch", "source=x&csrf=" + csrf, cookie), 400},
        {"unknown path", get("/control/nothing", cookie), 404},
        {"body too large without a session",
         post("/control/save", std::string(ControlRoom::kSmallBody + 1, 'a')), 413},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reply.status, c.status) << c.what;
    host.runFor(30);
    EXPECT_EQ(host.state().CurrentSource, 1) << "the schedule's source plays on";
    EXPECT_TRUE(host.station().automatic());
    EXPECT_FALSE(journalled("web_order"));
}

TEST_F(ControlRoomTest, LoginsAreSlowedPerAddressJournalledAndLastTwelveHours) {
    EXPECT_EQ(post("/control/login", "key=guess").status, 403);
    EXPECT_TRUE(journalled("event=web_login_failed client=" + kAddress));
    EXPECT_EQ(post("/control/login", "key=" + kKey).status, 429) << "within a second";
    EXPECT_EQ(test::countOf(host.journal.str(), "web_login_failed"), 1);
    EXPECT_EQ(post("/control/login", "key=" + kKey, {}, "198.51.100.4").status, 303)
        << "another address is not slowed";
    host.runFor(1);
    const Reply accepted = post("/control/login", "key=" + kKey);
    ASSERT_EQ(accepted.status, 303);
    const std::string setCookie = accepted.header("Set-Cookie");
    for (const char* attribute :
         {"; Path=/control", "; Max-Age=43200", "; HttpOnly", "; SameSite=Strict"}) {
        EXPECT_NE(setCookie.find(attribute), std::string::npos) << attribute;
    }
    const std::string session = setCookie.substr(0, setCookie.find(';'));
    EXPECT_EQ(session.size(), std::string("kestrel_session=").size() + 32);
    host.runFor(12 * 3600 - 2);
    EXPECT_EQ(get("/control/status.json", session).status, 200);
    host.runFor(3);
    EXPECT_EQ(get("/control/status.json", session).status, 403) << "expired after 12 h";

    host.runFor(1);
    logIn();
    EXPECT_EQ(post("/control/logout", "csrf=" + csrf, cookie).status, 303);
    EXPECT_EQ(get("/control/status.json", cookie).status, 403) << "logged out";
}

TEST_F(ControlRoomTest, OrdersHaveTheButtonsEffectsAndNameTheWeb) {
    logIn();
    host.runFor(5);
    ASSERT_EQ(host.state().CurrentSource, 1);
    EXPECT_EQ(post("/control/switch", "source=3&csrf=" + csrf, cookie).header("Location"),
              "/control");
    host.runFor(5);
    EXPECT_EQ(host.state().CurrentSource, 3);
    EXPECT_EQ(host.station().counters.switchesBy(SwitchCause::Web), 1u);
    EXPECT_TRUE(journalled("event=web_order client=" + kAddress + " order=switch key=3"));
    EXPECT_TRUE(journalled("event=switch cause=web source=3"));

    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(post("/control/mode", "mode=manual&csrf=" + csrf, cookie).status, 303);
    EXPECT_FALSE(host.station().automatic());
    EXPECT_EQ(host.display().cmdAutoManual.caption, "MANUAL");
    EXPECT_EQ(
        test::countOf(host.journal.str(), "event=mode mode=manual origin=web client=" + kAddress),
        1)
        << "asking for the mode it is in changes nothing";
    host.controller->cmdAutoManual();
    EXPECT_TRUE(journalled("event=mode mode=automatic origin=operator"));
}

TEST_F(ControlRoomTest, SavingChecksKeepsABackupAndRefusesAFileChangedSinceLoaded) {
    logIn();
    const std::string version = valueOf(get("/control/week", cookie).body, "version");
    const auto save = [&](const std::string& text, const std::string& action = "save") {
        return post("/control/save",
                    "csrf=" + csrf + "&file=sourceevents.ini&version=" + version +
                        "&action=" + action + "&text=" + text,
                    cookie);
    };
    const Reply mistaken = save("2+08300+3%0D%0A");
    EXPECT_EQ(mistaken.status, 422);
    EXPECT_NE(mistaken.body.find("<b>line 1</b> 9 characters, not 10: ignored"), std::string::npos);
    EXPECT_EQ(save("2+08300+3", "check").status, 200);
    EXPECT_EQ(host.read("sourceevents.ini"), kSchedule) << "nothing saved";

    const Reply saved = save("2+083000+3%0A5+120000+1");
    EXPECT_EQ(saved.status, 303);
    EXPECT_EQ(saved.header("Location"), "/control/week?saved=1");
    EXPECT_EQ(host.read("sourceevents.ini"), "2 083000 3\r\n5 120000 1\r\n");
    EXPECT_EQ(host.read("sourceevents.ini.bak"), kSchedule);
    EXPECT_TRUE(journalled("event=file_saved file=sourceevents.ini origin=web client=" + kAddress +
                           " bytes=24"));

    EXPECT_EQ(save("2+090000+1").status, 409) << "saved since this version was loaded";
    EXPECT_EQ(host.read("sourceevents.ini"), "2 083000 3\r\n5 120000 1\r\n");
    EXPECT_EQ(
        post("/control/save", "csrf=" + csrf + "&file=kestrelfield.ini&text=x", cookie).status,
        400);
    const std::string large = "csrf=" + csrf +
                              "&file=sourcelist.ini&version=x&text=1u%3Ahttp%3A%2F%2Fone.example"
                              "%2Flive%0A" +
                              std::string(ControlRoom::kSmallBody * 2, ';');
    EXPECT_EQ(post("/control/save", large, cookie).status, 409) << "a session may send more";
}

}  // namespace
}  // namespace kestrel
