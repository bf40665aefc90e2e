#include "api/api_connections.h"

#include <gtest/gtest.h>

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

    int accept() {
        const auto element = table.accept();
        EXPECT_TRUE(element.has_value());
        return element.value_or(-1);
    }

    test::SimHost host;
    ApiConnections table{host.station()};
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

TEST_F(ApiConnectionsTest, AtMost256AreOpen) {
    for (int i = 1; i <= ApiConnections::kMaxOpen; ++i)
        EXPECT_EQ(accept(), i);
    EXPECT_FALSE(table.accept().has_value());
    table.closed(40);
    EXPECT_EQ(table.accept(), 40);
    EXPECT_FALSE(table.accept().has_value());
    EXPECT_EQ(table.lines().size(), 257u);
}

TEST_F(ApiConnectionsTest, AnsweredRequestShowsItsPathAndIgnoresLaterData) {
    const int i = accept();
    const auto answer = table.receive(i, kGetCurrent);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, answerWith("Source: 4\r\nURL: None\r\nName: NONE\r\nVolume: 100\r\n"));
    EXPECT_EQ(table.lines()[i], "01 Transfering: /api/getcurrent.php?id=k");
    EXPECT_FALSE(table.receive(i, kGetCurrent).has_value());
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
}

TEST_F(ApiConnectionsTest, FailureIsShownAndTheClientGetsError) {
    ApiConnections failing(host.station(), [](const std::filesystem::path&, std::string&) -> bool {
        throw std::runtime_error("Input/output error");
    });
    std::vector<std::string> shown;
    failing.setOnFailure([&](const std::string& text) { shown.push_back(text); });
    const int i = *failing.accept();
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
