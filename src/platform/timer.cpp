#include "platform/timer.h"

#include <QTimer>
#include <cmath>

namespace platform {

RepeatingTimer::RepeatingTimer(double intervalSeconds, std::function<void()> action)
    : timer_(std::make_unique<QTimer>()) {
    // No tolerance: the default coarse timer may drift by 5 %.
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(static_cast<int>(std::lround(intervalSeconds * 1000.0)));
    QObject::connect(timer_.get(), &QTimer::timeout, std::move(action));
    timer_->start();
}

RepeatingTimer::~RepeatingTimer() = default;

void RepeatingTimer::invalidate() {
    timer_->stop();
}

}  // namespace platform
