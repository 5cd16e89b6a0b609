#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <time.h>

#include <chrono>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace test {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The built app folder (bin/ and Resources/), and a copy of it inside
// `parent` that a test may change (say, a script for vov-driver).
std::string builtAppFolder();
std::string copyAppFolder(const std::string& parent);

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string readFile(const std::string& path);
mode_t modeOf(const std::string& path);  // permission bits only
bool pathExists(const std::string& path);
using Names = std::set<std::string>;
Names namesIn(const std::string& folder);  // none when it cannot be listed

// Polls `condition` until it holds or `timeout` passes.
template <typename F>
bool waitFor(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        const timespec pause{0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
    return true;
}

// A started program with its standard output and error captured to files;
// killed and reaped at the end if still running.
struct Process {
    pid_t pid = -1;
    std::string outPath, errPath;
    Process() = default;
    Process(Process&& o) noexcept { *this = std::move(o); }
    Process& operator=(Process&& o) noexcept;  // the moved-from one owns nothing
    // The raw wait status, or -1 when it has not ended within `timeout`.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void kill(int sig) const;
    ~Process();

  private:
    void stop();  // killed and reaped if still running
};

// Starts `argv` with the complete environment `env`; output goes to `outDir`.
// The signals in `blocked` start blocked in it.
Process spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& outDir, const std::vector<int>& blocked = {});

// Pids of the other processes whose command line mentions `text` (and that run `program`).
std::vector<pid_t> processesMentioning(const std::string& text, const std::string& program = "");

// This process's environment less the names in `drop`, plus `add`.
std::vector<std::string> environmentWith(const std::vector<std::string>& add,
                                         const std::vector<std::string>& drop = {});

// The built host run from a private copy of the app folder, in a home not yet made.
class HostTest : public ::testing::Test {
  public:
    TempDir tmp;
    const std::string app = copyAppFolder(tmp.path());
    std::string home = tmp / "new/home";

    ~HostTest() override;  // a driver may outlive its host for a moment: all are killed
    std::string at(const std::string& name) const { return home + "/desktop/" + name; }
    bool exists(const std::string& name) const { return pathExists(at(name)); }
    std::string read(const std::string& name) const { return readFile(at(name)); }
    std::string log() const { return read("desktop.log"); }
    static bool has(std::string_view s, std::string_view part) { return s.find(part) != s.npos; }
    // Processes of the copy's `program` ("/Resources/vov-driver", "/bin/quorva-driver-guard").
    std::vector<pid_t> running(const std::string& program) const;

    // Via a shell running `shell` first ("$1" is the home; a $RUN it sets wraps the host), with
    // no display unless it sets one and no core dumps. `args` holding a --home replaces ours.
    // With signals to start `blocked`, the host is started straight (a shell unblocks them).
    Process start(const std::string& args = "", const std::string& shell = ":",
                  const std::vector<int>& blocked = {});
    // A command that runs the host as `uid`, a user of its own who owns `tmp`. Only root needs
    // one: anyone else is such a user already.
    std::string asUser(uid_t uid) const;
    // Replaces the driver with a script that records its pid and works in `tmp`.
    void scriptDriver(const std::string& body);
    pid_t driverPid() const;
    // The host ended by itself with `status` (or was killed by signal -`status`) within
    // `within`, and printed nothing.
    static void expectEnd(Process& host, int status = 0,
                          std::chrono::milliseconds within = std::chrono::seconds(5));
};

// An X server on a free display for as long as the object lives: started at once, or `later`
// on a display number kept for it (start() then, and again after stop()).
class Xvfb {
  public:
    explicit Xvfb(const std::vector<std::string>& options = {}, bool later = false);
    ~Xvfb() { stop(); }
    bool start();  // true once it takes clients
    void stop();   // SIGTERM, so the server removes its lock and socket
    const std::string& display() const { return display_; }  // ":N", empty on failure
    bool ok() const { return !display_.empty(); }
    void kill(int sig) const { server_.kill(sig); }
    // Whether a window of this title is on the server now (as xwininfo sees it).
    bool hasWindow(const std::string& title) const;

  private:
    std::vector<std::string> options_;
    TempDir dir_;
    Process server_;
    std::string display_;
};

}  // namespace test
