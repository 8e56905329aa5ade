#include "loop/event_loop.h"
#include "loop/timers.h"
#include "loop/wait_table.h"

#include "fake_port.h"
#include "port/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> calls;

void Record(WaitTable* table, std::int32_t index, void* context) {
    EXPECT_EQ(&waitTable, table);
    calls.push_back(std::string(static_cast<const char*>(context)) + "@" + std::to_string(index));
}

class EventLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::Reset();
        calls.clear();
    }
};

std::vector<port::Handle> Handles() {
    return std::vector<port::Handle>(waitTable.handles, waitTable.handles + waitTable.count);
}

TEST_F(EventLoopTest, RemovalKeepsTheOrderAndReAddingAppends) {
    char c[] = "console", a[] = "A", b[] = "B", d[] = "C";
    AddWaitHandle(11, Record, c);
    AddWaitHandle(21, Record, a);
    AddWaitHandle(22, Record, b);
    AddWaitHandle(23, Record, d);
    RemoveWaitHandle(21);
    EXPECT_EQ((std::vector<port::Handle>{11, 22, 23}), Handles());
    EXPECT_EQ(b, waitTable.contexts[1]);
    EXPECT_EQ(d, waitTable.contexts[2]);
    AddWaitHandle(31, Record, a);
    EXPECT_EQ((std::vector<port::Handle>{11, 22, 23, 31}), Handles());
    EXPECT_EQ(a, waitTable.contexts[3]);
    EXPECT_EQ(Record, waitTable.callbacks[3]);
}

TEST_F(EventLoopTest, RemovingAnUnknownHandleChangesNothingAndADuplicateGoesLowestFirst) {
    char x[] = "x", y[] = "y";
    AddWaitHandle(5, Record, x);
    AddWaitHandle(6, Record, y);
    AddWaitHandle(5, Record, y);
    RemoveWaitHandle(99);
    EXPECT_EQ(3, waitTable.count);
    RemoveWaitHandle(5);
    EXPECT_EQ((std::vector<port::Handle>{6, 5}), Handles());
    EXPECT_EQ(y, waitTable.contexts[1]);
    RemoveWaitHandle(6);
    RemoveWaitHandle(5);
    EXPECT_EQ(0, waitTable.count);
    RemoveWaitHandle(5);
    EXPECT_EQ(0, waitTable.count);
}

TEST_F(EventLoopTest, TheTableRefusesARowBeyondItsSize) {
    char x[] = "x";
    for (int i = 0; i < kWaitTableSize; ++i)
        EXPECT_TRUE(AddWaitHandle(100 + i, Record, x));
    EXPECT_FALSE(AddWaitHandle(500, Record, x));
    EXPECT_EQ(kWaitTableSize, waitTable.count);
    EXPECT_EQ(100 + kWaitTableSize - 1, waitTable.handles[kWaitTableSize - 1]);
}

TEST_F(EventLoopTest, EveryReadyRowIsServedInRowOrderInOnePass) {
    char c[] = "console", a[] = "A", b[] = "B";
    AddWaitHandle(11, Record, c);
    AddWaitHandle(21, Record, a);
    AddWaitHandle(22, Record, b);
    fake::Get().signalled = {22, 11, 21};
    fake::Get().onWait = [](int wait) {
        if (wait == 2) {
            fake::Get().signalled = {22};
            RunningFlag = false; // the pass still serves what its wait found
        }
    };
    RunEventLoop();
    EXPECT_EQ((std::vector<std::string>{"console@0", "A@1", "B@2", "B@2"}), calls);
    EXPECT_EQ((std::vector<std::uint32_t>(2, kEventLoopPauseMs)), fake::Get().sleeps);
}

void StopB(WaitTable*, std::int32_t, void*) {
    calls.push_back("stop B");
    RemoveWaitHandle(22);
    // A new row takes B's handle number: it was not what the wait found.
    AddWaitHandle(22, Record, const_cast<char*>("new B"));
}

TEST_F(EventLoopTest, ARowAnEarlierCallbackRemovedIsNotServed) {
    char b[] = "B";
    AddWaitHandle(11, StopB, nullptr);
    AddWaitHandle(22, Record, b);
    fake::Get().signalled = {11, 22};
    fake::Get().onWait = [](int wait) {
        if (wait == 1)
            RunningFlag = false;
    };
    RunEventLoop();
    EXPECT_EQ((std::vector<std::string>{"stop B"}), calls);
}

void Quit(WaitTable*, std::int32_t, void*) {
    calls.push_back("quit");
    RunningFlag = false;
}

TEST_F(EventLoopTest, QuitEndsTheLoopAfterThePassWithoutAnotherWait) {
    char a[] = "A";
    AddWaitHandle(11, Quit, nullptr);
    AddWaitHandle(21, Record, a);
    fake::Get().signalled = {11, 21};
    RunEventLoop();
    EXPECT_EQ((std::vector<std::string>{"quit"}), calls);
    EXPECT_EQ(1, fake::Get().waits);
    EXPECT_EQ(1u, fake::Get().sleeps.size()) << "the pass still ends with its pause";
    EXPECT_FALSE(RunningFlag);
    EXPECT_EQ(2, waitTable.count) << "nothing is unregistered on the way out";
}

