#pragma once

namespace platform {

// Whether the toolkit should open a real display: an X server answers, or
// QT_QPA_PLATFORM names a platform explicitly. Otherwise the host runs on
// Qt's offscreen platform so it still works on a machine without one.
bool displayWanted();

}  // namespace platform
