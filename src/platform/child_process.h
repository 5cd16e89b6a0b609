#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process_info.h"

namespace platform {

struct SpawnRequest;

// A child process (the NSTask of this host). It learns of the end of its own
// child only: a thread of its own waits on that one pid, so no other child of
// the host is ever reaped by it. It is sent at most one SIGTERM, ever.
//
// Given a guard program, launch() starts that first and has it watch the
// child before the child runs; when the host ends without having stopped the
// child (killed, crashed), the guard sends it the one SIGTERM. The guard ends
// with the host, and at once when the child ends by itself.
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
    // The guard program. If it cannot be started, or does not arm, nothing
    // runs: launch() fails.
    void setGuard(std::string program) { guard_ = std::move(program); }

    bool launch();
    bool isRunning() const;
    // SIGTERM to a running child that has had none; returns at once. The
    // guard is stood down first: should the host end between the two steps,
    // the child gets no SIGTERM rather than two.
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
        bool signalled = false;
        pid_t guardPid = -1;
        FileHandle guardLink;  // the host's end
    };
    static void waitForEnd(const std::shared_ptr<State>& state);
    pid_t spawnGuarded(SpawnRequest& request);

    std::string guard_;
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
