// Stands in for Apple's header on Linux, for the syntax check only: the
// screen-capture access calls (macOS 10.15) as macOS's SDK declares them.
#pragma once

extern "C" {
bool CGPreflightScreenCaptureAccess(void);
bool CGRequestScreenCaptureAccess(void);
}
