#include "app/driver_config.h"
#include "app/options.h"
#include "app/quorva_desktop.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/resources.h"

// Everything up to the driver's launch; none of it waits for the toolkit's
// GUI. The supervision start follows once the toolkit runs.
void QuorvaDesktop::applicationWillFinishLaunching() try {
    const auto runtime = this->runtime();
    if (!runtime || !platform::createDirectory(*runtime, 0700)) return failStartup();
    // Before anything in the folder is touched: two hosts on one home would
    // overwrite each other's status and remove each other's socket.
    switch (platform::lockFolder(*runtime, runtimeLock_)) {
        case platform::LockOutcome::HeldElsewhere:
            return deferToRunningHost();
        case platform::LockOutcome::Failed:
            return failStartup();
        case platform::LockOutcome::Acquired:
            break;
    }
    if (!platform::createDirectory(platform::joinPath(*runtime, "clients"), 0700))
        return failStartup();
    if (!launchDriver(*runtime)) return failStartup();
    launched_ = true;
} catch (...) {
    // Out of memory or threads: stop whatever was started, as a quit does.
    failStartup();
}

bool QuorvaDesktop::launchDriver(const std::string& runtime) {
    auto process = std::make_unique<platform::ChildProcess>();
    process->setExecutable(platform::joinPath(platform::resourceFolder(), "vov-driver"));
    process->setArguments(app::driverArguments(platform::joinPath(runtime, "driver.sock")));
    process->setEnvironment(app::driverEnvironment(platform::environment()));

    const std::string logPath = platform::joinPath(runtime, "desktop.log");
    if (!platform::exists(logPath)) platform::createFile(logPath, 0600);
    // Opened for appending, so a driver left from an earlier run and this
    // one cannot overwrite each other's lines.
    auto log = platform::openForAppending(logPath);
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

void QuorvaDesktop::deferToRunningHost() {
    // Asked the way any client asks: the running host shows its window at
    // its next tick.
    if (app::hasFlag(args, "--permissions"))
        if (const auto trigger = runtimeEntry("show-permissions"))
            platform::createFile(*trigger, 0600);
    system_.terminate(0);
}
