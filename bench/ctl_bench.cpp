// quorvactl's own times, and the host's start and idle figures, for this
// build and, given --against DIR (a folder holding an earlier build's
// bin/quorvactl and QuorvaDesktop/), for that one too, interleaved so that
// both see the same machine. Prints medians; asserts nothing.
//   start:  quorvactl start on a fresh home -> it returns (the driver serving)
//   status: quorvactl status with the host running -> it returns
//   stop:   quorvactl stop -> it returns (the host gone)
//   host:   exec of the host -> its driver accepting a connection
//   idle:   resident memory and CPU of a host with one live client
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Build {
    Build(std::string n, std::string c, std::string h)
        : name(std::move(n)), ctl(std::move(c)), host(std::move(h)) {}
    std::string name, ctl, host;
    std::vector<double> start, status, stop, exec;
    long rssKiB = 0;
    double cpuNs = 0;
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string median(std::vector<double> v) {
    if (v.empty()) return "-";
    std::sort(v.begin(), v.end());
    char buf[64];
    std::snprintf(buf, sizeof buf, "%7.2f ms (n=%zu)", v[v.size() / 2], v.size());
    return buf;
}

// Output to /dev/null, no display: every run sees the same offscreen host.
pid_t spawn(const std::vector<std::string>& argv) {
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (char** v = environ; *v; ++v)
        if (std::strncmp(*v, "DISPLAY=", 8) && std::strncmp(*v, "WAYLAND_DISPLAY=", 16))
            e.push_back(*v);
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// The milliseconds `argv` took to end, or none if it failed.
bool timed(const std::vector<std::string>& argv, std::vector<double>& into, int wanted = 0) {
    const auto t0 = Clock::now();
    const pid_t pid = spawn(argv);
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != wanted)
        return false;
    into.push_back(ms(Clock::now() - t0));
    return true;
}

bool accepts(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string freshHome() {
    char tmpl[] = "/tmp/quorva-ctlbench-XXXXXX";
    return ::mkdtemp(tmpl);
}

int hostPid(const std::string& home) {
    std::ifstream in(home + "/desktop/status.json");
    const std::string all((std::istreambuf_iterator<char>(in)), {});
    const auto at = all.find("\"host_pid\":");
    return at == std::string::npos ? -1 : std::atoi(all.c_str() + at + 11);
}

void ends(int pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// start, status, stop through the build's own quorvactl (an earlier one may
// have no stop: its host is then ended with SIGTERM, untimed).
void ctlRound(Build& b, bool hasStop) {
    const std::string home = freshHome();
    if (timed({b.ctl, "start", "--home", home}, b.start))
        timed({b.ctl, "status", "--home", home}, b.status, 2);
    if (!hasStop || !timed({b.ctl, "stop", "--home", home}, b.stop)) ends(hostPid(home));
    fs::remove_all(home);
}

void hostRound(Build& b) {
    const std::string home = freshHome();
    const auto t0 = Clock::now();
    const pid_t host = spawn({b.host, "--home", home});
    while (host > 0 && !accepts(home + "/desktop/driver.sock") &&
           Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::yield();
    if (host > 0 && Clock::now() - t0 < std::chrono::seconds(5))
        b.exec.push_back(ms(Clock::now() - t0));
    ::kill(host, SIGTERM);
    ::waitpid(host, nullptr, 0);
    fs::remove_all(home);
}

double cpuNsOf(pid_t pid) {
    double total = 0;
    std::error_code ec;
    for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        double ns = 0;
        std::ifstream(t.path() / "schedstat") >> ns;
        total += ns;
    }
    return total;
}

long rssOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Both hosts idle side by side over the same seconds, one live client each.
void idle(std::vector<Build>& builds, int seconds) {
    std::vector<std::string> homes;
    std::vector<pid_t> hosts;
    for (auto& b : builds) {
        homes.push_back(freshHome());
        hosts.push_back(spawn({b.host, "--home", homes.back()}));
        const auto t0 = Clock::now();
        while (!accepts(homes.back() + "/desktop/driver.sock") &&
               Clock::now() - t0 < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ofstream(homes.back() + "/desktop/clients/" + std::to_string(::getpid())).flush();
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<double> before;
    for (const pid_t h : hosts) before.push_back(cpuNsOf(h));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (std::size_t i = 0; i < builds.size(); ++i) {
        builds[i].cpuNs = cpuNsOf(hosts[i]) - before[i];
        builds[i].rssKiB = rssOf(hosts[i]);
        ::kill(hosts[i], SIGTERM);
        ::waitpid(hosts[i], nullptr, 0);
        fs::remove_all(homes[i]);
    }
}

std::string option(int argc, char** argv, const char* name, const std::string& fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name)) return argv[i + 1];
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = std::stoi(option(argc, argv, "--runs", "20"));
    const int seconds = std::stoi(option(argc, argv, "--idle-seconds", "30"));
    const std::string against = option(argc, argv, "--against", "");
    std::vector<Build> builds{Build("this build", QUORVA_BENCH_CTL, QUORVA_BENCH_HOST)};
    if (!against.empty())
        builds.emplace_back("earlier build", against + "/bin/quorvactl",
                            against + "/QuorvaDesktop/bin/quorva-desktop");
    // Whether each build's quorvactl has a stop to time.
    std::vector<bool> hasStop;
    for (const auto& b : builds) {
        std::vector<double> ignored;
        hasStop.push_back(timed({b.ctl, "stop", "--help"}, ignored));
    }
    // Rotating order, so neither always runs first.
    for (int i = 0; i < runs; ++i)
        for (std::size_t k = 0; k < builds.size(); ++k) {
            const std::size_t at = (i + k) % builds.size();
            ctlRound(builds[at], hasStop[at]);
            hostRound(builds[at]);
        }
    idle(builds, seconds);
    std::printf("medians of %d runs each, no display%s\n", runs,
                builds.size() > 1 ? ", the two builds interleaved" : "");
    for (const auto& b : builds) {
        std::printf("%s:\n", b.name.c_str());
        std::printf("  quorvactl start -> returns:   %s\n", median(b.start).c_str());
        std::printf("  quorvactl status -> returns:  %s\n", median(b.status).c_str());
        std::printf("  quorvactl stop -> returns:    %s\n", median(b.stop).c_str());
        std::printf("  host exec -> driver serving:  %s\n", median(b.exec).c_str());
        std::printf("  idle, one client, over %d s: %ld KiB resident, %.4f %% of a core\n", seconds,
                    b.rssKiB, b.cpuNs / (seconds * 1e9) * 100);
    }
    return 0;
}
