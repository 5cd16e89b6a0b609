#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/child_process.h"
#include "platform/runtime_folder.h"
#include "platform/system.h"
#include "platform/timer.h"
#include "platform/window.h"

// The host: the application delegate and the one object holding all of the
// host's state. Its operations live in src/app, where their names say:
//   start-up and shutdown        startup.cpp, shutdown.cpp
//   supervision start            supervision_start.cpp
//   tick                         tick.cpp, over src/supervision's rules
//   permissions window, requests permissions_window.cpp, permission_requests.cpp,
//                                over src/permissions' texts and layout
// The order of a run: applicationWillFinishLaunching (folders, lock, log,
// driver), the toolkit starts, applicationDidFinishLaunching (window on
// request, timer, first tick), ticks, applicationWillTerminate.
class QuorvaDesktop final : public platform::ApplicationDelegate,
                            public std::enable_shared_from_this<QuorvaDesktop> {
  public:
    explicit QuorvaDesktop(platform::System& system = platform::realSystem(),
                           std::vector<std::string> arguments = platform::arguments());
    ~QuorvaDesktop() override;

    // Called by the application object: start-up up to the driver's launch,
    // then (once the toolkit runs) the supervision start, then shutdown.
    void applicationWillFinishLaunching() override;
    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    // The permissions window's button actions.
    void grantAX();
    void grantScreen();

    // Start-up's hold on the home: makes the runtime folder, opens it as
    // itself and locks it; from then on every entry of it is reached through
    // the open folder. When another host holds it, that host is asked for
    // its window (on --permissions), as any client would ask.
    platform::LockOutcome takeRuntimeFolder();

    void tick();
    void showPermissions();
    // Whatever stands in the way of the status file is removed by
    // `deadline`, or at a later write.
    void publishStatus(bool accessibility, bool screenRecording,
                       const platform::Deadline& deadline = platform::Deadline::never());

    // Worked out from `args` at every use; never cached. None when a
    // relative --home meets a working folder that is gone (or no user home
    // can be found): then the host has no folder to work in.
    std::optional<std::string> home() const;
    std::optional<std::string> runtime() const;
    bool english() const;
    const std::string& text(const std::string& persian, const std::string& english) const;

    // Once set, `worker`, `window` and `timer` are never emptied again.
    std::unique_ptr<platform::ChildProcess> worker;
    std::unique_ptr<platform::Window> window;
    std::unique_ptr<platform::RepeatingTimer> timer;
    double idleSince;  // wall clock, seconds
    const std::vector<std::string> args;

  private:
    // How long a second host given --permissions waits for the running one
    // to take its request: as long as `quorvactl permissions` does.
    static constexpr std::chrono::seconds kForwardedRequestWait{10};
    platform::LockOutcome forwardWindowRequest(const platform::RuntimeFolder& folder);
    bool launchDriver(const std::string& socket, const std::string& programs,
                      const std::string& resources, int log);
    // Any start-up failure: no message, the quit request with status 1 (0
    // when a quit signal cut the start short).
    void failStartup();
    // The runtime path no longer leads to the folder this host holds (moved,
    // removed, replaced): a new host may take the home, so this one goes.
    bool homeLost() const;

    platform::System& system_;
    // The runtime folder's path, its home's links and dots resolved as
    // start-up found them: what the home is judged by while the host runs.
    std::optional<std::string> runtimePath_;
    // One host per home: the runtime folder, locked until the process ends.
    // Only its holder may start a driver or change the folder.
    std::optional<platform::RuntimeFolder> runtimeFolder_;
    bool launched_ = false;  // the driver was launched: supervision may start
};
