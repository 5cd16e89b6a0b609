#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class Toolkit;
class ToolkitTimer;

// The main thread's event loop: repeating timers, readable descriptors and
// work posted from any thread. Until the toolkit starts (on Linux, when a
// window is first needed) a small poll loop of its own serves them; from the
// next turn on, the toolkit's loop serves the very same ones. Each timer
// keeps its schedule across the hand-over, so no firing is lost or doubled.
// Whoever uses the loop never knows which of the two runs.
class EventLoop {
  public:
    using TimerId = std::uint64_t;

    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // The loop of the main thread; lives until the process ends.
    static EventLoop& main();

    // `action` every `seconds`, the first time `seconds` from now. A late
    // firing is not made up for: the next one keeps the schedule.
    TimerId addTimer(double seconds, std::function<void()> action);
    void removeTimer(TimerId id);
    // `action` whenever `fd` is readable; it must read what is there.
    void watchReadable(int fd, std::function<void()> action);
    // No more actions for `fd` (before it is closed).
    void unwatch(int fd);
    // Safe from any thread: `block` runs on the loop's thread, in turn.
    void post(std::function<void()> block);

    // Serves until quit() (the host: until the process ends).
    void run();
    void quit();
    // The toolkit has started: its loop serves from the next turn on.
    void handOverTo(Toolkit& toolkit);

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::duration interval;
        Clock::time_point due;
        std::function<void()> action;
    };
    struct Watch {
        int fd;
        std::function<void()> action;
    };

    void pollOnce();
    void serveWithToolkit();
    void dispatch(int fd);
    void runDueTimers();
    void runPosted();
    void armToolkitTimer();
    std::chrono::milliseconds untilNextTimer() const;

    std::map<TimerId, Timer> timers_;
    TimerId lastId_ = 0;
    std::vector<Watch> watches_;
    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
    int wake_[2] = {-1, -1};  // a byte here says work was posted
    bool quit_ = false;
    Toolkit* nextToolkit_ = nullptr;  // handed over, not serving yet
    Toolkit* toolkit_ = nullptr;      // serving
    std::unique_ptr<ToolkitTimer> toolkitTimer_;
};

}  // namespace platform
