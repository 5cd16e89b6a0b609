#include "support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

extern char** environ;
namespace fs = std::filesystem;

namespace test {
namespace {

// What a test interrupted by Ctrl-C (or killed by SIGTERM or SIGHUP) would
// leave: its folders, and what runs from them (hosts that quorvactl started
// in sessions of their own, their drivers and guards). One shell script
// undoes it all: it ends those processes at once, and removes the folders
// once the test program has ended (its own threads may still write there).
// It is written anew into the spare of two buffers whenever a folder comes
// or goes, so that the signal handler only ever reads a whole one.
std::mutex foldersMutex;
std::vector<std::string> liveFolders;
char cleanupBuffers[2][1 << 16];
std::atomic<int> cleanupCurrent{-1};

void writeCleanup() {
    // Handed to the shell in its environment: a command line holding the
    // folders' names would be found by pkill too.
    std::string command = "QUORVA_TEST_CLEANUP=", removals;
    for (const auto& f : liveFolders) {
        command += "pkill -KILL -f -- '" + f + "'; ";
        removals += "chmod -R u+rwx '" + f + "'; rm -rf -- '" + f + "'; ";
    }
    // Ended means gone or a zombie: what started the test may not reap it.
    const std::string self = "/proc/" + std::to_string(::getpid()) + "/stat";
    command += "while [ \"$(cut -d' ' -f3 " + self + " 2>/dev/null || echo Z)\" != Z ]; do " +
               "sleep 0.05; done; " + removals;
    const int spare = cleanupCurrent.load() == 0 ? 1 : 0;
    if (command.size() >= sizeof cleanupBuffers[spare]) return;  // keeps the older one
    std::memcpy(cleanupBuffers[spare], command.c_str(), command.size() + 1);
    cleanupCurrent.store(spare);
}

void onInterrupt(int sig) {
    if (const int current = cleanupCurrent.load(); current >= 0) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1), ::dup2(null, 2);
            char* const env[] = {cleanupBuffers[current], const_cast<char*>("PATH=/usr/bin:/bin"),
                                 nullptr};
            ::execle("/bin/sh", "sh", "-c", "eval \"$QUORVA_TEST_CLEANUP\"",
                     static_cast<char*>(nullptr), env);
            ::_exit(127);
        }
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

std::string makeFolder(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string path = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
    std::lock_guard lock(foldersMutex);
    liveFolders.push_back(path);
    writeCleanup();
    return path;
}

void forgetFolder(const std::string& path) {
    std::lock_guard lock(foldersMutex);
    std::erase(liveFolders, path);
    writeCleanup();
}

// Every test program: its interruptions tidied up, and a runtime folder of
// its own for what it starts (Qt makes /tmp/runtime-<user> without one, for
// good).
struct ProcessWide {
    TempDir runtime;
    ProcessWide() {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, onInterrupt);
        ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    }
} processWide;

}  // namespace

TempDir::TempDir() : path_(makeFolder("quorva-test")) {}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; open them up first.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (!it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
    forgetFolder(path_);
}

std::string builtAppFolder() {
    return QUORVA_TEST_APP_DIR;
}

std::string copyAppFolder(const std::string& parent) {
    const std::string dest = parent + "/QuorvaDesktop";
    fs::copy(builtAppFolder(), dest, fs::copy_options::recursive);
    return dest;
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
    std::stringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

Names namesIn(const std::string& folder) {
    Names names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename());
    return names;
}

int Process::wait(std::chrono::milliseconds timeout) {
    int status = -1;
    if (pid <= 0 || !waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout))
        return -1;
    pid = -1;
    return status;
}

void Process::kill(int sig) const {
    if (pid > 0) ::kill(pid, sig);
}

Process& Process::operator=(Process&& o) noexcept {
    if (this != &o) {
        stop();
        pid = std::exchange(o.pid, -1);
        outPath = std::move(o.outPath);
        errPath = std::move(o.errPath);
    }
    return *this;
}

void Process::stop() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    pid = -1;
}

Process::~Process() {
    stop();
}

Process spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& outDir, const std::vector<int>& blocked) {
    static int serial = 0;
    Process p;
    p.outPath = outDir + "/stdout." + std::to_string(++serial);
    p.errPath = outDir + "/stderr." + std::to_string(serial);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, p.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, p.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> cargv, cenv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
    cargv.push_back(nullptr);
    cenv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : blocked) sigaddset(&mask, sig);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    if (::posix_spawn(&p.pid, cargv[0], &fa, &attr, cargv.data(), cenv.data()) != 0) p.pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return p;
}

