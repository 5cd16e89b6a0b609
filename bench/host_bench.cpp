// Whole-host figures, each beside its yardstick measured in the same run,
// interleaved so that both see the same machine:
//   start: exec -> the driver serving (the first successful connect() on
//     driver.sock, seen through inotify), against a bare QApplication's exec ->
//     its first event-loop turn, the floor: posix_spawn of the driver alone,
//     and, given --baseline APPFOLDER, another build of the host (say the
//     last release's);
//   an X server with -noreset (as a desktop session), and one with no other
//     client (it resets whenever its last client leaves), the latter counting
//     aborted or socketless starts;
//   `quorvactl start` -> the driver serving, and -> quorvactl returning;
//   idle: resident and proportional memory (RSS, PSS) without a window, with
//     it, and against the bare QApplication's;
//   the first window: the tick that takes the request (it removes
//     show-permissions) -> the window mapped and painted, Qt's loading included;
//   with --cpu, CPU
//     (from schedstat, in nanoseconds) and wake-ups (context switches) of the
//     host and of the X server, with one live client registered.
//   with --against APP_DIR, only exec -> the driver serving, against another
//     build's app folder (say, the one before a change) and the floor.
// Prints figures; asserts nothing. A failed start is printed, never skipped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kApp = QUORVA_BENCH_APP_DIR;
const std::string kHost = kApp + "/bin/quorva-desktop";
std::string baselineHost;  // --baseline APPFOLDER: its bin/quorva-desktop
const std::string kDriver = kApp + "/Resources/vov-driver";
const std::string kBare = QUORVA_BENCH_BARE_QT;
const std::string kCtl = QUORVA_BENCH_CTL;

// As root, kill(-1) reaches every process on the machine: a pid that failed
// to come about must never be signalled.
void signalOne(pid_t pid, int sig) {
    if (pid > 0) ::kill(pid, sig);
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    std::vector<double> values;
    int failures = 0;
    double median() const {
        auto v = values;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    std::string describe() const {
        if (values.empty()) return "no successful run";
        char buf[128];
        std::snprintf(buf, sizeof buf, "%6.2f ms (%.2f-%.2f, n=%zu)", median(),
                      *std::min_element(values.begin(), values.end()),
                      *std::max_element(values.begin(), values.end()), values.size());
        return buf;
    }
};

std::vector<std::string> environmentFor(const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) && std::strncmp(*e, "WAYLAND_DISPLAY=", 16))
            env.emplace_back(*e);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    return env;
}

// Output to /dev/null; `readyFd`, if given, becomes the child's descriptor 3.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int readyFd = -1) {
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (readyFd >= 0) posix_spawn_file_actions_adddup2(&fa, readyFd, 3);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, a.data(), e.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// The raw wait status, or -1 if still running after `timeoutMs`.
int reap(pid_t pid, int timeoutMs = 5000) {
    if (pid <= 0) return 0;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return status;
}

void stop(pid_t pid, int& failures, const char* what) {
    if (pid <= 0) {
        ++failures, std::printf("    %s: could not be started\n", what);
        return;
    }
    signalOne(pid, SIGTERM);
    int status = reap(pid);
    if (status == -1) signalOne(pid, SIGKILL), status = reap(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ++failures;
        if (WIFSIGNALED(status))
            std::printf("    %s: ended by signal %d (%s)\n", what, WTERMSIG(status),
                        sigabbrev_np(WTERMSIG(status)));
        else
            std::printf("    %s: exit status %d\n", what, WEXITSTATUS(status));
    }
}

bool connects(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// Waits for `name` to be made in the watched folder, then for it to accept a
// connection (binding comes a moment before listening).
bool serving(int inotifyFd, const std::string& path, int timeoutMs = 5000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!connects(path)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) return false;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            std::this_thread::yield();
            continue;
        }
        pollfd p{inotifyFd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) > 0) {
            char buf[4096];
            [[maybe_unused]] ssize_t n = ::read(inotifyFd, buf, sizeof buf);
        }
    }
    return true;
}

struct Home {
    std::string home, runtime, socket;
    int inotifyFd = -1;
    Home() {
        char tmpl[] = "/tmp/quorva-hostbench-XXXXXX";
        home = ::mkdtemp(tmpl);
        runtime = home + "/desktop";
        socket = runtime + "/driver.sock";
        // An existing runtime folder, as on every start but a user's first.
        ::mkdir(runtime.c_str(), 0700);
        inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ::inotify_add_watch(inotifyFd, runtime.c_str(), IN_CREATE);
    }
    ~Home() {
        ::close(inotifyFd);
        std::error_code ec;
        fs::remove_all(home, ec);
    }
};

