// Whole-host figures, measured on the built app folder with the stand-in
// driver: time from starting the host (by itself, or through `quorvactl
// start`) to the driver serving, time from the
// driver's death to the host's exit, resident memory when idle (also before
// and after the window is first shown), and with --cpu the CPU an idle host
// with one live client uses over 60 seconds. Prints figures; asserts nothing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kHost = std::string(QUORVA_BENCH_APP_DIR) + "/bin/quorva-desktop";
const std::string kCtl = QUORVA_BENCH_CTL;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::vector<std::string> environmentFor(const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) && std::strncmp(*e, "QT_QPA_PLATFORM=", 16))
            env.emplace_back(*e);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    return env;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, a.data(), e.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

bool exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

template <typename F>
bool pollUntil(F f, double timeoutMs = 10000) {
    const auto end = Clock::now() + std::chrono::microseconds(static_cast<long>(timeoutMs * 1000));
    while (!f()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Only ever one process: a pid that failed to parse or spawn (-1, 0) would
// signal every process we may signal, or our own group.
void signalOne(pid_t pid, int sig) {
    if (pid > 0) ::kill(pid, sig);
}

// Orphaned drivers come back to us (we are a subreaper): reap them all.
void reapOrphans() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

long statusField(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> f; ++i) {
        if (i == 14) utime = std::stol(f);
        if (i == 15) stime = std::stol(f);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

pid_t driverPid(const std::string& runtime) {
    std::ifstream in(runtime + "/desktop.log");
    std::string line, last;
    while (std::getline(in, line))
        if (line.find("serving") != std::string::npos) last = line;
    const auto at = last.find(") ");
    return at == std::string::npos ? -1 : std::atoi(last.c_str() + at + 2);
}

struct Run {
    pid_t host = -1;
    std::string home, runtime;
};

Run startHost(const std::string& display, std::vector<std::string> extra = {}) {
    Run r;
    char tmpl[] = "/tmp/quorva-hostbench-XXXXXX";
    r.home = ::mkdtemp(tmpl);
    r.runtime = r.home + "/desktop";
    std::vector<std::string> argv{kHost, "--home", r.home};
    argv.insert(argv.end(), extra.begin(), extra.end());
    r.host = spawn(argv, environmentFor(display));
    return r;
}

void stopHost(Run& r) {
    signalOne(r.host, SIGTERM);
    ::waitpid(r.host, nullptr, 0);
    pollUntil([] { return ::waitpid(-1, nullptr, WNOHANG) < 0; }, 3000);
    fs::remove_all(r.home);
}

void startupAndMemory(const std::string& display, const char* label) {
    std::vector<double> startups, exits;
    long rss = 0;
    for (int i = 0; i < 20; ++i) {
        const auto t0 = Clock::now();
        Run r = startHost(display);
        const std::string sock = r.runtime + "/driver.sock";
        if (!pollUntil([&] { return exists(sock); })) {
            std::printf("%s: driver never served\n", label);
            stopHost(r);
            return;
        }
        startups.push_back(ms(Clock::now() - t0));
        if (i == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            rss = statusField(r.host, "VmRSS:");
        }
        // The driver's death to the host's exit.
        pollUntil([&] { return driverPid(r.runtime) > 0; });
        const pid_t driver = driverPid(r.runtime);
        const auto k0 = Clock::now();
        signalOne(driver > 0 ? driver : r.host, SIGKILL);
        ::waitpid(r.host, nullptr, 0);
        exits.push_back(ms(Clock::now() - k0));
        reapOrphans();
        fs::remove_all(r.home);
    }
    std::printf("%-22s start -> driver serving: median %.1f ms (min %.1f, max %.1f, n=20)\n", label,
                median(startups), *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()));
    std::printf("%-22s driver killed -> host exited: median %.2f ms (max %.2f, n=20)\n", label,
                median(exits), *std::max_element(exits.begin(), exits.end()));
    std::printf("%-22s idle resident memory: %ld KiB\n", label, rss);
}

// The first successful connect, as a client sees the driver serving.
bool connects(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

pid_t hostPidOf(const std::string& runtime) {
    std::ifstream in(runtime + "/status.json");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    const auto at = all.find("\"host_pid\":");
    return at == std::string::npos ? -1 : std::atoi(all.c_str() + at + 11);
}

// The host started by itself and through `quorvactl start`, taken in turns,
// each until its driver takes a connection; and when quorvactl returns.
void ctlStartup(const std::string& display, const char* label) {
    std::vector<double> direct, viaCtl, returned;
    for (int i = 0; i < 40; ++i) {
        const bool ctl = i % 2;
        char tmpl[] = "/tmp/quorva-ctlbench-XXXXXX";
        const std::string home = ::mkdtemp(tmpl), runtime = home + "/desktop";
        const auto t0 = Clock::now();
        const pid_t pid = ctl ? spawn({kCtl, "start", "--home", home}, environmentFor(display))
                              : spawn({kHost, "--home", home}, environmentFor(display));
        int status = 0;
        bool serving = false, done = !ctl;
        pollUntil([&] {
            if (!serving && (serving = connects(runtime + "/driver.sock")))
                (ctl ? viaCtl : direct).push_back(ms(Clock::now() - t0));
            if (!done && (done = ::waitpid(pid, &status, WNOHANG) == pid))
                returned.push_back(ms(Clock::now() - t0));
            return serving && done;
        });
        const pid_t host = ctl ? hostPidOf(runtime) : pid;
        if (host > 0) {
            signalOne(host, SIGTERM);
            ::waitpid(host, nullptr, 0);
        }
        pollUntil([] { return ::waitpid(-1, nullptr, WNOHANG) < 0; }, 3000);
        fs::remove_all(home);
    }
    std::printf(
        "%-22s start -> driver takes a connection: host alone median %.1f ms, "
        "quorvactl start median %.1f ms (n=20 each)\n",
        label, median(direct), median(viaCtl));
    std::printf("%-22s quorvactl start returned: median %.1f ms\n", label, median(returned));
}

void windowMemory(const std::string& display) {
    Run r = startHost(display);
    pollUntil([&] { return exists(r.runtime + "/status.json"); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long before = statusField(r.host, "VmRSS:");
    std::ofstream(r.runtime + "/show-permissions").flush();
    pollUntil([&] { return !exists(r.runtime + "/show-permissions"); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long after = statusField(r.host, "VmRSS:");
    std::printf("%-22s resident memory before window %ld KiB, after first shown %ld KiB\n",
                "with display (Xvfb)", before, after);
    stopHost(r);
}

void idleCpu(const std::string& display, const char* label) {
    Run r = startHost(display);
    pollUntil([&] { return exists(r.runtime + "/clients"); });
    std::ofstream(r.runtime + "/clients/" + std::to_string(::getpid())).flush();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double c0 = cpuSeconds(r.host);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    const double c1 = cpuSeconds(r.host);
    std::printf("%-22s CPU over 60 s with one live client: %.0f ms (%.3f %%), resident %ld KiB\n",
                label, (c1 - c0) * 1000, (c1 - c0) / 60 * 100, statusField(r.host, "VmRSS:"));
    stopHost(r);
}

// An X server of our own, for the figures with a display.
pid_t startXvfb(std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                             "1280x800x24", "-nolisten", "tcp"},
                            environmentFor(""));
    ::close(fds[1]);
    char c;
    std::string n;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') n += c;
    ::close(fds[0]);
    display = n.empty() ? "" : ":" + n;
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    const bool cpu = argc > 1 && std::strcmp(argv[1], "--cpu") == 0;
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string display;
    const pid_t xvfb = startXvfb(display);

    startupAndMemory("", "no display:");
    ctlStartup("", "no display:");
    if (!display.empty()) {
        startupAndMemory(display, "with display (Xvfb):");
        ctlStartup(display, "with display (Xvfb):");
        windowMemory(display);
    }
    if (cpu) {
        idleCpu("", "no display:");
        if (!display.empty()) idleCpu(display, "with display (Xvfb):");
    }
    if (xvfb > 0) {
        signalOne(xvfb, SIGTERM);
        ::waitpid(xvfb, nullptr, 0);
    }
    reapOrphans();
    return 0;
}
