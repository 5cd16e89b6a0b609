#include "permissions/requests.h"

#include "app/driver_config.h"
#include "app/quorva_desktop.h"
#include "platform/process_info.h"

// Each press asks the system first, then opens the pane; nothing is probed
// beforehand and no answer is looked at. The opener gets no secrets: the
// same variables are kept from it as from the driver.
void QuorvaDesktop::grantAX() {
    system_.requestAccessibility();
    system_.openUrl(permissions::kAccessibilityPaneUrl,
                    app::withoutWithheld(platform::environment()));
}

void QuorvaDesktop::grantScreen() {
    system_.requestScreenCapture();
    system_.openUrl(permissions::kScreenRecordingPaneUrl,
                    app::withoutWithheld(platform::environment()));
}
