#include "platform/event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <thread>

#include "platform/toolkit.h"

// A timer's firings stay on their schedule, one each, across a slow firing that hands the loop
// over to Qt's (as the tick that loads Qt for the first window does); descriptors and work
// posted from another thread are served by both loops.
TEST(EventLoop, TimersKeepTheirScheduleAcrossTheHandOverToQt) {
    if (!qApp) qputenv("QT_QPA_PLATFORM", "offscreen"), new QApplication(*new int(0), nullptr);
    using Clock = std::chrono::steady_clock;
    using namespace std::chrono_literals;
    auto& loop = *new platform::EventLoop;  // Qt's loop keeps serving its descriptors
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    std::string served;
    loop.watchReadable(pipe[0], [&] {
        char c;
        if (::read(pipe[0], &c, 1) == 1) served += c;
    });
    std::vector<Clock::duration> firings;
    const auto start = Clock::now();
    loop.addTimer(0.25, [&] {
        firings.push_back(Clock::now() - start);
        const char mark = static_cast<char>('0' + firings.size());
        std::thread([&loop, mark, fd = pipe[1]] {
            loop.post([mark, fd] { EXPECT_EQ(::write(fd, &mark, 1), 1); });
        }).join();
        if (firings.size() == 2)
            std::this_thread::sleep_for(150ms), loop.handOverTo(*platform::loadToolkit());
        if (firings.size() == 5) loop.quit();
    });
    loop.run();
    ASSERT_EQ(firings.size(), 5u);
    for (std::size_t i = 0; i < firings.size(); ++i)
        EXPECT_NEAR(firings[i] / 1ms, 250.0 * (i + 1), 100) << i;
    EXPECT_EQ(served, "1234");  // the fifth one's byte comes after the loop has left
}
