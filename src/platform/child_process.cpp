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

pid_t spawn(const std::string& path, std::vector<std::string> argv, std::vector<std::string> env,
            FileActions& fa) {
    onlyStandardStreams(fa);
    SpawnAttributes sa;
    auto cArgv = cStrings(argv);
    auto cEnv = cStrings(env);
    pid_t pid = -1;
    if (::posix_spawn(&pid, path.c_str(), &fa.actions, &sa.attr, cArgv.data(), cEnv.data()) != 0)
        return -1;
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

    std::lock_guard lock(state_->mutex);
    if (state_->pid >= 0) return false;  // one launch per object
    const pid_t pid = spawn(executable_, std::move(argv), std::move(env), fa);
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

pid_t ChildProcess::pid() const {
    std::lock_guard lock(state_->mutex);
    return state_->pid;
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
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    // posix_spawnp semantics: look the program up on PATH.
    std::string path = argv[0];
    if (path.find('/') == std::string::npos) {
        const char* p = ::getenv("PATH");
        std::string dirs = p ? p : "/usr/bin:/bin";
        for (std::size_t start = 0; start <= dirs.size();) {
            const auto end = std::min(dirs.find(':', start), dirs.size());
            std::string candidate = dirs.substr(start, end - start) + "/" + argv[0];
            if (::access(candidate.c_str(), X_OK) == 0) {
                path = candidate;
                break;
            }
            start = end + 1;
        }
    }
    const pid_t pid = spawn(path, argv, std::move(env), fa);
    if (pid > 0) reapQuietly(pid);
}

}  // namespace platform
