// One supervision tick with N registrations, against a floor measured in the
// same run: the system calls a tick cannot do without (a look at the home's
// path, one listing of the clients folder, one kill per entry, one temporary
// file written and swapped into place, the old one unlinked, and for dead
// entries one unlink each).
// Also: ticks with a pause before each, so that the cost of a tick that wakes
// with cold caches shows (the real tick runs once a second), and ticks with
// the real X probes against an X server of the benchmark's own.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/quorva_desktop.h"
#include "bench/quiet_system.h"
#include "platform/files.h"
#include "platform/system.h"
#include "supervision/registration.h"

namespace fs = std::filesystem;

namespace {

// QUORVA_BENCH_DIR picks the file system (say /dev/shm to leave the disk out).
std::string makeHome() {
    const char* base = std::getenv("QUORVA_BENCH_DIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorva-bench-XXXXXX";
    std::string home = ::mkdtemp(tmpl.data());
    fs::create_directories(home + "/desktop/clients");
    return home;
}

// Live processes to name: this benchmark and children of its own that wait
// until it ends. Each pid is written with a different number of leading
// zeros, so thousands of distinct names all name live processes.
std::vector<int> livePids() {
    static std::vector<int> pids = [] {
        std::vector<int> out{::getpid()};
        for (int i = 0; i < 99; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                ::pause();
                ::_exit(0);
            }
            if (child > 0) out.push_back(child);
        }
        return out;
    }();
    return pids;
}

void fillLive(const std::string& folder, int count) {
    const auto pids = livePids();
    for (int i = 0; i < count; ++i) {
        const int pid = pids[static_cast<std::size_t>(i) % pids.size()];
        const std::size_t zeros = static_cast<std::size_t>(i) / pids.size();
        const std::string name = std::string(zeros, '0') + std::to_string(pid);
        ::close(::open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600));
    }
}

// Names of pids beyond pid_max (the processes never exist): ten numbers, each
// with up to 99 leading zeros, so 1,000 distinct names stay far below 255 bytes.
void fillDead(const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string(static_cast<std::size_t>(i / 10), '0') +
                                 std::to_string(2147483647 - i % 10);
        ::close(::open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600));
    }
}

// A host object holding its home's runtime folder, as start-up leaves it:
// without the folder a tick has nothing to do.
std::shared_ptr<QuorvaDesktop> lockedHost(platform::System& system, const std::string& home) {
    auto host =
        std::make_shared<QuorvaDesktop>(system, std::vector<std::string>{"b", "--home", home});
    if (host->takeRuntimeFolder() != platform::LockOutcome::Acquired) std::abort();
    return host;
}

void floorPass(const std::string& runtime, bool removeAll) {
    struct stat st {};
    benchmark::DoNotOptimize(::lstat(runtime.c_str(), &st));  // is the home still there
    const std::string clients = runtime + "/clients";
    DIR* dir = ::opendir(clients.c_str());
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int r = ::kill(std::atoi(e->d_name), 0);
        benchmark::DoNotOptimize(r);
        if (removeAll) ::unlinkat(dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
    const std::string temp = runtime + "/.status.json.tmp", target = runtime + "/status.json";
    const int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    static const char bytes[] =
        "{\"accessibility\":false,\"bundle_id\":\"com.quorva.desktop\",\"host_pid\":1,"
        "\"owner\":\"Quorva\",\"screen_recording\":false,\"status\":\"permission_required\"}";
    benchmark::DoNotOptimize(::write(fd, bytes, sizeof bytes - 1));
    ::close(fd);
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
        ::unlink(temp.c_str());
    else
        ::rename(temp.c_str(), target.c_str());
}

// The floor's share of the X probes: one root-window read sent, the answer to
// the one before collected without waiting.
struct FloorX {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    unsigned pending = 0;  // 0: none waiting
    ~FloorX() { xcb_disconnect(c); }
    void probe() {
        if (pending) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (xcb_poll_for_reply(c, pending, &reply, &error)) pending = 0;
            std::free(reply);
            std::free(error);
        }
        if (!pending) {
            pending = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 1, 1, ~0u).sequence;
            xcb_flush(c);
        }
    }
};

