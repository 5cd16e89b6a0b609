#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process_info.h"

namespace platform {

// A child process (the NSTask of this host). It learns of the end of its own
// child only: a thread of its own waits on that one pid, so no other child of
// the host is ever reaped by it. Where the system allows (Linux), the child
// also gets SIGTERM from the kernel when the host process ends by any means,
// so a host that is killed leaves no driver behind. (The kernel sends it as
// each host thread that held the child ends, so it may come more than once.)
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void setExecutable(std::string path) { executable_ = std::move(path); }
    void setArguments(std::vector<std::string> args) { arguments_ = std::move(args); }
    // The complete environment; it replaces the inherited one.
    void setEnvironment(Environment env) { environment_ = std::move(env); }
    // Duplicated into the child as its standard output / standard error.
    // -1 leaves the host's own stream. The caller keeps the descriptor open
    // until launch() returns.
    void setStandardOutput(int fd) { stdoutFd_ = fd; }
    void setStandardError(int fd) { stderrFd_ = fd; }
    // Called once, on the waiting thread, after the child has ended.
    void setTerminationHandler(std::function<void()> handler);
    void clearTerminationHandler() { setTerminationHandler(nullptr); }

    // Call from the main thread, which lives as long as the host.
    bool launch();
    bool isRunning() const;
    // SIGTERM to a running child; returns at once.
    void terminate();

  private:
    // Shared with the waiting thread, which may outlive this object.
    struct State {
        std::mutex mutex;
        std::condition_variable started;  // `pid` is known (> 0) or the launch failed (-1)
        std::function<void()> handler;
        bool launched = false;
        pid_t pid = 0;
        std::atomic<bool> running{false};
    };
    static void waitForEnd(const std::shared_ptr<State>& state);

    std::string executable_;
    std::vector<std::string> arguments_;
    Environment environment_;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Starts `argv[0]` (looked up on PATH) with the complete environment `env`
// and all three standard streams on /dev/null, and reaps it from a thread of
// its own; nothing is reported.
void spawnDetachedQuietly(const std::vector<std::string>& argv, const Environment& env);

}  // namespace platform
