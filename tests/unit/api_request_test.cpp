#include "api/api_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "playback/orders.h"
#include "playback/source_list.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

const std::string kKey = "s3cr5";

// The header every answer carries, written out independently of the code under test.
std::string answerWith(const std::string& body, const std::string& contentType = "text/html") {
    return "HTTP/1.0 200 OK\r\nServer: Fernbeacon Server Version 1.1\r\n"
           "Content-Type: " +
           contentType + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string requestFor(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: station.example\r\n\r\n";
}

class ApiRequest : public ::testing::Test {
protected:
    ApiRequest() {
        host.state().APIkey = kKey;
        host.write("sourcelist.ini",
                   "; sources\r\n"
                   "1n:Studio One\r\n1u:http://one.example/live\r\n"
                   "2n:Studio Two\r\n2u:http://two.example/live\r\n"
                   "3n:Studio Three\r\n3u:http://three.example/live\r\n"
                   "5n:Studio Five\r\n5u:http://five.example/live\r\n"
                   "7n:Studio Seven\r\n7u:http://seven.example/live\r\n"
                   "0n:Backup\r\n0u:http://backup.example/live\r\n");
    }

    // Handles the text, then lets a switch it started run to its end.
    RequestOutcome handle(const std::string& text, std::string_view client = {}) {
        RequestOutcome outcome = handleRequest(host.station(), text, readWholeFile, client);
        while (outcome.switching && !outcome.switching->done())
            host.runFor(0.1);
        return outcome;
    }

    test::SimHost host;
};

TEST_F(ApiRequest, CurrentSourceAnswersWithExactBytes) {
    auto& display = host.display();
    display.lblSourceNumber.caption = "3";
    display.lblCurrentSource.caption = "http://three.example/live";
    display.lblStudio.caption = "Studio Three";

    const auto outcome =
        handle("GET /api/getcurrent.php?id=" + kKey + " HTTP/1.1\r\nHost: station.example\r\n\r\n");

    EXPECT_TRUE(outcome.matched);
    EXPECT_EQ(outcome.path, "/api/getcurrent.php?id=" + kKey);
    EXPECT_EQ(outcome.bytes,
              "HTTP/1.0 200 OK\r\n"
              "Server: Fernbeacon Server Version 1.1\r\n"
              "Content-Type: text/html\r\n"
              "Content-Length: 76\r\n"
              "\r\n"
              "Source: 3\r\n"
              "URL: http://three.example/live\r\n"
              "Name: Studio Three\r\n"
              "Volume: 100\r\n");
    EXPECT_EQ(
        host.state().response,
        "Source: 3\r\nURL: http://three.example/live\r\nName: Studio Three\r\nVolume: 100\r\n");
    EXPECT_TRUE(outcome.failure.empty());
}

TEST_F(ApiRequest, AnythingButAnExactEndpointAnswersError) {
    struct Case {
        const char* what;
        std::string text;
        bool matched;
    } cases[] = {
        {"wrong key", requestFor("/api/getcurrent.php?id=wrong"), true},
        {"key prefix only", requestFor("/api/getcurrent.php?id=s3cr"), true},
        {"key and one more", requestFor("/api/getcurrent.php?id=" + kKey + "5"), true},
        {"same length, last wrong", requestFor("/api/getcurrent.php?id=s3cr6"), true},
        {"status.json wrong key", requestFor("/api/status.json?id=s3cr6"), true},
        {"status.json extra", requestFor("/api/status.json?id=" + kKey + "&x=1"), true},
        {"status.html no key", requestFor("/api/status.html?id="), true},
        {"metrics wrong key", requestFor("/api/metrics?id=S3CR5"), true},
        {"metrics with path", requestFor("/api/metrics/?id=" + kKey), true},
        {"setcurrent short key", requestFor("/api/setcurrent.php?id=s3c"), true},
        {"extra parameter", requestFor("/api/getcurrent.php?id=" + kKey + "&x=1"), true},
        {"extra on list", requestFor("/api/listsources.php?id=" + kKey + "&x=1"), true},
        {"extra on title", requestFor("/api/metadata.php?id=" + kKey + "&x=1"), true},
        {"other letter case", requestFor("/API/getcurrent.php?id=" + kKey), true},
        {"escaped path", requestFor("/api/getcurrent%2Ephp?id=" + kKey), true},
        {"unknown path", requestFor("/"), true},
        {"setcurrent with wrong key", requestFor("/api/setcurrent.php?id=x3"), true},
        {"lower-case get", "get /api/getcurrent.php?id=" + kKey + " HTTP/1.1\r\n\r\n", false},
        {"ends right after the version dot", "GET /api/getcurrent.php?id=" + kKey + " HTTP/1.",
         false},
        {"other method", "POST /api/getcurrent.php?id=" + kKey + " HTTP/1.1\r\n\r\n", false},
        {"no space after GET", "GET/api/getcurrent.php?id=" + kKey + " HTTP/1.1", false},
        {"HTTP/2", "GET /api/getcurrent.php?id=" + kKey + " HTTP/2.0\r\n\r\n", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        host.state().response = "previous body";
        const auto outcome = handle(c.text);
        EXPECT_EQ(outcome.bytes, answerWith("ERROR")) << c.what;
        EXPECT_EQ(outcome.matched, c.matched) << c.what;
        EXPECT_EQ(host.state().response, "ERROR") << c.what;
        EXPECT_FALSE(outcome.switching.has_value()) << c.what;
    }
    EXPECT_TRUE(host.players.commands().empty());
}

TEST_F(ApiRequest, StatusPathsAnswerWithTheirOwnContentType) {
    const struct {
        std::string path;
        std::string contentType;
        std::string bodyStart;
    } cases[] = {
        {"/api/status.json?id=" + kKey, "application/json", "{\"version\":"},
        {"/api/status.html?id=" + kKey, "text/html", "<!DOCTYPE html>"},
        {"/api/metrics?id=" + kKey, "text/plain; version=0.0.4; charset=utf-8", "# HELP "},
    };
    for (const auto& c : cases) {
        const auto outcome = handle(requestFor(c.path));
        EXPECT_TRUE(outcome.matched) << c.path;
        EXPECT_EQ(outcome.bytes, answerWith(host.state().response, c.contentType)) << c.path;
        EXPECT_TRUE(host.state().response.starts_with(c.bodyStart)) << c.path;
        EXPECT_FALSE(outcome.switching.has_value()) << c.path;
    }
}

TEST_F(ApiRequest, EmptyKeyAcceptsTheBarePath) {
    host.state().APIkey.clear();
    host.display().lblSourceNumber.caption = "-1";
    const auto outcome = handle(requestFor("/api/getcurrent.php?id="));
    EXPECT_EQ(outcome.bytes,
              answerWith("Source: -1\r\nURL: None\r\nName: NONE\r\nVolume: 100\r\n"));
}

TEST_F(ApiRequest, SwitchTakesTheLastCharacterOfThePathAndAnswersAfterSwitching) {
    struct Case {
        std::string suffix;
        char key;
        std::string address;
    } cases[] = {
        {"3", '3', "http://three.example/live"},
        {"12", '2', "http://two.example/live"},
        {"&delay=7", '7', "http://seven.example/live"},
        {"", '5', "http://five.example/live"},  // the key's own last character
    };
    for (const auto& c : cases) {
        host.players.clearIssued();
        const auto outcome = handle(requestFor("/api/setcurrent.php?id=" + kKey + c.suffix));

        const std::string body = std::string("Source: ") + c.key + "\r\nOK\r\n";
        EXPECT_EQ(outcome.bytes, answerWith(body)) << c.suffix;
        EXPECT_EQ(host.state().CurrentSource, c.key - '0') << c.suffix;
        EXPECT_EQ(host.display().lblCurrentSource.caption, c.address) << c.suffix;
        EXPECT_EQ(host.players.commands().size(), 2u) << "start and stop ran before answering";
        EXPECT_TRUE(host.state().TransferString.empty()) << c.suffix;
        EXPECT_TRUE(outcome.switching.has_value()) << c.suffix;
    }
}

TEST_F(ApiRequest, SwitchRequestIsJournaledWithTheClientBeforeTheSwitch) {
    handle(requestFor("/api/setcurrent.php?id=" + kKey + "3"), "192.0.2.7");
    const std::string journal = host.journal.str();
    const auto request = journal.find(" event=api_switch_request client=192.0.2.7 key=3\n");
    ASSERT_NE(request, std::string::npos) << journal;
    EXPECT_NE(journal.find(" event=switch cause=api source=3 slot=1 ", request), std::string::npos)
        << journal;
    EXPECT_EQ(host.station().counters.switchesBy(SwitchCause::Api), 1u);
}

// A newer order replaces one not yet carried out: the operator's slow switch
// to 7 never takes the air; the orders for 1 and 2 are answered as failed
// when a newer one replaces them (1 still plays at once where nothing did),
// and 3 takes the air.
TEST_F(ApiRequest, ANewerSwitchRequestReplacesOneNotYetCarriedOut) {
    host.players.behaviourForUrl["http://seven.example/live"] = {6, -1};
    host.display().comboSourceList.text = "7";
    auto operatorOrder = cmdForceSwitch_Click(host.station());
    std::vector<RequestOutcome> waiting;
    for (const char* key : {"1", "2", "3"}) {
        waiting.push_back(
            handleRequest(host.station(), requestFor("/api/setcurrent.php?id=" + kKey + key)));
        host.runFor(0.1);
    }
    EXPECT_TRUE(operatorOrder.done() && waiting[0].switching->done() &&
                waiting[1].switching->done());
    EXPECT_FALSE(waiting[2].switching->done());
    while (!waiting[2].switching->done())
        host.runFor(0.1);
    EXPECT_FALSE(waiting[0].switching->await_resume());
    EXPECT_FALSE(waiting[1].switching->await_resume());
    EXPECT_TRUE(waiting[2].switching->await_resume());
    EXPECT_EQ(host.state().CurrentSource, 3);
    EXPECT_EQ(host.station().counters.switchesBy(SwitchCause::Operator), 0u);
    EXPECT_EQ(host.station().counters.switchesBy(SwitchCause::Api), 2u);
    EXPECT_FALSE(host.players.isRunning(1) && host.players.isRunning(2));
}

TEST_F(ApiRequest, SwitchToAnUnknownSourceStillAnswersOk) {
    const auto outcome = handle(requestFor("/api/setcurrent.php?id=" + kKey + "x"));
    EXPECT_EQ(outcome.bytes, answerWith("Source: x\r\nOK\r\n"));
    EXPECT_TRUE(host.state().TransferString.empty());
}

TEST_F(ApiRequest, SourceListHasTenEntriesWithEmptyGaps) {
    host.write("sourcelist.ini",
               "1n:One\r\n1u:http://one.example/\r\n"
               "3u:http://three.example/\r\n3n:Three\r\n3n:Three again\r\n"
               "0n:Backup\r\n0u:http://backup.example/\r\n");
    std::string expected = "Source: 1\r\nURL: http://one.example/\r\nName: One\r\nVolume: 100\r\n";
    expected += "Source: 2\r\nURL: \r\nName: \r\nVolume: 100\r\n";
    expected += "Source: 3\r\nURL: http://three.example/\r\nName: Three again\r\nVolume: 100\r\n";
    for (char d = '4'; d <= '9'; ++d) {
        expected += std::string("Source: ") + d + "\r\nURL: \r\nName: \r\nVolume: 100\r\n";
    }
    expected += "Source: BACKUP\r\nURL: http://backup.example/\r\nName: Backup\r\nVolume: 100\r\n";

    const auto outcome = handle(requestFor("/api/listsources.php?id=" + kKey));
    EXPECT_EQ(outcome.bytes, answerWith(expected));
}

TEST_F(ApiRequest, SourceListAgreesWithTheKeyedLookup) {
    host.write("sourcelist.ini",
               "1n:One\n1u:http://one.example/\r"
               "xn:Letter\r\n1N:Capital\r\n;2u:http://comment.example/\r\n"
               "2n:\r\n4n:Trailing  \r\n4u:http://four.example/a\r\n4u:http://four.example/b\r\n"
               "5u\r\n5:\r\n6n\r\n0u:http://backup.example/");
    std::string expected;
    for (const char* key : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"}) {
        const auto entry = lookupSource(host.dir.path() / "sourcelist.ini", key);
        expected += std::string("Source: ") + (key[0] == '0' ? "BACKUP" : key) +
                    "\r\nURL: " + entry.address + "\r\nName: " + entry.name + "\r\nVolume: 100\r\n";
    }
    const auto outcome = handle(requestFor("/api/listsources.php?id=" + kKey));
    EXPECT_EQ(host.state().response, expected);
}

TEST_F(ApiRequest, MissingSourceListGivesTenEmptyEntries) {
    host.write("sourcelist.ini", "");
    std::filesystem::remove(host.dir.path() / "sourcelist.ini");
    const auto outcome = handle(requestFor("/api/listsources.php?id=" + kKey));
    EXPECT_TRUE(outcome.failure.empty());
    EXPECT_NE(outcome.bytes.find("Source: BACKUP\r\nURL: \r\nName: \r\nVolume: 100\r\n"),
              std::string::npos);
}

TEST_F(ApiRequest, StreamTitleOfFortyCharactersGivesFortySixCharacterBody) {
    const std::string title(40, 't');
    host.display().lblRXmetadata.caption = title;
    const auto outcome = handle(requestFor("/api/metadata.php?id=" + kKey));
    EXPECT_EQ(host.state().response.size(), 46u);
    EXPECT_EQ(outcome.bytes, answerWith(title + "\r\nOK\r\n"));
    EXPECT_NE(outcome.bytes.find("Content-Length: 46\r\n"), std::string::npos);
}

TEST_F(ApiRequest, FailureAnswersErrorAndNamesTheStage) {
    const FileReader failing = [](const std::filesystem::path&, std::string&) -> bool {
        throw std::runtime_error("Permission denied");
    };
    const auto outcome =
        handleRequest(host.station(), requestFor("/api/listsources.php?id=" + kKey), failing);
    EXPECT_EQ(outcome.bytes, answerWith("ERROR"));
    EXPECT_EQ(outcome.failure, "Permission denied\r\n Line of error:33");
    EXPECT_EQ(host.state().response, "ERROR");
}

TEST(RequestPattern, MatchesTheWholeTextAndFindsThePath) {
    struct Case {
        std::string text;
        bool matches;
        std::string path;
    } cases[] = {
        {"GET /a HTTP/1.1", true, "/a"},
        {"GET /a HTTP/1.x", true, "/a"},
        {"GET /a HTTP/1.", false, "/a"},
        {"GET  HTTP/1.0", true, ""},
        {"GET HTTP/1.0", false, ""},
        {"GET /a\r\nb HTTP/1.0\r\n", true, "/a\r\nb"},
        {"GET /a HTTP/1.1 HTTP/1.0", true, "/a"},
        {"GET /a HTTP/1. HTTP/1.0", true, "/a"},
        {"GET /%20x HTTP/1.1", true, "/%20x"},
        {" GET /a HTTP/1.1", false, "/a"},
        {"Get /a HTTP/1.1", false, ""},
        {"GET /a http/1.1", false, ""},
        {"GET /a", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matchesRequestPattern(c.text), c.matches) << c.text;
        EXPECT_EQ(requestPath(c.text), c.path) << c.text;
    }
}

TEST(RequestPattern, OnlyTextBeginningLikeGetMayBecomeARequest) {
    for (const char* text : {"", "G", "GE", "GET", "GET ", "GET /a HTTP/1."}) {
        EXPECT_TRUE(mayBecomeRequest(text)) << text;
    }
    for (const char* text : {"g", "GEt", "GETX", "POST /", " GET /", "\r\n"}) {
        EXPECT_FALSE(mayBecomeRequest(text)) << text;
    }
}

TEST(RequestPattern, LongTextWithManyMarkersIsDecided) {
    std::string text = "GET ";
    for (int i = 0; i < 100000; ++i)
        text += " HTTP/1";
    EXPECT_FALSE(matchesRequestPattern(text));
    text += ".1";
    EXPECT_TRUE(matchesRequestPattern(text));
}

}  // namespace
}  // namespace kestrel
