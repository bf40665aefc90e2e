#include "api/http_message.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(HttpMessage, ArrivalWaitsForTheHeaderAndTheWholeBody) {
    const std::string post = "POST /control/save HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
    struct Case {
        std::string text;
        RequestArrival arrival;
    } cases[] = {
        {"GET /control HTTP/1.1\r\nHost: h\r\n", RequestArrival::Partial},
        {"GET /control HTTP/1.1\r\nHost: h\r\n\r\n", RequestArrival::Whole},
        {"GET /control HTTP/1.0\n\n", RequestArrival::Whole},
        {post + "abcd", RequestArrival::Partial},
        {post + "abcde", RequestArrival::Whole},
        {"POST /control/save HTTP/1.1\r\nContent-Length: 11\r\n\r\n", RequestArrival::TooLarge},
        {"POST /control/save HTTP/1.1\r\nContent-Length: -1\r\n\r\n", RequestArrival::Malformed},
        {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", RequestArrival::Malformed},
        {"GET /control\r\n\r\n", RequestArrival::Malformed},
        {"GET /control HTTP/1.1\r\nX: " + std::string(kMaxHeaderBytes, 'x'),
         RequestArrival::TooLarge},
    };
    for (const auto& c : cases)
        EXPECT_EQ(requestArrival(c.text, 10), c.arrival) << c.text.substr(0, 60);

    const auto request = parseRequest(post + "abcdef");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->body, "abcde");
    EXPECT_EQ(request->header("CONTENT-length"), "5");
}

TEST(HttpMessage, FormsQueriesAndCookiesDecode) {
    const std::string form = "csrf=a%2Fb&text=2+083000+3%0D%0A%zz&empty=&flag";
    EXPECT_EQ(formField(form, "csrf"), "a/b");
    EXPECT_EQ(formField(form, "text"), "2 083000 3\r\n%zz");
    EXPECT_EQ(formField(form, "empty"), "");
    EXPECT_EQ(formField(form, "flag"), "");
    EXPECT_EQ(formField(form, "missing"), std::nullopt);
    EXPECT_EQ(cookieValue("a=1; kestrel_session=abc ;b=2", "kestrel_session"), "abc");
    EXPECT_EQ(cookieValue("kestrel_session_old=1", "kestrel_session"), "");
    EXPECT_TRUE(sameSecret("key", "key"));
    EXPECT_FALSE(sameSecret("ke", "key"));
    EXPECT_FALSE(sameSecret("keyy", "key"));
}

}  // namespace
}  // namespace kestrel
