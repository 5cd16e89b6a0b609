#pragma once

#include <chrono>

namespace platform {

// A moment on the monotonic clock by which a piece of work stops; what is
// left waits for its next turn. Setting the wall clock does not move it.
class Deadline {
  public:
    static Deadline after(std::chrono::milliseconds budget) {
        return Deadline(Clock::now() + budget);
    }
    static Deadline never() { return Deadline(Clock::time_point::max()); }
    // The same deadline moved on by `by`: the time some other work took.
    Deadline later(std::chrono::steady_clock::duration by) const {
        return at_ == Clock::time_point::max() ? *this : Deadline(at_ + by);
    }
    bool passed() const { return at_ != Clock::time_point::max() && Clock::now() >= at_; }

  private:
    using Clock = std::chrono::steady_clock;
    explicit Deadline(Clock::time_point at) : at_(at) {}
    Clock::time_point at_;
};

}  // namespace platform
