#include "status/timeline_picture.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Timeline, ShowsWhatWasOnAirWhatWasOrderedAndWhatWentWrong) {
    History history;
    history.add(50, "switch", {{"source", "9"}, {"cause", "schedule"}});
    history.add(200, "player_outage", {{"source", "9"}});
    history.add(290, "web_order", {{"client", "<me>"}, {"key", "3"}});
    history.add(300, "switch", {{"source", "3"}, {"cause", "web"}});
    history.add(350, "title", {});
    history.add(400, "start", {});
    history.add(500, "switch", {{"source", "0"}, {"cause", "failover"}});
    history.add(510, "failure_declared", {{"source", "3"}});
    history.add(600, "level", {{"source", "0"}, {"rms_dbfs", "-18.5"}});
    history.add(2000, "switch", {{"source", "1"}, {"cause", "schedule"}});

    const Timeline timeline = timelineOf(history, 1000, 900);
    struct OnAir {
        double from, to;
        int source;
    };
    const std::vector<OnAir> expected = {{100, 300, 9}, {300, 400, 3}, {500, 1000, 0}};
    ASSERT_EQ(timeline.onAir.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(timeline.onAir[i].from, expected[i].from) << i;
        EXPECT_EQ(timeline.onAir[i].to, expected[i].to) << i;
        EXPECT_EQ(timeline.onAir[i].source, expected[i].source) << i;
    }
    ASSERT_EQ(timeline.marks.size(), 3u);
    EXPECT_EQ(timeline.marks[0].kind, Timeline::Kind::Outage);
    EXPECT_EQ(timeline.marks[1].text, "Control room at <me> asked for source 3");
    EXPECT_EQ(timeline.marks[2].kind, Timeline::Kind::Failover);
    ASSERT_EQ(timeline.levels.size(), 1u);
    EXPECT_EQ(timeline.levels[0].rmsDbfs, -18.5);

    const std::string svg = timelinePicture(timeline, 3600, -40);
    EXPECT_NE(svg.find("<title>01:04:50 Control room at &lt;me&gt; asked for source 3</title>"),
              std::string::npos);
    EXPECT_EQ(svg.find("<me>"), std::string::npos);
    EXPECT_NE(svg.find("class=\"level\""), std::string::npos);
}

}  // namespace
}  // namespace kestrel
