#include "platform/system.h"

#include <chrono>

#include "platform/application.h"

namespace platform {
namespace {

class RealSystem final : public System {
  public:
    double now() override {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    bool accessibilityTrusted() override { return os::accessibilityTrusted(); }
    bool screenCaptureAllowed() override { return os::screenCaptureAllowed(); }
    void requestAccessibility() override { os::requestAccessibility(); }
    void requestScreenCapture() override { os::requestScreenCapture(); }
    void openUrl(const std::string& url, const Environment& env) override { os::openUrl(url, env); }
    void terminate(int exitStatus) override { Application::shared().terminate(exitStatus); }
    void activate() override { os::activateApplication(); }
};

}  // namespace

System& realSystem() {
    static RealSystem system;
    return system;
}

}  // namespace platform
