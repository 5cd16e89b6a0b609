#pragma once

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace platform {

struct WindowLayout;

// What a toolkit timer and window can do; see RepeatingTimer and Window.
class ToolkitTimer {
  public:
    virtual ~ToolkitTimer() = default;
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
// in a module of its own, loaded only once the driver runs: its libraries take
// longer to load than all the host does before that. Tests, benchmarks and
// macOS link it in.
class Toolkit {
  public:
    virtual ~Toolkit() = default;
    // Starts the toolkit on the named platform. Its messages are dropped; a
    // fatal one calls `onFatal`, which does not return.
    virtual void start(char* program, const char* platformName, void (*onFatal)()) = 0;
    virtual void exec() = 0;
    // From any thread once started: `block` runs on the main thread.
    virtual void post(std::function<void()> block) = 0;
    // `action` runs on the main thread whenever `fd` is readable.
    virtual void whenReadable(int fd, std::function<void()> action) = 0;
    virtual std::unique_ptr<ToolkitTimer> repeatingTimer(double seconds,
                                                         std::function<void()> action) = 0;
    virtual std::unique_ptr<ToolkitWindow> window(const WindowLayout& layout) = 0;
    virtual bool registerFont(const std::string& path) = 0;
    virtual bool hasFontFamily(const std::string& family) = 0;
};

// The toolkit, loaded on first use; null if it cannot be had.
Toolkit* toolkit();

}  // namespace platform
