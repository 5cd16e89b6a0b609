// One supervision tick with N registrations, against a floor measured in the
// same run: the system calls a tick cannot do without (one listing of the
// clients folder, one kill per entry, one temporary file written and renamed,
// and for dead entries one unlink each).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/quorva_desktop.h"
#include "bench/quiet_system.h"
#include "platform/files.h"
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

// Names of a pid beyond pid_max: the process never exists.
void fillDead(const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string(static_cast<std::size_t>(i), '0') + "2147483647";
        ::close(::open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600));
    }
}

void floorPass(const std::string& runtime, bool removeAll) {
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
    ::rename(temp.c_str(), target.c_str());
}

void BM_TickLive(benchmark::State& state) {
    QuietSystem system;
    const std::string home = makeHome();
    fillLive(home + "/desktop/clients", static_cast<int>(state.range(0)));
    auto host =
        std::make_shared<QuorvaDesktop>(system, std::vector<std::string>{"b", "--home", home});
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
    auto host =
        std::make_shared<QuorvaDesktop>(system, std::vector<std::string>{"b", "--home", home});
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

}  // namespace

BENCHMARK(BM_TickLive)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorLive)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickDead)->Arg(1000)->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorDead)->Arg(1000)->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
