#include "api/api_connections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "support/sim_host.h"

namespace kestrel {
namespace {

const std::string kKey = "k";
const std::string kGetCurrent = "GET /api/getcurrent.php?id=k HTTP/1.1\r\nHost: h\r\n\r\n";

std::string answerWith(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nServer: Fernbeacon Server Version 1.1\r\n"
           "Content-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

class ApiConnectionsTest : public ::testing::Test {
protected:
    ApiConnectionsTest() {
        host.state().APIkey = kKey;
        host.display().lblSourceNumber.caption = "4";
    }

    // Each from an address of its own, so that no bound is reached.
    int accept() {
        const auto admitted = table.accept("client " + std::to_string(++m_clients));
        EXPECT_TRUE(admitted && admitted->evicted == 0);
        return admitted ? admitted->element : -1;
    }

    test::SimHost host;
    ApiConnections table{host.station()};
    int m_clients = 0;
};

TEST_F(ApiConnectionsTest, LoadingEmptiesTheSharedTexts) {
    host.state().response = "old";
    host.state().TransferString = "3";
    ApiConnections fresh(host.station());
    EXPECT_TRUE(host.state().response.empty());
    EXPECT_TRUE(host.state().TransferString.empty());
    EXPECT_EQ(fresh.lines(), std::vector<std::string>{"(No Connection)"});
    fresh.listening();
    EXPECT_EQ(fresh.lines()[0], "00 Listening");
}

TEST_F(ApiConnectionsTest, FirstClosedElementIsReusedBeforeANewOne) {
    EXPECT_EQ(accept(), 1);
    EXPECT_EQ(accept(), 2);
    table.closed(1);
    table.closed(2);
    EXPECT_EQ(accept(), 1);
    EXPECT_EQ(table.lines().size(), 3u) << "no element was created for the third client";
    EXPECT_EQ(table.lines()[2], "02 Closed");
    EXPECT_EQ(accept(), 2);
    EXPECT_EQ(accept(), 3);
}

TEST_F(ApiConnectionsTest, ClosedLineCarriesTheLastTwoDigitsOfTheIndex) {
    for (int i = 1; i <= 123; ++i)
        accept();
    const std::pair<int, const char*> cases[] = {{1, "01 Closed"},   {7, "07 Closed"},
                                                 {12, "12 Closed"},  {100, "00 Closed"},
                                                 {105, "05 Closed"}, {123, "23 Closed"}};
    for (const auto& [index, line] : cases) {
        table.closed(index);
        EXPECT_EQ(table.lines()[index], line);
    }
    EXPECT_EQ(table.openCount(), 123 - 6);
}

// Ways of holding connections: `holds` connect in this order, each `every`
// seconds after the one before, then `newcomer` connects `wait` seconds
// later. The element expected to be closed for it (0: none; -1: the newcomer
// is refused), and why.
TEST_F(ApiConnectionsTest, OnlyStaleIdleConnectionsMakeRoomForANewOne) {
    enum class Act { Idle, Partial, Request };
    struct Hold {
        std::string client;
        int count;
        Act act = Act::Idle;
        double every = 1;
    };
    // `each` from each of `addresses` others, then `last`.
    const auto others = [](int addresses, int each, std::vector<Hold> last = {},
                           Act act = Act::Idle, double every = 1) {
        std::vector<Hold> holds;
        for (int a = 0; a < addresses; ++a)
            holds.push_back({"198.51.100." + std::to_string(a), each, act, every});
        holds.insert(holds.end(), last.begin(), last.end());
        return holds;
    };
    using enum ApiEviction;
    struct Case {
        const char* name;
        std::vector<Hold> holds;
        std::string newcomer;
        int evicted;
        std::optional<ApiEviction> reason;
        double wait = ApiConnections::kGraceSeconds;
        int hardLimit = ApiConnections::kDefaultHardLimit;
    } cases[] = {
        {"fifteen from one address leave room", {{"A", 15}}, "A", 0, {}},
        {"sixteenth stale idle: the longest idle of the address goes",
         {{"A", 16}},
         "A",
         1,
         PerAddress},
        {"young connections are never closed", {{"A", 16, Act::Idle, 0.1}}, "A", 0, {}, 0.1},
        {"one that has begun its request is never closed", {{"A", 16, Act::Partial}}, "A", 0, {}},
        {"a request made is never closed",
         {{"A", 15, Act::Request}, {"A", 1}},
         "A",
         16,
         PerAddress},
        {"an address whose sixteen asked is admitted", {{"A", 16, Act::Request}}, "A", 0, {}},
        {"another address is not capped by the first", {{"A", 16}}, "B", 0, {}},
        {"full table: its own address goes first", others(16, 15, {{"A", 16}}), "A", 241,
         PerAddress},
        {"full table: an address's own idle one before older ones", others(17, 15, {{"A", 1}}), "A",
         256, TableFull},
        {"full table, new address: the longest idle of all", others(16, 16), "C", 1, TableFull},
        {"full table of young connections admits",
         others(16, 16, {}, Act::Idle, 0.001),
         "C",
         0,
         {},
         0.1},
        {"full table of requests admits", others(16, 16, {}, Act::Request), "C", 0, {}},
        {"hard limit: the oldest idle goes, however young", others(2, 150, {}, Act::Idle, 0.001),
         "C", 1, TableFull, 0, 300},
        {"hard limit of requests refuses", others(2, 150, {}, Act::Request), "C", -1, {}, 2, 300},
    };
    for (const auto& c : cases) {
        test::SimHost sim;
        sim.state().APIkey = kKey;
        ApiConnections connections(sim.station());
        connections.setHardLimit(c.hardLimit);
        for (const auto& hold : c.holds) {
            for (int n = 0; n < hold.count; ++n) {
                sim.clock.advanceSeconds(hold.every);
                const auto admitted = connections.accept(hold.client);
                ASSERT_TRUE(admitted && admitted->evicted == 0) << c.name;
                if (hold.act == Act::Partial) connections.receive(admitted->element, "GET /");
                if (hold.act == Act::Request) {
                    ASSERT_TRUE(connections.receive(admitted->element, kGetCurrent));
                }
            }
        }
        sim.clock.advanceSeconds(c.wait);
        const int openBefore = connections.openCount();
        const auto admitted = connections.accept(c.newcomer);
        ASSERT_EQ(admitted.has_value(), c.evicted >= 0) << c.name;
        if (!admitted) continue;
        EXPECT_EQ(admitted->evicted, c.evicted) << c.name;
        // The element closed is the only free one, so the newcomer gets it.
        EXPECT_EQ(admitted->element, c.evicted ? c.evicted : openBefore + 1) << c.name;
        for (const ApiEviction reason : kApiEvictions) {
            EXPECT_EQ(sim.station().counters.apiEvictionsBy(reason), c.reason == reason ? 1 : 0)
                << c.name << " " << evictionName(reason);
        }
        const auto answer = connections.receive(admitted->element, kGetCurrent);
        ASSERT_TRUE(answer.has_value()) << c.name;
        EXPECT_NE(answer->find("Source: "), std::string::npos) << c.name;
    }
}

TEST_F(ApiConnectionsTest, EvictionsAreJournaledInOneLineAMinuteAtMost) {
    const auto lines = [&] { return std::ranges::count(host.journal.str(), '\n'); };
    for (int i = 0; i < 16; ++i)
        table.accept("203.0.113.9");
    host.clock.advanceSeconds(ApiConnections::kGraceSeconds);
    table.accept("203.0.113.9");
    EXPECT_EQ(lines(), 1);
    EXPECT_NE(host.journal.str().find("event=api_connections_evicted per_address=1 table_full=0 "
                                      "last_client=203.0.113.9"),
              std::string::npos);
    for (const double later : {0.0, 0.0, 0.0, 0.0, 0.0, 59.0}) {
        host.clock.advanceSeconds(later);
        table.accept("203.0.113.9");
    }
    EXPECT_EQ(lines(), 1);
    host.clock.advanceSeconds(1);
    table.overdue();
    EXPECT_EQ(lines(), 2) << "the six since are told without a new eviction";
    EXPECT_NE(host.journal.str().find("per_address=6 table_full=0"), std::string::npos);
    host.clock.advanceSeconds(120);
    table.overdue();
    EXPECT_EQ(lines(), 2) << "nothing new to tell";
}

TEST_F(ApiConnectionsTest, AnsweredRequestShowsItsPathAndIgnoresLaterData) {
    const int i = accept();
    const auto answer = table.receive(i, kGetCurrent);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, answerWith("Source: 4\r\nURL: None\r\nName: NONE\r\nVolume: 100\r\n"));
    EXPECT_EQ(table.lines()[i], "01 Transfering: /api/getcurrent.php?id=k");
    EXPECT_FALSE(table.receive(i, kGetCurrent).has_value());
    // Later data is read and dropped up to a bound; beyond it the element is closed at once.
    const std::string big(ApiConnections::kMaxDrained - kGetCurrent.size(), 'x');
    EXPECT_FALSE(table.receive(i, big).has_value());
    EXPECT_EQ(table.receive(i, "x"), std::string());
    table.closed(i);
    EXPECT_EQ(table.lines()[i], "01 Closed");
    EXPECT_FALSE(table.receive(i, kGetCurrent).has_value()) << "closed element";
}

TEST_F(ApiConnectionsTest, SplitRequestIsAnsweredWhenItsLineIsComplete) {
    const int i = accept();
    for (const char* piece : {"G", "ET /api/getcur", "rent.php?id=k HTTP/1."}) {
        EXPECT_FALSE(table.receive(i, piece).has_value()) << piece;
    }
    const auto answer = table.receive(i, "0\r\n\r\n");
    ASSERT_TRUE(answer.has_value());
    EXPECT_NE(answer->find("Source: 4\r\n"), std::string::npos);
}

TEST_F(ApiConnectionsTest, NoClientGetsAnotherClientsResponse) {
    host.display().lblRXmetadata.caption = "Artist - Title";
    const int first = accept();
    const int second = accept();
    EXPECT_FALSE(table.receive(second, "GET /api/metadata.php").has_value());
    ASSERT_TRUE(table.receive(first, kGetCurrent).has_value());
    const auto secondAnswer = table.receive(second, "?id=k HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(secondAnswer.has_value());
    EXPECT_EQ(*secondAnswer, answerWith("Artist - Title\r\nOK\r\n"));

    const int third = accept();
    const auto thirdAnswer = table.receive(third, "HEAD / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(thirdAnswer.has_value());
    EXPECT_EQ(*thirdAnswer, answerWith("ERROR"));
}

TEST_F(ApiConnectionsTest, DataThatCannotBecomeARequestIsAnsweredErrorAtOnce) {
    const char* cases[] = {"get /api/getcurrent.php?id=k HTTP/1.1\r\n", "POST / HTTP/1.1\r\n",
                           "\r\n", "GEX"};
    for (const char* data : cases) {
        const int i = accept();
        const std::string lineBefore = table.lines()[i];
        const auto answer = table.receive(i, data);
        ASSERT_TRUE(answer.has_value()) << data;
        EXPECT_EQ(*answer, answerWith("ERROR")) << data;
        EXPECT_EQ(table.lines()[i], lineBefore) << "no path is shown for data without a request";
        table.closed(i);
    }
}

TEST_F(ApiConnectionsTest, UnfinishedDataBeyondTheBoundIsAnsweredError) {
    const int i = accept();
    const std::string start = "GET /" + std::string(ApiConnections::kMaxPending - 5, 'a');
    EXPECT_FALSE(table.receive(i, start).has_value()) << "exactly the bound is kept";
    const auto answer = table.receive(i, "a");
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, answerWith("ERROR"));

    const int big = accept();
    const auto bigAnswer = table.receive(big, "GET /" + std::string(1 << 20, 'b'));
    ASSERT_TRUE(bigAnswer.has_value());
    EXPECT_EQ(*bigAnswer, answerWith("ERROR"));
}

TEST_F(ApiConnectionsTest, ConnectionsWithoutARequestEndAfterTheDeadline) {
    const int idle = accept();
    const int partial = accept();
    const int answered = accept();
    EXPECT_FALSE(table.receive(partial, "GET /api/getcurrent.php?id=k HTTP/1.").has_value());
    host.clock.advanceSeconds(5);
    ASSERT_TRUE(table.receive(answered, kGetCurrent).has_value());

    host.clock.advanceSeconds(4.9);
    EXPECT_TRUE(table.overdue().empty());
    host.clock.advanceSeconds(0.1);
    const auto ended = table.overdue();
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[0].element, idle);
    EXPECT_EQ(ended[0].bytes, "");
    EXPECT_EQ(ended[1].element, partial);
    EXPECT_EQ(ended[1].bytes, answerWith("ERROR"));
    EXPECT_TRUE(table.overdue().empty()) << "each is ended once";
    EXPECT_FALSE(table.receive(partial, "1\r\n").has_value());
    table.closed(idle);
    table.closed(partial);

    // An answer that has not gone out ten seconds after it was made is ended without another.
    host.clock.advanceSeconds(5);
    const auto stuck = table.overdue();
    ASSERT_EQ(stuck.size(), 1u);
    EXPECT_EQ(stuck[0].element, answered);
    EXPECT_EQ(stuck[0].bytes, "");

    table.closed(answered);
    // One whose answer went out is read on until the client closes, within a bound.
    const int drained = accept();
    ASSERT_TRUE(table.receive(drained, kGetCurrent).has_value());
    table.answerSent(drained);
    host.clock.advanceSeconds(ApiConnections::kDrainSeconds - 0.1);
    EXPECT_TRUE(table.overdue().empty());
    host.clock.advanceSeconds(0.1);
    const auto drainEnded = table.overdue();
    ASSERT_EQ(drainEnded.size(), 1u);
    EXPECT_EQ(drainEnded[0].element, drained);
    EXPECT_EQ(drainEnded[0].bytes, "");
}

TEST_F(ApiConnectionsTest, FailureIsShownAndTheClientGetsError) {
    ApiConnections failing(host.station(), [](const std::filesystem::path&, std::string&) -> bool {
        throw std::runtime_error("Input/output error");
    });
    std::vector<std::string> shown;
    failing.setOnFailure([&](const std::string& text) { shown.push_back(text); });
    const int i = failing.accept()->element;
    const auto answer = failing.receive(i, "GET /api/listsources.php?id=k HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, answerWith("ERROR"));
    EXPECT_EQ(shown, std::vector<std::string>{"Input/output error\r\n Line of error:33"});
    EXPECT_EQ(failing.lastFailure(), shown.front());
    EXPECT_EQ(failing.lines()[i], "01 Transfering: /api/listsources.php?id=k");

    failing.reportFailure("Broken pipe", api_stage::send);
    EXPECT_EQ(failing.lastFailure(), "Broken pipe\r\n Line of error:56");
}

}  // namespace
}  // namespace kestrel
