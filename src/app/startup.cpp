#include "app/driver_config.h"
#include "app/options.h"
#include "app/quorva_desktop.h"
#include "platform/emergency.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/resources.h"

// Everything up to the driver's launch; none of it waits for the toolkit's
// GUI. The supervision start follows once the toolkit runs.
void QuorvaDesktop::applicationWillFinishLaunching() try {
    const auto runtime = this->runtime();
    // Without its app folder the host would look for its driver in "/"; a
    // socket path that does not fit an address can never be served. Either
    // way nothing is started, and the home is left as it is.
    const auto programs = platform::programFolder();
    const auto resources = platform::resourceFolder();
    if (!runtime || !programs || !resources ||
        !platform::fitsSocketAddress(platform::joinPath(*runtime, "driver.sock")))
        return failStartup();
    switch (takeRuntimeFolder()) {
        case platform::LockOutcome::HeldElsewhere:
            return system_.terminate(0);  // that host serves this home
        case platform::LockOutcome::Failed:
            return failStartup();
        case platform::LockOutcome::Acquired:
            break;
    }
    if (!runtimeFolder_->createFolder("clients", 0700)) return failStartup();
    if (!launchDriver(*runtime, *programs, *resources)) return failStartup();
    launched_ = true;
} catch (...) {
    // Out of memory or threads: stop whatever was started, as a quit does.
    failStartup();
}

platform::LockOutcome QuorvaDesktop::takeRuntimeFolder() {
    const auto runtime = this->runtime();
    if (!runtime || !platform::createDirectory(*runtime, 0700))
        return platform::LockOutcome::Failed;
    // The folder itself, never a link in its place.
    auto folder = platform::RuntimeFolder::open(*runtime);
    if (!folder) return platform::LockOutcome::Failed;
    // Before anything in the folder is touched: two hosts on one home would
    // overwrite each other's status and remove each other's socket.
    const auto outcome = folder->lock();
    if (outcome == platform::LockOutcome::HeldElsewhere && app::hasFlag(args, "--permissions"))
        folder->createFile("show-permissions", 0600);  // shown at that host's next tick
    if (outcome != platform::LockOutcome::Acquired) return outcome;
    runtimeFolder_ = std::move(folder);
    // A crash, or a quit that cannot be acted on, still takes the socket
    // away, from this folder only.
    platform::emergency::setRuntimeFolder(runtimeFolder_->descriptor());
    platform::emergency::catchCrashes();
    return outcome;
}

bool QuorvaDesktop::launchDriver(const std::string& runtime, const std::string& programs,
                                 const std::string& resources) {
    auto process = std::make_unique<platform::ChildProcess>();
    process->setExecutable(platform::joinPath(resources, "vov-driver"));
    process->setArguments(app::driverArguments(platform::joinPath(runtime, "driver.sock")));
    process->setEnvironment(app::driverEnvironment(platform::environment()));
    // Sends the driver its one SIGTERM should the host be killed or crash.
    process->setGuard(platform::joinPath(programs, "quorva-driver-guard"));

    if (!runtimeFolder_->exists("desktop.log")) runtimeFolder_->createFile("desktop.log", 0600);
    // Opened for appending, so a driver left from an earlier run and this
    // one cannot overwrite each other's lines.
    auto log = runtimeFolder_->openForAppending("desktop.log");
    if (!log) return false;
    process->setStandardOutput(log->fd());
    process->setStandardError(log->fd());

    // Runs on the waiting thread: touches no state, only asks the main
    // thread to quit.
    process->setTerminationHandler([&system = system_] {
        platform::Application::postToMain([&system] { system.terminate(0); });
    });

    worker = std::move(process);
    return worker->launch();
}

void QuorvaDesktop::failStartup() {
    system_.terminate(1);
}