// exec -> the host's driver serving; the host is then quit.
void timeHost(const std::string& display, Figures& f, const std::string& program = kHost) {
    Home h;
    const auto t0 = Clock::now();
    const pid_t host = spawn({program, "--home", h.home}, environmentFor(display));
    if (serving(h.inotifyFd, h.socket))
        f.values.push_back(ms(Clock::now() - t0));
    else
        ++f.failures, std::printf("    host: the driver never served\n");
    stop(host, f.failures, "host");
}

// exec -> the driver alone serving: what no host can beat.
void timeFloor(Figures& f) {
    Home h;
    const auto t0 = Clock::now();
    const pid_t driver = spawn(
        {kDriver, "serve", "--embedded", "--socket", h.socket, "--permission-mode", "standard"},
        environmentFor(""));
    if (serving(h.inotifyFd, h.socket))
        f.values.push_back(ms(Clock::now() - t0));
    else
        ++f.failures;
    stop(driver, f.failures, "driver");
}

std::vector<std::string> bareArguments(const std::string& display, bool idle) {
    std::vector<std::string> argv{kBare};
    if (idle) argv.push_back("idle");
    if (display.empty()) argv.insert(argv.end(), {"-platform", "offscreen"});
    return argv;
}

// exec -> a bare QApplication's first event-loop turn.
void timeBare(const std::string& display, Figures& f) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    const auto t0 = Clock::now();
    const pid_t bare = spawn(bareArguments(display, false), environmentFor(display), fds[1]);
    ::close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    char c;
    if (::poll(&p, 1, 5000) == 1 && ::read(fds[0], &c, 1) == 1)
        f.values.push_back(ms(Clock::now() - t0));
    else
        ++f.failures, std::printf("    bare QApplication: no event-loop turn\n");
    ::close(fds[0]);
    const int status = bare > 0 ? reap(bare) : 0;
    if (status == -1) signalOne(bare, SIGKILL), reap(bare);
    if (status != -1 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) ++f.failures;
}

pid_t hostPidOf(const std::string& runtime) {
    std::ifstream in(runtime + "/status.json");
    const std::string all((std::istreambuf_iterator<char>(in)), {});
    const auto at = all.find("\"host_pid\":");
    return at == std::string::npos ? -1 : std::atoi(all.c_str() + at + 11);
}

// `quorvactl start` -> the driver serving, and -> quorvactl returning.
void timeCtl(const std::string& display, Figures& serving_, Figures& returned) {
    Home h;
    const auto t0 = Clock::now();
    const pid_t ctl = spawn({kCtl, "start", "--home", h.home}, environmentFor(display));
    if (ctl > 0 && serving(h.inotifyFd, h.socket))
        serving_.values.push_back(ms(Clock::now() - t0));
    else
        ++serving_.failures;
    const int status = reap(ctl);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        returned.values.push_back(ms(Clock::now() - t0));
    else
        ++returned.failures, signalOne(ctl, SIGKILL), reap(ctl);
    stop(hostPidOf(h.runtime), serving_.failures, "host started by quorvactl");
}

void startThroughCtl(const char* label, const std::string& display, int n) {
    Figures host, viaCtl, returned;
    for (int i = 0; i < n; ++i) {
        timeHost(display, host);
        timeCtl(display, viaCtl, returned);
    }
    std::printf("%s\n  host, exec -> driver serving:            %s\n", label,
                host.describe().c_str());
    std::printf("  quorvactl start -> driver serving:       %s  failures %d\n",
                viaCtl.describe().c_str(), viaCtl.failures);
    std::printf("  quorvactl start -> it returns:           %s  failures %d\n",
                returned.describe().c_str(), returned.failures);
}

void printStart(const char* label, const Figures& host, const Figures& bare, const Figures* floor,
                const Figures* baseline = nullptr) {
    std::printf("%s\n", label);
    std::printf("  host, exec -> driver serving:           %s  failures %d\n",
                host.describe().c_str(), host.failures);
    if (baseline && !baseline->values.empty())
        std::printf(
            "  baseline host, exec -> driver serving:  %s  failures %d; host / baseline: %.2fx\n",
            baseline->describe().c_str(), baseline->failures, host.median() / baseline->median());
    std::printf("  bare QApplication, exec -> first turn:  %s  failures %d\n",
                bare.describe().c_str(), bare.failures);
    if (floor)
        std::printf("  floor, spawn -> driver serving:         %s\n", floor->describe().c_str());
    if (!host.values.empty() && !bare.values.empty())
        std::printf(
            "  host / bare QApplication: %.2fx%s\n", host.median() / bare.median(),
            floor && !floor->values.empty()
                ? ("; host / floor: " + std::to_string(host.median() / floor->median())).c_str()
                : "");
}

