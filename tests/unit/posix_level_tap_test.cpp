#include "platform/posix_level_tap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Whatever lies at the directory's name first, the players' files go where
// only this user can enter, and the station's own directory of an earlier
// run is used again.
TEST(PosixLevelTap, PlayersWriteWhereOnlyThisUserCanEnter) {
    test::TempDir base;
    const struct {
        const char* name;
        std::function<void(const fs::path&)> place;
        bool reused;
    } cases[] = {
        {"nothing", [](const fs::path&) {}, true},
        {"an earlier run's",
         [](const fs::path& p) {
             fs::create_directory(p), fs::permissions(p, fs::perms::owner_all);
         },
         true},
        {"a file", [](const fs::path& p) { std::ofstream{p}; }, false},
        {"a link", [&](const fs::path& p) { fs::create_directory_symlink(base.path(), p); }, false},
        {"open to all",
         [](const fs::path& p) { fs::create_directory(p), fs::permissions(p, fs::perms::all); },
         false},
        {"another user's",
         [](const fs::path& p) {
             fs::create_directory(p), fs::permissions(p, fs::perms::owner_all);
             if (::chown(p.c_str(), 65534, 65534) != 0) fs::permissions(p, fs::perms::all);
         },
         false},
    };
    for (const auto& c : cases) {
        c.place(base.path() / c.name);
        const fs::path dir = privateDirectory(base.path(), c.name);
        EXPECT_EQ(dir == base.path() / c.name, c.reused) << c.name;
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir))) << c.name;
        EXPECT_EQ(fs::status(dir).permissions() & (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none)
            << c.name;
        EXPECT_EQ(PosixLevelTap(dir, "/srv/station").file(1, TapPoint::Heard).parent_path(), dir)
            << c.name;
    }
    EXPECT_EQ(PosixLevelTap({}, "/srv/station").file(1, TapPoint::Source), fs::path())
        << "no directory: no file";
}

}  // namespace
}  // namespace kestrel
