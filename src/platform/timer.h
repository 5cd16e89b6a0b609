#pragma once

#include <functional>
#include <memory>

namespace platform {

class ToolkitTimer;

// A repeating timer on the main run loop. Once invalidated it calls nothing.
class RepeatingTimer {
  public:
    RepeatingTimer(double intervalSeconds, std::function<void()> action);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void invalidate();

  private:
    std::unique_ptr<ToolkitTimer> impl_;
};

}  // namespace platform
