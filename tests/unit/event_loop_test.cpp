#include "platform/event_loop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <thread>

#include "platform/toolkit.h"

// A timer's firings stay on their schedule, one each, across a firing that overruns several
// intervals and hands the loop over to Qt's (as the tick that loads Qt for the first window
// does, or a stopped host): the firings it overran come late, as one, and the next keeps the
// phase. Work posted from another
// thread wakes either loop at once.
TEST(EventLoop, TimersKeepTheirScheduleAcrossTheHandOverToQt) {
    if (!qApp) qputenv("QT_QPA_PLATFORM", "offscreen"), new QApplication(*new int(0), nullptr);
    using Clock = std::chrono::steady_clock;
    using namespace std::chrono_literals;
    auto& loop = *new platform::EventLoop;        // Qt's loop keeps serving its descriptors
    std::vector<Clock::duration> firings, waits;  // waits: from posting to running
    std::vector<std::thread> posters;
    const auto start = Clock::now();
    loop.addTimer(0.25, [&] {
        firings.push_back(Clock::now() - start);
        if (firings.size() == 2)
            return std::this_thread::sleep_for(900ms), loop.handOverTo(*platform::loadToolkit());
        posters.emplace_back([&loop, &waits] {
            std::this_thread::sleep_for(50ms);
            loop.post([&waits, at = Clock::now()] { waits.push_back(Clock::now() - at); });
        });
        if (firings.size() == 5) loop.quit();
    });
    loop.run();
    for (auto& poster : posters) poster.join();
    ASSERT_EQ(firings.size(), 5u);
    const double expected[] = {250, 500, 1400, 1500, 1750};
    for (std::size_t i = 0; i < firings.size(); ++i)
        EXPECT_NEAR(firings[i] / 1ms, expected[i], 100) << i;
    ASSERT_EQ(waits.size(), 3u);  // the fifth firing's comes once the loop has left
    for (const auto wait : waits) EXPECT_LT(wait, 100ms);
}
