// The entry point of the toolkit module, which the host loads at run time.
#include "platform/qt/qt_toolkit.h"

extern "C" __attribute__((visibility("default"))) platform::Toolkit* quorvaToolkit() {
    return &platform::qt::instance();
}
