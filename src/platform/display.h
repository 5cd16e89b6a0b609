#pragma once

namespace platform {

// Starts looking for the display, in the background where that can take a
// while, so that the answer is there by the time the toolkit starts.
void lookForDisplay();

// The toolkit platform the host runs on, chosen by the host alone (neither
// QT_QPA_PLATFORM nor a -platform argument): the X display when one answers,
// else Qt's offscreen platform, so the host works on a machine without one.
const char* toolkitPlatform();

}  // namespace platform
