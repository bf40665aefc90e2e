#include "ui/station_text.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(StationTextTest, DecodesUtf8WhereValidElseLatin1) {
    const struct {
        std::string bytes;
        QString shown;
    } cases[] = {
        {"", QString()},
        {"Force Switch Now", QStringLiteral("Force Switch Now")},
        {"K\xC3\xB6ln", QString::fromUtf8("K\xC3\xB6ln")},
        {"K\xF6ln", QString::fromUtf8("K\xC3\xB6ln")},
        {"caf\xC3", QString::fromUtf8("caf\xC3\x83")},  // cut-off sequence
        {std::string("a\0b", 3), QString::fromLatin1("a\0b", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fromStationText(c.bytes), c.shown) << c.bytes;
}

TEST(StationTextTest, TypedTextBecomesUtf8) {
    EXPECT_EQ(toStationText(QString::fromUtf8("3 K\xC3\xB6ln")), "3 K\xC3\xB6ln");
    EXPECT_EQ(toStationText(fromStationText("7 Select")), "7 Select");
}

}  // namespace
}  // namespace kestrel