// Each kind in turn and in rotating order, `n` times.
void startSideBySide(const char* label, const std::string& display, int n, bool withFloor) {
    Figures host, bare, floor, baseline;
    std::vector<std::function<void()>> kinds{[&] { timeHost(display, host); },
                                             [&] { timeBare(display, bare); }};
    if (withFloor) kinds.push_back([&] { timeFloor(floor); });
    if (!baselineHost.empty()) kinds.push_back([&] { timeHost(display, baseline, baselineHost); });
    for (int i = 0; i < n; ++i)
        for (std::size_t k = 0; k < kinds.size(); ++k) kinds[(i + k) % kinds.size()]();
    printStart(label, host, bare, withFloor ? &floor : nullptr,
               baselineHost.empty() ? nullptr : &baseline);
}

long statusField(pid_t pid, const char* field, const char* file = "status") {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Over all threads: nanoseconds on a CPU, and voluntary and involuntary
// context switches (each voluntary one is a wake-up from a sleep).
struct Usage {
    double cpuNs = 0, voluntary = 0, involuntary = 0;
};

Usage usageOf(pid_t pid) {
    Usage u;
    std::error_code ec;
    for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream sched(t.path() / "schedstat");
        double ns = 0;
        sched >> ns;
        u.cpuNs += ns;
        std::ifstream status(t.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) u.voluntary += std::atof(&line[24]);
            if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                u.involuntary += std::atof(&line[27]);
        }
    }
    return u;
}

bool mapsQt(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    return std::string(std::istreambuf_iterator<char>(in), {}).find("libQt6") != std::string::npos;
}

// Resident and proportional set sizes, in KiB.
std::string memoryOf(pid_t pid) {
    return std::to_string(statusField(pid, "Rss:", "smaps_rollup")) + "/" +
           std::to_string(statusField(pid, "Pss:", "smaps_rollup"));
}

// A host with one live client (this process), or a bare QApplication.
pid_t startIdle(bool bareQt, const std::string& display, Home& h,
                const std::string& program = kHost) {
    if (bareQt) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
        const pid_t pid = spawn(bareArguments(display, true), environmentFor(display), fds[1]);
        ::close(fds[1]);
        char c;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 5000) == 1) [[maybe_unused]]
            ssize_t n = ::read(fds[0], &c, 1);
        ::close(fds[0]);
        return pid;
    }
    const pid_t pid = spawn({program, "--home", h.home}, environmentFor(display));
    serving(h.inotifyFd, h.socket);
    std::ofstream(h.runtime + "/clients/" + std::to_string(::getpid())).flush();
    return pid;
}

// RSS/PSS of the idle host (and the baseline's), next to a bare QApplication's.
void idleMemory(const char* label, const std::string& display) {
    Home hh, bh, oh;
    const pid_t host = startIdle(false, display, hh), bare = startIdle(true, display, bh);
    const pid_t old = baselineHost.empty() ? -1 : startIdle(false, display, oh, baselineHost);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::printf("%s idle RSS/PSS in KiB: host %s, bare QApplication %s%s\n", label,
                memoryOf(host).c_str(), memoryOf(bare).c_str(),
                old > 0 ? (", baseline host " + memoryOf(old)).c_str() : "");
    std::printf("  the host maps libQt6: %s\n", mapsQt(host) ? "yes" : "no");
    int failures = 0;
    stop(host, failures, "host");
    if (old > 0) stop(old, failures, "baseline host");
    signalOne(bare, SIGTERM);
    if (bare > 0) reap(bare);
}

void idleCpu(const char* label, const std::string& display, pid_t xserver, int seconds) {
    Home h;
    const pid_t host = startIdle(false, display, h);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const Usage h0 = usageOf(host), x0 = xserver > 0 ? usageOf(xserver) : Usage{};
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Usage h1 = usageOf(host), x1 = xserver > 0 ? usageOf(xserver) : Usage{};
    const auto share = [&](double ns) { return ns / (seconds * 1e9) * 100; };
    std::printf("%s idle over %d s, one live client:\n", label, seconds);
    std::printf("  host:     %.4f %% of a core, %.2f wake-ups/s (voluntary), %.2f/s involuntary\n",
                share(h1.cpuNs - h0.cpuNs), (h1.voluntary - h0.voluntary) / seconds,
                (h1.involuntary - h0.involuntary) / seconds);
    if (xserver > 0)
        std::printf("  X server: %.4f %% of a core, %.2f wake-ups/s; host + X server %.4f %%\n",
                    share(x1.cpuNs - x0.cpuNs), (x1.voluntary - x0.voluntary) / seconds,
                    share(h1.cpuNs - h0.cpuNs + x1.cpuNs - x0.cpuNs));
    int failures = 0;
    stop(host, failures, "host");
}