// The quiet system, but with the real X probes.
class XProbingSystem final : public platform::System {
  public:
    double now() override { return quiet.now(); }
    bool accessibilityTrusted() override { return platform::os::accessibilityTrusted(); }
    bool screenCaptureAllowed() override { return platform::os::screenCaptureAllowed(); }
    void requestAccessibility() override {}
    void requestScreenCapture() override {}
    void openUrl(const std::string&, const platform::Environment&) override {}
    void terminate(int) override {}
    void activate() override {}
    QuietSystem quiet;
};

bool haveDisplay() {
    const char* d = std::getenv("DISPLAY");
    return d && *d;
}

void BM_TickLive(benchmark::State& state) {
    QuietSystem system;
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    auto host = lockedHost(system, home);
    for (auto _ : state) host->tick();
    fs::remove_all(home);
}

void BM_FloorLive(benchmark::State& state) {
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    for (auto _ : state) floorPass(home + "/desktop", false);
    fs::remove_all(home);
}

void BM_TickDead(benchmark::State& state) {
    QuietSystem system;
    const std::string home = makeHome();
    auto host = lockedHost(system, home);
    for (auto _ : state) {
        state.PauseTiming();
        fillDead(home + "/desktop/clients", static_cast<int>(state.range(0)));
        state.ResumeTiming();
        host->tick();
    }
    fs::remove_all(home);
}

void BM_FloorDead(benchmark::State& state) {
    const std::string home = makeHome();
    for (auto _ : state) {
        state.PauseTiming();
        fillDead(home + "/desktop/clients", static_cast<int>(state.range(0)));
        state.ResumeTiming();
        floorPass(home + "/desktop", true);
    }
    fs::remove_all(home);
}

// Each tick after a pause, as the real one comes once a second.
void BM_TickAfterPause(benchmark::State& state) {
    QuietSystem system;
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    auto host = lockedHost(system, home);
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state.ResumeTiming();
        host->tick();
    }
    fs::remove_all(home);
}

void BM_FloorAfterPause(benchmark::State& state) {
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state.ResumeTiming();
        floorPass(home + "/desktop", false);
    }
    fs::remove_all(home);
}

void BM_TickX(benchmark::State& state) {
    if (!haveDisplay()) return state.SkipWithError("no X display");
    XProbingSystem system;
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    auto host = lockedHost(system, home);
    host->tick();  // makes the connection
    for (auto _ : state) host->tick();
    fs::remove_all(home);
}

void BM_FloorX(benchmark::State& state) {
    if (!haveDisplay()) return state.SkipWithError("no X display");
    FloorX x;
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    for (auto _ : state) {
        x.probe();
        floorPass(home + "/desktop", false);
    }
    fs::remove_all(home);
}

// An X server of our own for the X cases, kept for the whole run.
pid_t startXvfb() {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const std::string fd = std::to_string(fds[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0), ::dup2(null, 2);
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp",
                nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string n;
    for (char c; ::read(fds[0], &c, 1) == 1 && c != '\n';) n += c;
    ::close(fds[0]);
    if (!n.empty()) ::setenv("DISPLAY", (":" + n).c_str(), 1);
    return pid;
}

}  // namespace

BENCHMARK(BM_TickLive)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorLive)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickDead)->Arg(1000)->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorDead)->Arg(1000)->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickAfterPause)->Arg(10)->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorAfterPause)->Arg(10)->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickX)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorX)->Arg(10)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    const pid_t xvfb = startXvfb();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (xvfb > 0) ::kill(xvfb, SIGTERM), ::waitpid(xvfb, nullptr, 0);
    return 0;
}
