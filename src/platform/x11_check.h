#pragma once

#include <chrono>
#include <string>

// A one-shot look at an X server, for a diagnosis: connect, ask for XTEST and
// for a 1x1 image of the root window, disconnect. Unlike the host's own
// probe connection (x11_probe.h) nothing is kept, and the whole look has one
// deadline: a stopped server accepts the connection but never answers, and
// xcb has no deadline of its own.
namespace platform::x11 {

struct ServerCheck {
    enum class Reach { Answered, Refused, Silent } reach = Reach::Refused;
    std::string why;  // Refused: what xcb reported
    bool xtest = false;
    bool rootReadable = false;
};

// Looks at `display` (as DISPLAY names it), within `deadline`, from a child
// process that is gone again when this returns; nothing is left in the
// caller. Fork's child may only do what is safe after a fork: call this from
// a process with one thread.
ServerCheck checkServer(const std::string& display, std::chrono::milliseconds deadline);

}  // namespace platform::x11