// The driver's death -> the host's exit.
void exitOnDriverDeath(const char* label, const std::string& display) {
    Figures f;
    for (int i = 0; i < 20; ++i) {
        Home h;
        const pid_t host = spawn({kHost, "--home", h.home}, environmentFor(display));
        if (!serving(h.inotifyFd, h.socket)) {
            ++f.failures, std::printf("    host: the driver never served\n");
            stop(host, f.failures, "host");
            continue;
        }
        // Supervising: the toolkit has started (a driver that dies before that
        // is noticed once it has).
        for (int wait = 0; wait < 5000 && !fs::exists(h.runtime + "/status.json"); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Its line comes a moment after it starts listening.
        pid_t driver = -1;
        for (int wait = 0; wait < 5000 && driver < 0; ++wait) {
            std::ifstream log(h.runtime + "/desktop.log");
            for (std::string line; driver < 0 && std::getline(log, line);)
                std::sscanf(line.c_str(), "vov-driver (stand-in) %d:", &driver);
            if (driver < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto t0 = Clock::now();
        signalOne(driver, SIGKILL);
        if (reap(host) != -1)
            f.values.push_back(ms(Clock::now() - t0));
        else
            ++f.failures,
                std::printf("    host: still running 5 s after its driver (%d) was killed\n",
                            driver),
                stop(host, f.failures, "host");
    }
    std::printf("%s driver killed -> host exited: %s  failures %d\n", label, f.describe().c_str(),
                f.failures);
}

void windowMemory(const std::string& display) {
    Home h;
    const pid_t host = startIdle(false, display, h);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::string before = memoryOf(host);
    std::ofstream(h.runtime + "/show-permissions").flush();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::printf("Xvfb: RSS/PSS in KiB before the window %s, after it is first shown %s\n",
                before.c_str(), memoryOf(host).c_str());
    int failures = 0;
    stop(host, failures, "host");
}

// Mapped and painted: the pixel inside its top-left corner has the window's
// background colour (41, 41, 39).
bool painted(xcb_connection_t* c, xcb_window_t w) {
    auto* image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 4, 4, 1, 1, ~0u), nullptr);
    const bool ok = image && xcb_get_image_data_length(image) >= 3 &&
                    std::memcmp(xcb_get_image_data(image), "\x27\x29\x29", 3) == 0;
    std::free(image);
    return ok;
}

// The tick that takes the request -> the window on screen.
// The tick that takes the request -> the window on screen, for one host.
void timeFirstWindow(xcb_connection_t* c, const std::string& display, const std::string& program,
                     Figures& wall, Figures& cpu) {
    Home h;
    const pid_t host = startIdle(false, display, h, program);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::inotify_add_watch(h.inotifyFd, h.runtime.c_str(), IN_DELETE);
    std::ofstream(h.runtime + "/show-permissions").flush();
    Clock::time_point taken{}, shown{};
    double cpuAtTaken = 0;
    xcb_window_t mapped = 0;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (shown == Clock::time_point{} && Clock::now() < end) {
        char buf[4096];
        for (ssize_t k;
             taken == Clock::time_point{} && (k = ::read(h.inotifyFd, buf, sizeof buf)) > 0;)
            for (char* p = buf; p < buf + k;
                 p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
                if ((reinterpret_cast<inotify_event*>(p)->mask & IN_DELETE) &&
                    !std::strcmp(reinterpret_cast<inotify_event*>(p)->name, "show-permissions"))
                    taken = Clock::now(), cpuAtTaken = usageOf(host).cpuNs;
        xcb_flush(c);
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY)
                mapped = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
            std::free(e);
        }
        if (mapped && taken != Clock::time_point{} && painted(c, mapped)) shown = Clock::now();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (shown != Clock::time_point{})
        wall.values.push_back(ms(shown - taken)),
            cpu.values.push_back((usageOf(host).cpuNs - cpuAtTaken) / 1e6);
    else
        ++wall.failures;
    stop(host, wall.failures, "host");
}

// This host's first window and, given one, the baseline's, in turn.
void firstWindow(const std::string& display, int n) {
    Figures wall, cpu, baseWall,
        baseCpu;  // CPU: the host's own, which a busy machine hardly changes
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    for (int i = 0; i < n; ++i) {
        timeFirstWindow(c, display, kHost, wall, cpu);
        if (!baselineHost.empty()) timeFirstWindow(c, display, baselineHost, baseWall, baseCpu);
    }
    xcb_disconnect(c);
    std::printf("Xvfb: the tick taking the request -> the first window on screen\n");
    std::printf("  host:          %s  failures %d; its CPU time %s\n", wall.describe().c_str(),
                wall.failures, cpu.describe().c_str());
    if (!baselineHost.empty())
        std::printf("  baseline host: %s  failures %d; its CPU time %s\n",
                    baseWall.describe().c_str(), baseWall.failures, baseCpu.describe().c_str());
}

struct Xvfb {
    pid_t pid = -1;
    std::string display;
    explicit Xvfb(bool noreset) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        std::vector<std::string> argv{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]),
                                      "-screen",       "0",          "1280x800x24",
                                      "-nolisten",     "tcp"};
        if (noreset) argv.push_back("-noreset");
        pid = spawn(argv, environmentFor(""));
        ::close(fds[1]);
        if (pid <= 0) ::close(fds[0]), fds[0] = -1;
        char c;
        std::string n;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') n += c;
        ::close(fds[0]);
        display = n.empty() ? "" : ":" + n;
    }
    ~Xvfb() {
        if (pid > 0) signalOne(pid, SIGTERM), reap(pid);
    }
};

