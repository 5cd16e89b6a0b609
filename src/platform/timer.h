#pragma once

#include <cstdint>
#include <functional>

namespace platform {

// A repeating timer on the main thread's event loop, the first firing one
// interval from now. Once invalidated it calls nothing.
class RepeatingTimer {
  public:
    RepeatingTimer(double intervalSeconds, std::function<void()> action);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void invalidate();

  private:
    std::uint64_t id_;
};

}  // namespace platform
