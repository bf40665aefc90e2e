#include "status/week_picture.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(WeekPicture, StretchesRunFromEventToEventAcrossTheWeekEnd) {
    // Monday 08:00 source 1, Monday 20:00 source 2, Saturday 22:00 source 3; noise besides.
    const auto events = weekEvents(
        "2 200000 2\r\n; 2 100000 9\r\n2 080000 1\r\n2 200000 5\r\n7 220000 3\r\n"
        "8 100000 4\r\n3 250000 4\r\n2 090000 x \r\n");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].source, 2) << "of one second, the first line wins";
    EXPECT_EQ(events[1].line, 1u);

    struct Stretch {
        int weekday, from, to, source;
    };
    const std::vector<Stretch> expected = {
        {1, 0, 86400, 3}, {2, 0, 28800, 3},     {2, 28800, 72000, 1}, {2, 72000, 86400, 2},
        {3, 0, 86400, 2}, {4, 0, 86400, 2},     {5, 0, 86400, 2},     {6, 0, 86400, 2},
        {7, 0, 79200, 2}, {7, 79200, 86400, 3},
    };
    const auto stretches = weekStretches(events);
    ASSERT_EQ(stretches.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(stretches[i].weekday, expected[i].weekday) << i;
        EXPECT_EQ(stretches[i].from, expected[i].from) << i;
        EXPECT_EQ(stretches[i].to, expected[i].to) << i;
        EXPECT_EQ(stretches[i].source, expected[i].source) << i;
    }

    const LocalDateTime saturdayNight{2026, 12, 12, 23, 0, 0, 7};
    EXPECT_EQ(eventMoment(*nextWeekEvent(events, saturdayNight)), "Mon 08:00:00");
    SourceTable sources;
    sources.names[1] = "Dales <Morning>";
    const std::string svg = weekPicture(events, sources, saturdayNight);
    EXPECT_NE(svg.find("data-day=\"2\" data-source=\"1\" data-from=\"28800\""), std::string::npos);
    EXPECT_NE(svg.find("Dales &lt;Morning&gt;"), std::string::npos);
    EXPECT_EQ(svg.find("<Morning>"), std::string::npos);
    EXPECT_TRUE(weekStretches({}).empty());
}

}  // namespace
}  // namespace kestrel
