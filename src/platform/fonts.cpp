#include "platform/fonts.h"

#include "platform/toolkit.h"

namespace platform {

// Both start the toolkit: fonts are wanted only for a window.
bool registerFontForProcess(const std::string& path) {
    Toolkit* gui = toolkit();
    return gui && gui->registerFont(path);
}

bool fontFamilyAvailable(const std::string& family) {
    Toolkit* gui = toolkit();
    return gui && gui->hasFontFamily(family);
}

}  // namespace platform
