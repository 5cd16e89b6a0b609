#include "platform/timer.h"

#include "platform/event_loop.h"

namespace platform {

RepeatingTimer::RepeatingTimer(double intervalSeconds, std::function<void()> action)
    : id_(EventLoop::main().addTimer(intervalSeconds, std::move(action))) {}

RepeatingTimer::~RepeatingTimer() {
    invalidate();
}

void RepeatingTimer::invalidate() {
    if (id_) EventLoop::main().removeTimer(id_);
    id_ = 0;
}

}  // namespace platform
