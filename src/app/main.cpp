#include <memory>

#include "app/quorva_desktop.h"
#include "platform/application.h"
#include "platform/process_info.h"
#include "platform/process_start.h"

namespace {
// Process-wide references, set once. `delegate` owns the host object: the
// application object does not.
platform::Application* app = nullptr;
std::shared_ptr<QuorvaDesktop> delegate;
}  // namespace

int main(int argc, char** argv) {
    platform::settleProcess();
    platform::recordArguments(argc, argv);
    app = &platform::Application::shared(argc, argv);
    delegate = std::make_shared<QuorvaDesktop>();
    app->setActivationPolicyAccessory();
    app->setDelegate(delegate.get());
    app->run();
    return 0;
}
