#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {
namespace {

std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// The child starts with default signal handling and nothing blocked, whatever
// the host inherited or installed.
struct SpawnAttributes {
    posix_spawnattr_t attr;
    SpawnAttributes() {
        posix_spawnattr_init(&attr);
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#ifdef __APPLE__
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;  // see onlyStandardStreams
#endif
        posix_spawnattr_setflags(&attr, flags);
    }
    ~SpawnAttributes() {
        posix_spawnattr_destroy(&attr);
    }
};

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

// The child gets standard input, output and error and nothing else: a
// descriptor the host inherited (a pipe someone waits on to close) must not
// stay open for as long as the child runs. Runs after any dup2 onto 1 and 2.
void onlyStandardStreams(FileActions& fa) {
#if defined(__APPLE__)
    posix_spawn_file_actions_addinherit_np(&fa.actions, STDIN_FILENO);
    posix_spawn_file_actions_addinherit_np(&fa.actions, STDOUT_FILENO);
    posix_spawn_file_actions_addinherit_np(&fa.actions, STDERR_FILENO);
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    posix_spawn_file_actions_addclosefrom_np(&fa.actions, STDERR_FILENO + 1);
#endif
}

// `searchPath`: a bare program name is looked up on PATH (posix_spawnp).
pid_t spawn(std::vector<std::string> argv, char* const* env, FileActions& fa,
            bool searchPath = false) {
    onlyStandardStreams(fa);
    SpawnAttributes sa;
    auto cArgv = cStrings(argv);
    auto* start = searchPath ? ::posix_spawnp : ::posix_spawn;
    pid_t pid = -1;
    if (start(&pid, cArgv[0], &fa.actions, &sa.attr, cArgv.data(), env) != 0) return -1;
    return pid;
}

void reapQuietly(pid_t pid) {
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

ChildProcess::~ChildProcess() {
    clearTerminationHandler();
}

void ChildProcess::setTerminationHandler(std::function<void()> handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

bool ChildProcess::launch() {
    FileActions fa;
    if (stdoutFd_ >= 0) posix_spawn_file_actions_adddup2(&fa.actions, stdoutFd_, STDOUT_FILENO);
    if (stderrFd_ >= 0) posix_spawn_file_actions_adddup2(&fa.actions, stderrFd_, STDERR_FILENO);

    std::vector<std::string> argv{executable_};
    argv.insert(argv.end(), arguments_.begin(), arguments_.end());
    std::vector<std::string> env;
    env.reserve(environment_.size());
    for (const auto& [name, value] : environment_) env.push_back(name + "=" + value);
    auto cEnv = cStrings(env);

    std::lock_guard lock(state_->mutex);
    if (state_->pid >= 0) return false;  // one launch per object
    const pid_t pid = spawn(std::move(argv), cEnv.data(), fa);
    if (pid < 0) return false;
    state_->pid = pid;
    state_->running = true;
    std::thread([state = state_] { waitForEnd(state); }).detach();
    return true;
}

void ChildProcess::waitForEnd(const std::shared_ptr<State>& state) {
    // Wait without reaping first: until `running` is cleared under the lock,
    // the pid stays ours, so terminate() can never signal a recycled pid.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    std::function<void()> handler;
    {
        std::lock_guard lock(state->mutex);
        state->running = false;
        while (::waitpid(state->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        handler = std::move(state->handler);
        state->handler = nullptr;
    }
    if (handler) handler();
}

bool ChildProcess::isRunning() const {
    return state_->running;
}

void ChildProcess::terminate() {
    std::lock_guard lock(state_->mutex);
    if (state_->running) ::kill(state_->pid, SIGTERM);
}

void spawnDetachedQuietly(const std::vector<std::string>& argv) {
    if (argv.empty()) return;
    FileActions fa;
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&fa.actions, fd, "/dev/null",
                                         fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    const pid_t pid = spawn(argv, environ, fa, true);
    if (pid > 0) reapQuietly(pid);
}

}  // namespace platform
