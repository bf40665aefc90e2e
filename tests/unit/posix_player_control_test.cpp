// The player control FIFO: commands reach a reader whole, and without a
// reader (no player, or one that has ended) nothing waits or breaks.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix_level_tap.h"
#include "platform/posix_player_control.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(PosixPlayerControl, CommandsReachTheReaderAndNeverWaitWithoutOne) {
    test::TempDir dir;
    PosixLevelTap levels(dir.path(), dir.path());
    PosixPlayerControl control(levels);
    const auto fifo = control.renew(1);
    ASSERT_FALSE(fifo.empty());
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_FALSE(control.send(1, "volume 25 1"));  // no player yet
    // The player opens it for reading and writing, as MPlayer does.
    const int player = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(player, 0);
    EXPECT_TRUE(control.send(1, "volume 25 1"));
    EXPECT_TRUE(control.send(1, "volume 0 1"));
    EXPECT_FALSE(control.send(3, "volume 0 1"));
    char got[64] = {};
    EXPECT_EQ(::read(player, got, sizeof got), 23);
    EXPECT_STREQ(got, "volume 25 1\nvolume 0 1\n");
    ::close(player);
    EXPECT_FALSE(control.send(1, "volume 25 1"));  // the player has ended
    // A new player gets a fresh FIFO; something else under its name is never written.
    ::unlink(fifo.c_str());
    dir.write(fifo.filename().string(), "not a fifo");
    EXPECT_FALSE(control.send(1, "volume 25 1"));
    EXPECT_EQ(control.renew(1), fifo);
}

}  // namespace
}  // namespace kestrel
