#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process_info.h"

namespace platform {

struct SpawnRequest;

// A child process (the NSTask of this host). It learns of the end of its own
// child only, through a descriptor the main thread's event loop watches (see
// watchForEnd), and reaps that one pid there, so no other child of the host
// is ever reaped by it and no thread waits for it. It is sent at most one
// SIGTERM, ever.
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
    // Called once, by the event loop on the main thread, after the child has
    // ended and been reaped.
    void setTerminationHandler(std::function<void()> handler) { handler_ = std::move(handler); }
    void clearTerminationHandler() { setTerminationHandler(nullptr); }
    // The child runs in a session of its own (nothing sent to this
    // process's group or from its terminal reaches it), watched by
    // `guardProgram`, which sends it its one SIGTERM should this process end
    // without having stopped it (killed, crashed). The guard is started
    // first, and launch() succeeds once it watches the child, however long
    // that takes; a guard that ends while the child runs is replaced.
    void setGuard(std::string guardProgram) { guardProgram_ = std::move(guardProgram); }

    bool launch();
    bool isRunning() const;
    // SIGTERM to a running child that has had none; returns at once. The
    // guard is stood down first (one that never said it watches is killed):
    // should the host end between the two steps, the child gets no SIGTERM
    // rather than two.
    void terminate();

  private:
    pid_t spawnGuarded(SpawnRequest& request);
    bool endSeen() const;
    void reap();
    // What the host does when its guard's link says something: note that the
    // guard is armed, or, when it ended, put another in its place.
    void watchGuard();
    void onGuardLink();
    bool replaceGuard();
    void endGuard();

    std::string executable_;
    std::vector<std::string> arguments_;
    Environment environment_;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    std::function<void()> handler_;
    bool launched_ = false;
    pid_t pid_ = -1;
    FileHandle ended_;  // readable once the child has ended; closed once it is reaped
    bool signalled_ = false;
    std::string guardProgram_;
    pid_t guardPid_ = -1;
    bool guardArmed_ = false;  // the guard said it watches the child
    FileHandle guardLink_;     // the host's end
};

// Starts `argv[0]` (looked up on PATH) with the complete environment `env`
// and all three standard streams on /dev/null, and reaps it in the main
// thread's event loop once it ends; nothing is reported.
void spawnDetachedQuietly(const std::vector<std::string>& argv, const Environment& env);

}  // namespace platform
