#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/child_process.h"
#include "platform/system.h"
#include "platform/timer.h"
#include "platform/window.h"

// The host: the application delegate and the one object holding all of the
// host's state. Its operations live where their names say:
//   start-up and shutdown        src/app/startup.cpp, src/app/shutdown.cpp
//   supervision start            src/app/supervision_start.cpp
//   tick and status file         src/supervision/
//   permissions window, requests src/permissions/
class QuorvaDesktop final : public platform::ApplicationDelegate,
                            public std::enable_shared_from_this<QuorvaDesktop> {
  public:
    explicit QuorvaDesktop(platform::System& system = platform::realSystem(),
                           std::vector<std::string> arguments = platform::arguments());

    // Called by the application object.
    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    // The permissions window's button actions.
    void grantAX();
    void grantScreen();

    void tick();
    void showPermissions();
    void publishStatus(bool accessibility, bool screenRecording);

    // Worked out from `args` at every use; never cached.
    std::string home() const;
    std::string runtime() const;
    bool english() const;
    const std::string& text(const std::string& persian, const std::string& english) const;

    // Once set, `worker`, `window` and `timer` are never emptied again.
    std::unique_ptr<platform::ChildProcess> worker;
    std::unique_ptr<platform::Window> window;
    std::unique_ptr<platform::RepeatingTimer> timer;
    double idleSince;  // wall clock, seconds
    const std::vector<std::string> args;

  private:
    void startSupervision();
    // Any start-up failure: no message, just the quit request.
    void failStartup();
    std::string runtimeEntry(const char* name) const;

    platform::System& system_;
};