// This host against another build's (say, the one before a change) and the
// floor, in turn and in rotating order, without a display.
void startAgainst(const std::string& otherApp, int n) {
    Figures host, other, floor;
    const std::vector<std::function<void()>> kinds{
        [&] { timeHost("", host); }, [&] { timeHost("", other, otherApp + "/bin/quorva-desktop"); },
        [&] { timeFloor(floor); }};
    for (int i = 0; i < n; ++i)
        for (std::size_t k = 0; k < kinds.size(); ++k) kinds[(i + k) % kinds.size()]();
    std::printf("exec -> driver serving, no display, medians of side-by-side runs:\n");
    std::printf("  this host:   %s  failures %d\n", host.describe().c_str(), host.failures);
    std::printf("  %s: %s  failures %d\n", otherApp.c_str(), other.describe().c_str(),
                other.failures);
    std::printf("  floor:       %s\n", floor.describe().c_str());
    if (!host.values.empty() && !other.values.empty() && !floor.values.empty())
        std::printf("  this / other: %.3fx; this - floor: %.2f ms, other - floor: %.2f ms\n",
                    host.median() / other.median(), host.median() - floor.median(),
                    other.median() - floor.median());
}

std::string textOption(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name)) return argv[i + 1];
    return "";
}

int option(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name)) return std::atoi(argv[i + 1]);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const bool cpu = argc > 1 && !std::strcmp(argv[1], "--cpu");
    const int starts = option(argc, argv, "--starts", 40);
    const int clientless = option(argc, argv, "--clientless", 150);
    const int seconds = option(argc, argv, "--seconds", 60);
    const int windows = option(argc, argv, "--windows", 15);
    if (const std::string b = textOption(argc, argv, "--baseline"); !b.empty())
        baselineHost = b + "/bin/quorva-desktop";
    // Drivers whose host was killed come back to us: we reap them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    // --against APP_DIR: only the start, against that app folder's host.
    if (const std::string other = textOption(argc, argv, "--against"); !other.empty())
        return startAgainst(other, starts), 0;

    startSideBySide("No display (offscreen), medians of side-by-side runs:", "", starts, true);
    {
        Xvfb x(true);
        if (!x.display.empty()) {
            startSideBySide("Xvfb -noreset, as a desktop session:", x.display, starts, false);
            startThroughCtl("Xvfb -noreset, through quorvactl:", x.display, 20);
            idleMemory("Xvfb:", x.display);
            windowMemory(x.display);
            firstWindow(x.display, windows);
            exitOnDriverDeath("Xvfb:", x.display);
            if (cpu) idleCpu("Xvfb:", x.display, x.pid, seconds);
        }
    }
    {
        Xvfb x(false);
        if (!x.display.empty()) {
            Figures host, bare;
            for (int i = 0; i < clientless; ++i)
                timeHost(x.display, host), timeBare(x.display, bare);
            printStart("Xvfb with no other client (resets whenever its last client leaves):", host,
                       bare, nullptr);
        }
    }
    startThroughCtl("No display, through quorvactl:", "", 20);
    idleMemory("No display:", "");
    exitOnDriverDeath("No display:", "");
    if (cpu) idleCpu("No display:", "", -1, seconds);
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return 0;
}