TEST_F(EventLoopTest, AClearedFlagReturnsAtOnce) {
    RunningFlag = false;
    RunEventLoop();
    EXPECT_EQ(0, fake::Get().waits);
    EXPECT_TRUE(fake::Get().sleeps.empty());
}

TEST_F(EventLoopTest, AFailedWaitDispatchesNothingAndPauses) {
    char a[] = "A";
    AddWaitHandle(21, Record, a);
    fake::Get().onWait = [](int wait) {
        if (wait == 3) {
            fake::Get().signalled = {21};
            RunningFlag = false;
        }
    };
    RunEventLoop();
    EXPECT_EQ((std::vector<std::string>{"A@0"}), calls);
    EXPECT_EQ(2, fake::Get().failedWaits);
    EXPECT_EQ(3u, fake::Get().sleeps.size());
}

void RemoveSelfAndAppend(WaitTable* table, std::int32_t index, void*) {
    calls.push_back("relaunch@" + std::to_string(index));
    port::Handle h = table->handles[index];
    RemoveWaitHandle(h);
    AddWaitHandle(h + 100, Record, const_cast<char*>("new"));
}

TEST_F(EventLoopTest, ACallbackMayChangeTheTableForTheNextPass) {
    char c[] = "console", b[] = "B";
    AddWaitHandle(11, Record, c);
    AddWaitHandle(21, RemoveSelfAndAppend, nullptr);
    AddWaitHandle(22, Record, b);
    fake::Get().signalled = {21};
    fake::Get().onWait = [](int wait) {
        if (wait == 2) {
            fake::Get().signalled = {121};
            RunningFlag = false;
        }
    };
    RunEventLoop();
    EXPECT_EQ((std::vector<std::string>{"relaunch@1", "new@2"}), calls);
    EXPECT_EQ((std::vector<port::Handle>{11, 22, 121}), Handles());
}

// --- timers ---

void Tick(void* context) {
    calls.push_back(std::string("timer ") + static_cast<const char*>(context));
}

void TickAndAdd(void* context) {
    Tick(context);
    AddTimer(0, Tick, const_cast<char*>("added"));
}

char* Name(const char* text) {
    return const_cast<char*>(text);
}

TEST_F(EventLoopTest, TimersRunInDeadlineOrderEqualOnesInTheOrderAdded) {
    AddTimer(300, Tick, Name("c"));
    AddTimer(100, Tick, Name("a"));
    AddTimer(300, Tick, Name("d"));
    AddTimer(100, Tick, Name("b"));
    const TimerId cancelled = AddTimer(50, Tick, Name("cancelled"));
    EXPECT_TRUE(CancelTimer(cancelled));
    EXPECT_FALSE(CancelTimer(cancelled));
    EXPECT_FALSE(CancelTimer(0));
    EXPECT_EQ(100u, TimerWaitLimitMs());

    fake::Get().nowMs += 99;
    RunDueTimers();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(1u, TimerWaitLimitMs());
    fake::Get().nowMs += 201;
    RunDueTimers();
    EXPECT_EQ((std::vector<std::string>{"timer a", "timer b", "timer c", "timer d"}), calls);
    EXPECT_EQ(port::kWaitForever, TimerWaitLimitMs());
}

TEST_F(EventLoopTest, ATimerAddedByATimerRunsInTheNextCallAndAFullListRefuses) {
    AddTimer(0, TickAndAdd, Name("first"));
    RunDueTimers();
    EXPECT_EQ((std::vector<std::string>{"timer first"}), calls);
    EXPECT_EQ(0u, TimerWaitLimitMs()) << "the new timer is due at once";
    RunDueTimers();
    EXPECT_EQ((std::vector<std::string>{"timer first", "timer added"}), calls);

    for (int i = 0; i < kTimerListSize; ++i)
        EXPECT_NE(0u, AddTimer(1000, Tick, Name("x")));
    EXPECT_EQ(0u, AddTimer(1, Tick, Name("one too many")));
    EXPECT_EQ(1000u, TimerWaitLimitMs());
}

TEST_F(EventLoopTest, TheWaitEndsAtTheEarliestTimerAndDueTimersRunAfterTheRows) {
    char a[] = "A";
    AddWaitHandle(21, Record, a);
    AddTimer(250, Tick, Name("1"));
    fake::Get().onWait = [](int wait) {
        if (wait == 2) {
            fake::Get().signalled = {21};
            AddTimer(0, Tick, Name("2"));
        }
        if (wait == 3) {
            fake::Get().signalled.clear();
            RunningFlag = false;
        }
    };
    RunEventLoop();
    EXPECT_EQ((std::vector<std::string>{"timer 1", "A@0", "timer 2"}), calls);
    // Without a timer the wait has no limit: an idle manager never wakes.
    EXPECT_EQ((std::vector<std::uint32_t>{250, port::kWaitForever, port::kWaitForever}),
              fake::Get().waitLimits);
}

} // namespace
