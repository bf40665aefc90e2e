#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "station/task.h"
#include "station/waits.h"
#include "support/fake_clock.h"
#include "support/fake_event_loop.h"

namespace kestrel {
namespace {

// A queued loop on virtual time and a log of what the coroutines did.
struct World {
    World() { loop.immediate = false; }
    void runAll() {
        while (const auto due = loop.nextDueMs())
            loop.runOneDueBy(*due);
    }
    test::FakeClock clock;
    test::FakeEventLoop loop{clock};
    std::vector<std::string> log;
    std::optional<Completion<int>> kept;  // a completion handed out and kept
};

Task<> sleeper(World& w, double seconds) {
    co_await sleepOn(w.loop, seconds);
    w.log.push_back("woke");
}

Task<int> waitForKept(World& w) {
    const int value = co_await WaitFor<int>([&w](Completion<int> done) { w.kept = done; });
    w.log.push_back("got " + std::to_string(value));
    co_return value;
}

Task<int> answeredAtOnce() {
    co_return co_await WaitFor<int>([](Completion<int> done) { done(7); });
}

Task<int> failing() {
    co_await std::suspend_never{};
    throw std::runtime_error("broken");
}

Task<> awaitBoth(World& w) {
    w.log.push_back("at once " + std::to_string(co_await answeredAtOnce()));
    try {
        co_await failing();
    } catch (const std::runtime_error& e) {
        w.log.push_back(std::string("caught ") + e.what());
    }
}

struct Case {
    const char* name;
    std::function<void(World&)> run;
    std::vector<std::string> log;
};

TEST(Waiting, TasksAndWaitsKeepTheirPromises) {
    const Case cases[] = {
        {"destroying a waiting task cancels its wait and skips the rest",
         [](World& w) {
             auto task = std::make_optional(sleeper(w, 5));
             EXPECT_EQ(w.loop.queued(), 1u);
             task.reset();
             EXPECT_EQ(w.loop.queued(), 0u);
             w.runAll();
         },
         {}},
        {"a completion called after its waiter has gone does nothing",
         [](World& w) {
             auto task = std::make_optional(waitForKept(w));
             EXPECT_TRUE(w.kept->wanted());
             task.reset();
             EXPECT_FALSE(w.kept->wanted());
             (*w.kept)(1);
         },
         {}},
        {"a completion resumes its waiter once, with the first value",
         [](World& w) {
             auto task = waitForKept(w);
             (*w.kept)(1);
             (*w.kept)(2);
             EXPECT_TRUE(task.done());
         },
         {"got 1"}},
        {"a wait answered at once goes on without suspending; failures reach the awaiter",
         [](World& w) {
             auto task = awaitBoth(w);
             EXPECT_TRUE(task.done());
         },
         {"at once 7", "caught broken"}},
    };
    for (const auto& c : cases) {
        World w;
        c.run(w);
        EXPECT_EQ(w.log, c.log) << c.name;
    }
}

}  // namespace
}  // namespace kestrel
