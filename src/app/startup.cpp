#include "app/driver_config.h"
#include "app/quorva_desktop.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/resources.h"

void QuorvaDesktop::applicationDidFinishLaunching() {
    // A missing or unusable font only changes the window's look.
    if (auto font = platform::resourcePath("Vazirmatn", "ttf"))
        platform::registerFontForProcess(*font);

    if (!platform::createDirectory(runtime(), 0700)) return failStartup();
    if (!platform::createDirectory(runtimeEntry("clients"), 0700)) return failStartup();

    auto process = std::make_unique<platform::ChildProcess>();
    process->setExecutable(platform::joinPath(platform::resourceFolder(), "vov-driver"));
    process->setArguments(app::driverArguments(runtimeEntry("driver.sock")));
    process->setEnvironment(app::driverEnvironment(platform::environment()));

    if (!platform::exists(runtimeEntry("desktop.log")))
        platform::createFile(runtimeEntry("desktop.log"), 0600);
    // Opened for appending, so a driver left from an earlier run and this
    // one cannot overwrite each other's lines.
    auto log = platform::openForAppending(runtimeEntry("desktop.log"));
    if (!log) return failStartup();
    process->setStandardOutput(log->fd());
    process->setStandardError(log->fd());

    // Runs on the waiting thread: touches no state, only asks the main
    // thread to quit.
    process->setTerminationHandler([&system = system_] {
        platform::Application::postToMain([&system] { system.terminate(); });
    });

    worker = std::move(process);
    if (!worker->launch()) return failStartup();
    startSupervision();
}

void QuorvaDesktop::failStartup() {
    system_.terminate();
}
