#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace platform {

struct WindowLayout;

// What a toolkit timer and window can do; see EventLoop and Window.
class ToolkitTimer {
  public:
    virtual ~ToolkitTimer() = default;
    // Fires once, `after` from now; a new start replaces the one before.
    virtual void startOnce(std::chrono::milliseconds after) = 0;
    virtual void stop() = 0;
};

class ToolkitWindow {
  public:
    virtual ~ToolkitWindow() = default;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual bool isVisible() const = 0;
    virtual QWidget* widget() const = 0;
};

// The GUI toolkit (Qt): event loop, timers, windows, fonts. On Linux it lives
// in a module of its own, loaded only when a window is first needed: most runs
// never show one, and its libraries cost more time and memory than all the
// rest of the host. Tests, benchmarks and macOS link it in.
class Toolkit {
  public:
    virtual ~Toolkit() = default;
    // Starts the toolkit on the named platform, unless the program already
    // made its application object. Its messages are dropped; a fatal one
    // calls `onFatal`, which does not return.
    virtual void start(char* program, const char* platformName, void (*onFatal)()) = 0;
    // The toolkit's event loop (see EventLoop, which hands itself over to it).
    virtual void exec() = 0;
    virtual void quit() = 0;
    // `action` runs on the main thread whenever `fd` is readable.
    virtual void whenReadable(int fd, std::function<void()> action) = 0;
    virtual void stopWatching(int fd) = 0;
    virtual std::unique_ptr<ToolkitTimer> timer(std::function<void()> action) = 0;
    virtual std::unique_ptr<ToolkitWindow> window(const WindowLayout& layout) = 0;
    virtual bool registerFont(const std::string& path) = 0;
    virtual bool hasFontFamily(const std::string& family) = 0;
    // Its windows are on a display (not Qt's offscreen platform).
    virtual bool onDisplay() const = 0;
};

// The running toolkit: loaded and started on the first call, on the platform
// the host chooses at that moment. Null when it cannot be had; it is not
// tried again then, and the host goes on without windows.
Toolkit* toolkit();

// Whether the toolkit's code is there to be loaded. On Linux: its module is a
// regular file, whole (a truncated one would crash the host when loaded).
bool toolkitPresent();
// The toolkit's code, loaded but not started; null if it cannot be had.
Toolkit* loadToolkit();

}  // namespace platform
