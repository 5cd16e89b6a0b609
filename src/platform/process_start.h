#pragma once

namespace platform {

// Puts the process in a known state before anything else runs: standard
// input, output and error are valid descriptors (/dev/null where they were
// closed), so no file the host opens later can land on them and be written
// to by a library that prints; the host's own output and error go to
// /dev/null, as it prints nothing; and the quit signals (and the alarm that
// makes sure a quit is acted on) are not blocked.
void settleProcess();

}  // namespace platform