std::vector<pid_t> processesMentioning(const std::string& text, const std::string& program) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        const std::string cmd = readFile("/proc/" + name + "/cmdline");
        if (cmd.find(text) != std::string::npos && pid != ::getpid() &&
            (program.empty() || cmd.substr(0, cmd.find('\0')).ends_with("/" + program)))
            pids.push_back(pid);
    }
    return pids;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& add,
                                         const std::vector<std::string>& drop) {
    auto named = [](const std::vector<std::string>& list, const std::string& name) {
        for (const auto& e : list)
            if (e.substr(0, e.find('=')) == name) return true;
        return false;
    };
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('='));
        if (!named(add, name) && std::find(drop.begin(), drop.end(), name) == drop.end())
            out.push_back(entry);
    }
    out.insert(out.end(), add.begin(), add.end());
    return out;
}

HostTest::~HostTest() {
    ::kill(driverPid(), SIGKILL);
    for (pid_t pid : processesMentioning(app)) ::kill(pid, SIGKILL);
}

std::vector<pid_t> HostTest::running(const std::string& program) const {
    return processesMentioning(app + program);
}

Process HostTest::start(const std::string& args, const std::string& shell,
                        const std::vector<int>& blocked) {
    const std::vector<std::string> bare{"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE",
                                        "QT_QPA_PLATFORM"};
    if (!blocked.empty())
        return spawnProcess({app + "/bin/quorva-desktop", "--home", home},
                            environmentWith({}, bare), tmp.path(), blocked);
    const std::string script =
        "unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM RUN; "
        "ulimit -c 0; " +
        shell + "; exec $RUN \"$0\" " +
        (args.find("--home") != std::string::npos ? "" : "--home \"$1\" ") + args;
    return spawnProcess({"/bin/sh", "-c", script, app + "/bin/quorva-desktop", home},
                        environmentWith({}), tmp.path());
}

bool Xvfb::hasWindow(const std::string& title) const {
    return std::system(
               ("DISPLAY=" + display_ + " xwininfo -root -tree | grep -qF '\"" + title + "\"'")
                   .c_str()) == 0;
}

std::string HostTest::asUser(uid_t uid) const {
    if (::geteuid() != 0) return "";
    // The tests' runtime folder is root's, which Qt refuses for another user and replaces with
    // a /tmp/runtime-* of its own that nobody removes: one in the test's folder instead.
    const std::string runtime = tmp / "runtime";
    fs::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(tmp.path(), ec))
        EXPECT_EQ(::lchown(e.path().c_str(), uid, uid), 0) << e.path();
    EXPECT_EQ(::lchown(tmp.path().c_str(), uid, uid), 0);
    const std::string id = std::to_string(uid);
    return "env XDG_RUNTIME_DIR=" + runtime + " setpriv --reuid=" + id + " --regid=" + id +
           " --clear-groups";
}

void HostTest::scriptDriver(const std::string& body) {
    writeFile(app + "/Resources/vov-driver",
              "#!/bin/sh\ncd '" + tmp.path() + "' && rm -f pid && echo $$ > pid\n" + body, 0755);
}

pid_t HostTest::driverPid() const {
    int pid = 1 << 30;  // no such process
    if (std::sscanf(readFile(tmp / "pid").c_str(), "%d", &pid) != 1)
        std::sscanf(log().c_str(), "vov-driver (stand-in) %d:", &pid);
    return pid;
}

void HostTest::expectEnd(Process& host, int status, std::chrono::milliseconds within) {
    const int raw = host.wait(within);
    if (status >= 0)
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == status) << raw;
    else
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == -status) << raw;
    EXPECT_EQ(readFile(host.outPath) + readFile(host.errPath), "");
}

// Xvfb writes its display number to standard output once it takes clients. It
// keeps running as a desktop's server does when its last client leaves, rather
// than resetting under the next one.
Xvfb::Xvfb(const std::vector<std::string>& options, bool later) : options_(options) {
    for (int n = 100 + ::getpid() % 300; later && display_.empty(); ++n)
        if (!pathExists("/tmp/.X" + std::to_string(n) + "-lock"))
            display_ = ":" + std::to_string(n);
    if (!later) start();
}

bool Xvfb::start() {
    std::vector<std::string> argv{"/usr/bin/Xvfb", "-displayfd", "1",   "-screen", "0",
                                  "1024x768x24",   "-nolisten",  "tcp", "-noreset"};
    if (ok()) argv.insert(argv.begin() + 1, display_);
    argv.insert(argv.end(), options_.begin(), options_.end());
    server_ = spawnProcess(argv, environmentWith({}), dir_.path());
    std::string out;
    if (!waitFor([&] { return (out = readFile(server_.outPath)).find('\n') != std::string::npos; }))
        return false;
    display_ = ":" + out.substr(0, out.find('\n'));
    return true;
}

void Xvfb::stop() {
    server_.kill(SIGTERM);
    server_.kill(SIGCONT);  // a stopped server acts on it only then
    server_.wait();
}

}  // namespace test
