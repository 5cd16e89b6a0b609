#pragma once

#include <functional>

namespace platform {

class Toolkit;

// What the application object calls back into; the host object implements it.
class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;
    // First: only work that needs nothing of the toolkit.
    virtual void applicationWillFinishLaunching() = 0;
    // Then timers can be made; and windows, which start the toolkit if it
    // has not started yet (on macOS it starts in between the two).
    virtual void applicationDidFinishLaunching() = 0;
    virtual void applicationWillTerminate() = 0;
};

// The application object: one per process, wrapping the toolkit's event loop.
class Application {
  public:
    // Creates the shared instance on first use. `argv` must outlive the process.
    static Application& shared(int argc, char** argv);
    static Application& shared();

    // No Dock icon and no menu bar, set once the toolkit has made the
    // system's application object. Only meaningful on macOS.
    void setActivationPolicyAccessory();
    // Not owned: the caller keeps the delegate alive for the whole run.
    void setDelegate(ApplicationDelegate* delegate);
    // Calls the delegate's launch callbacks, then serves events (see
    // EventLoop). Returns only if the loop is left some other way. Without
    // its toolkit's code the host cannot start: status 1, nothing launched.
    int run();
    // The quit request: the delegate's shutdown callback runs exactly once and
    // the process ends with `exitStatus`. A request while already quitting
    // does nothing.
    void terminate(int exitStatus);

    // A quit signal has come (SIGTERM, SIGINT, SIGHUP): safe from anywhere,
    // for work that waits before the event loop runs.
    static bool quitSignalled();
    // Readable once a quit signal has come, for a wait before the event loop
    // runs: a signal that lands just before the wait starts interrupts
    // nothing, but this still wakes it. -1 before the quit signals are caught.
    // Not to be read: the event loop takes the quit from it.
    static int quitSignalDescriptor();

    // Safe from any thread: `block` runs later on the main thread, once the
    // event loop runs.
    static void postToMain(std::function<void()> block);

    // The toolkit, started on the first call; see platform::toolkit().
    Toolkit* toolkit();
    // The toolkit if it has started, without starting it.
    Toolkit* startedToolkit() const { return toolkit_; }

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

  private:
    Application(int argc, char** argv);
    // False when the quit signals could not be given a way in.
    bool installQuitSignals();
    void shutDownOnce();
    // Something the host cannot go on from (an uncaught exception, a fatal
    // toolkit error): shutdown if it has not run, then exit with status 1.
    [[noreturn]] static void endAfterFailure();

    char* program_ = nullptr;
    ApplicationDelegate* delegate_ = nullptr;
    bool quitting_ = false;
    bool accessory_ = false;
    bool toolkitTried_ = false;
    Toolkit* toolkit_ = nullptr;
};

}  // namespace platform
