#include "app/driver_config.h"
#include "app/options.h"
#include "app/quorva_desktop.h"
#include "contract/entries.h"
#include "contract/home.h"
#include "platform/application.h"
#include "platform/emergency.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/resources.h"

#include <cerrno>
#include <chrono>
#include <thread>

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
        !platform::fitsSocketAddress(platform::joinPath(*runtime, contract::kDriverSocket)))
        return failStartup();
    switch (takeRuntimeFolder()) {
        case platform::LockOutcome::HeldElsewhere:
            return system_.terminate(0);  // that host serves this home
        case platform::LockOutcome::Failed:
            return failStartup();
        case platform::LockOutcome::Acquired:
            break;
    }
    // What stands in the folder is judged before anything is made in it, so
    // a start that cannot work leaves the folder as it found it.
    auto log = runtimeFolder_->openLog(contract::kLog, false, 0600);
    const bool noLog =
        !log && log.error().step == platform::Step::OpenFile && log.error().code == ENOENT;
    if ((!log && !noLog) || !runtimeFolder_->mayHoldFolder(contract::kClients))
        return failStartup();
    if (!runtimeFolder_->createFolder(contract::kClients, 0700)) return failStartup();
    if (!log) log = runtimeFolder_->openLog(contract::kLog, true, 0600);
    // The driver serves its socket where the home was found to be, so that
    // no working folder a relative --home hung off is needed to reach it.
    auto socket = platform::joinPath(*runtimePath_, contract::kDriverSocket);
    if (!platform::fitsSocketAddress(socket))
        socket = platform::joinPath(*runtime, contract::kDriverSocket);
    if (!log || !launchDriver(socket, *programs, *resources, log->fd())) return failStartup();
    launched_ = true;
} catch (...) {
    // Out of memory or threads: stop whatever was started, as a quit does.
    failStartup();
}

platform::LockOutcome QuorvaDesktop::takeRuntimeFolder() {
    const auto home = this->home();
    if (!home || !platform::createDirectory(contract::runtimeFolder(*home), 0700))
        return platform::LockOutcome::Failed;
    // From now on the home is the folder its path names now, whatever
    // becomes of a working folder that a relative --home hangs off.
    const auto realHome = platform::realPath(*home);
    if (!realHome) return platform::LockOutcome::Failed;
    runtimePath_ = contract::runtimeFolder(*realHome);
    // The folder itself, or the user's own link to a folder of the user's;
    // never one another user owns or can write in.
    auto folder = platform::RuntimeFolder::open(*runtimePath_);
    if (!folder) return platform::LockOutcome::Failed;
    // Before anything in the folder is touched: two hosts on one home would
    // overwrite each other's status and remove each other's socket.
    auto outcome = folder->lock();
    if (outcome == platform::LockOutcome::HeldElsewhere && app::hasFlag(args, "--permissions"))
        outcome = forwardWindowRequest(*folder);
    if (outcome != platform::LockOutcome::Acquired) return outcome;
    runtimeFolder_ = std::move(*folder);
    // A fatal signal, or a quit that cannot be acted on, still takes the
    // socket away, from this folder only.
    platform::emergency::setRuntimeFolder(runtimeFolder_->descriptor(), contract::kDriverSocket);
    return outcome;
}

// As any client asks: the request is shown at that host's next tick, and
// waited for until taken. Should that host end first, the request is taken
// back (a later host must not show the window unasked) and the home, free
// now, is this host's. A host that cannot take requests for long (a stopped
// X server) keeps this one's for later.
platform::LockOutcome QuorvaDesktop::forwardWindowRequest(const platform::RuntimeFolder& folder) {
    const bool made = folder.createFile(contract::kWindowRequest, 0600).ok();
    const auto deadline = platform::Deadline::after(kForwardedRequestWait);
    while (folder.exists(contract::kWindowRequest)) {
        if (folder.lock() == platform::LockOutcome::Acquired) {
            if (made) folder.remove(contract::kWindowRequest);
            return platform::LockOutcome::Acquired;
        }
        if (deadline.passed() || platform::Application::quitSignalled()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return platform::LockOutcome::HeldElsewhere;
}

bool QuorvaDesktop::launchDriver(const std::string& socket, const std::string& programs,
                                 const std::string& resources, int log) {
    auto process = std::make_unique<platform::ChildProcess>();
    process->setExecutable(platform::joinPath(resources, contract::kDriverProgram));
    process->setArguments(app::driverArguments(socket));
    process->setEnvironment(app::driverEnvironment(platform::environment()));
    // Only the host signals the driver: one SIGTERM however the host ends
    // (its guard sends it should the host be killed or crash), and nothing
    // meant for the host's group or terminal.
    process->setGuard(platform::joinPath(programs, "quorva-driver-guard"));

    // Opened for appending, so a driver left from an earlier run and this
    // one cannot overwrite each other's lines.
    process->setStandardOutput(log);
    process->setStandardError(log);

    // Runs in the event loop once the driver is reaped; the quit is taken
    // in a turn of its own.
    process->setTerminationHandler([&system = system_] {
        platform::Application::postToMain([&system] { system.terminate(0); });
    });

    worker = std::move(process);
    return worker->launch();
}

// A quit signal that cut the start short (say, while it waited for a slow
// guard) is a quit like any other.
void QuorvaDesktop::failStartup() {
    system_.terminate(platform::Application::quitSignalled() ? 0 : 1);
}
