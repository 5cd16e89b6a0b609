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
    // The child runs in a session of its own (nothing sent to this
    // process's group or from its terminal reaches it), watched by
    // `guardProgram`, which sends it its one SIGTERM should this process end
    // without having stopped it (killed, crashed). The guard is started
    // first, and launch() succeeds once it watches the child, however long
    // that takes; a guard that ends while the child runs is replaced.
    void setGuard(std::string guardProgram) { state_->guardProgram = std::move(guardProgram); }

    bool launch();
    bool isRunning() const;
    // SIGTERM to a running child that has had none; returns at once. The
    // guard is stood down first (one that never said it watches is killed):
    // should the host end between the two steps, the child gets no SIGTERM
    // rather than two.
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
        std::string guardProgram;
        pid_t guardPid = -1;
        bool guardArmed = false;  // the guard said it watches the child
        FileHandle guardLink;     // the host's end
    };
    static void waitForEnd(const std::shared_ptr<State>& state);
    pid_t spawnGuarded(SpawnRequest& request);
    // What the host does when its guard's link says something: note that the
    // guard is armed, or, when it ended, put another in its place.
    static void watchGuard(const std::shared_ptr<State>& state);
    static bool replaceGuard(State& state);
    static void endGuard(State& state);

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
