#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Timer.h"

using namespace platform;
using namespace std::chrono_literals;

TEST(Timer, FiresPeriodicallyUntilStopped) {
    std::atomic<int> calls{0};
    PeriodicTimer timer;
    timer.Start(20ms, [&] { ++calls; });
    EXPECT_TRUE(timer.IsRunning());
    std::this_thread::sleep_for(250ms);
    timer.Stop();
    EXPECT_FALSE(timer.IsRunning());
    const int seen = calls.load();
    EXPECT_GE(seen, 4);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), seen);
}

TEST(Timer, StopWaitsForTheRunningCallback) {
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    PeriodicTimer timer;
    timer.Start(5ms, [&] {
        inside = true;
        std::this_thread::sleep_for(100ms);
        finished = true;
    });
    while (!inside) {
        std::this_thread::sleep_for(1ms);
    }
    timer.Stop();
    EXPECT_TRUE(finished.load());
}

TEST(Timer, CanBeStoppedFromItsOwnCallbackAndRestarted) {
    std::atomic<int> calls{0};
    PeriodicTimer timer;
    timer.Start(5ms, [&] {
        ++calls;
        timer.Stop();
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), 1);
    timer.Start(5ms, [&] { ++calls; });
    std::this_thread::sleep_for(60ms);
    timer.Stop();
    EXPECT_GT(calls.load(), 1);
}
