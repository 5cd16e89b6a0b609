#pragma once

namespace platform {

// Starts looking for the display, in the background where that can take a
// while (and again whenever it is lost), so that no tick waits for it.
void lookForDisplay();

// Whether the toolkit starts with the host (macOS: it is the application) or
// only when a window is first needed (Linux).
bool toolkitStartsAtLaunch();

// The toolkit platform the host runs on, chosen by the host alone (neither
// QT_QPA_PLATFORM nor a -platform argument) when the toolkit starts: the X
// display when it answers then, else Qt's offscreen platform, so the host
// works on a machine without one.
const char* toolkitPlatform();

// Whether the display answers now: false while it does not (a stopped X
// server), when a toolkit call that waits for it would hold the host until
// it came back.
bool displayAnswers();

}  // namespace platform
