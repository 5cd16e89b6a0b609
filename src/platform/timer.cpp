#include "platform/timer.h"

#include "platform/toolkit.h"

namespace platform {

RepeatingTimer::RepeatingTimer(double intervalSeconds, std::function<void()> action)
    : impl_(toolkit()->repeatingTimer(intervalSeconds, std::move(action))) {}

RepeatingTimer::~RepeatingTimer() = default;

void RepeatingTimer::invalidate() {
    impl_->stop();
}

}  // namespace platform
