#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace test {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The built app folder (bin/ and Resources/).
std::string builtAppFolder();

// A copy of the built app folder inside `parent`, so a test can replace
// vov-driver with a script or take resources away. Returns its path.
std::string copyAppFolder(const std::string& parent);

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string readFile(const std::string& path);
mode_t modeOf(const std::string& path);  // permission bits only
bool pathExists(const std::string& path);

// Polls `condition` every few milliseconds until it holds or `timeout` passes.
template <typename F>
bool waitFor(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        struct timespec ts {
            0, 5'000'000
        };
        nanosleep(&ts, nullptr);
    }
    return true;
}

// A started program with its stdout/stderr captured to files.
struct Process {
    pid_t pid = -1;
    std::string outPath, errPath;
    bool running() const;  // not yet reaped
    // Waits up to `timeout` for the exit; returns the raw wait status or -1.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void kill(int sig) const;
    ~Process();  // SIGKILLs and reaps a process still running
};

// Starts `argv` with `env` (complete), capturing its output under `outDir`.
Process spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& outDir);

// The current environment as NAME=VALUE strings, less the names in `drop`,
// plus `add`.
std::vector<std::string> environmentWith(const std::vector<std::string>& add,
                                         const std::vector<std::string>& drop = {});

// An Xvfb server on a free display, stopped at the end.
class Xvfb {
  public:
    explicit Xvfb(int width = 1024, int height = 768);
    ~Xvfb();
    const std::string& display() const { return display_; }  // ":N"
    bool ok() const { return !display_.empty(); }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace test
