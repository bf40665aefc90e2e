#include "platform/profile_reader.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(ProfileReader, ReadsValuesAsTheStationAlwaysHas) {
    test::TempDir dir;
    const std::string longValue(200, 'x');
    dir.write("k.ini",
              "; comment\r\n"
              "[Other]\r\nAPIallowed=1\r\n"
              "[ kestrelfield ]\r\n"
              "apiallowed =  1  \r\n"
              "Quoted=\"  spaced  \"\r\n"
              "Single='a'\r\n"
              "Half=\"a\r\n"
              "Long=" +
                  longValue +
                  "\r\n"
                  "Equals=a=b\n"
                  "Empty=\n"
                  "Nul=ab" +
                  std::string(1, '\0') +
                  "cd\r"
                  ";Commented=1\r\n"
                  "Dup=first\r\nDup=second\r\n");
    const auto file = dir.path() / "k.ini";
    struct Case {
        const char* key;
        std::string expected;
    } cases[] = {
        {"APIallowed", "1"},
        {"Quoted", "  spaced  "},
        {"Single", "a"},
        {"Half", "\"a"},
        {"Long", std::string(119, 'x')},
        {"Equals", "a=b"},
        {"Empty", ""},
        {"Nul", "ab"},
        {"Commented", "DEFAULT"},
        {"Dup", "first"},
        {"Missing", "DEFAULT"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readProfileString(file, "Kestrelfield", c.key, "DEFAULT"), c.expected) << c.key;
    }
    EXPECT_EQ(readProfileString(dir.path() / "absent.ini", "Kestrelfield", "A", "DEF"), "DEF");
}

TEST(ProfileReader, NumbersRoundHalfToEvenAndClamp) {
    struct Case {
        std::string text;
        std::int16_t expected;
    } cases[] = {
        {"1", 1},      {"01", 1},        {"2.5", 2},
        {"3.5", 4},    {"-7", -7},       {"abc", 0},
        {"", 0},       {"99999", 32767}, {"-99999", -32768},
        {"5min", 5},   {"/home", 0},     {"-2.5", -2},
        {"1e3", 1000}, {"+4", 4},        {"1" + std::string(400, '0'), 32767},
    };
    for (const auto& c : cases)
        EXPECT_EQ(profileNumber(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace kestrel
