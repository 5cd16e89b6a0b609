#include "supervision/idle.h"

namespace supervision {

IdleDecision decideIdle(bool attended, double now, double idleSince) {
    if (attended) return {now, false};
    return {idleSince, now - idleSince > kIdleLimitSeconds};
}

}  // namespace supervision
