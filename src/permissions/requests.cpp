#include "permissions/requests.h"

#include "app/quorva_desktop.h"

// Each press asks the system first, then opens the pane; nothing is probed
// beforehand and no answer is looked at.
void QuorvaDesktop::grantAX() {
    system_.requestAccessibility();
    system_.openUrl(permissions::kAccessibilityPaneUrl);
}

void QuorvaDesktop::grantScreen() {
    system_.requestScreenCapture();
    system_.openUrl(permissions::kScreenRecordingPaneUrl);
}
