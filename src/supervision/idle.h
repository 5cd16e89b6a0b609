#pragma once

namespace supervision {

// More than this many seconds unattended ends the host; exactly this does not.
inline constexpr double kIdleLimitSeconds = 60.0;

struct IdleDecision {
    double idleSince;  // the clock to keep
    bool quit;
};

// An attended tick moves the clock to `now`; an unattended one keeps it and
// quits once more than the limit has passed. Wall-clock time: a jump forward
// can end the host early, a jump back keeps it longer.
IdleDecision decideIdle(bool attended, double now, double idleSince);

}  // namespace supervision
