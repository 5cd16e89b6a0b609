#pragma once

// Quorva::Client: how a client program finds, starts and uses QuorvaDesktop.
// Everything goes through the files the host serves in <home>/desktop, by the
// host's own rules. Nothing here links Qt, and nothing here ever takes the
// host's lock, so a host that is starting never gives up because of a client.
// Nothing here throws, aborts or leaves a thread behind: every failure is a
// cause in one line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a client may call. The installed library is built with everything else
// hidden, so that its internals (and the host code it shares) never clash
// with a client's own symbols.
#if defined(__GNUC__) || defined(__clang__)
#define QUORVA_CLIENT_API [[gnu::visibility("default")]]
#else
#define QUORVA_CLIENT_API
#endif

namespace quorva {

// Success, or one line naming the cause, with its kind for a program to act
// on (the line is for people, and its words may change).
class [[nodiscard]] QUORVA_CLIENT_API Outcome {
  public:
    enum class Kind {
        None,       // success
        Failed,     // any failure not named below
        Untrusted,  // a runtime folder or socket that another user owns or can write
    };
    static Outcome success() { return Outcome("", Kind::None); }
    static Outcome failure(std::string cause, Kind kind = Kind::Failed) {
        return Outcome(std::move(cause), kind);
    }
    bool ok() const { return cause_.empty(); }
    explicit operator bool() const { return ok(); }
    const std::string& cause() const { return cause_; }
    Kind kind() const { return ok() ? Kind::None : kind_; }

  private:
    Outcome(std::string cause, Kind kind) : cause_(std::move(cause)), kind_(kind) {}
    std::string cause_;
    Kind kind_;
};

// The host's home folder for `given` (a "--home" value: relative to the
// working folder, "~" not expanded), or ~/.quorva without one. Empty when a
// relative folder cannot be resolved because the working folder is gone.
QUORVA_CLIENT_API std::optional<std::string> homeFolder(
    const std::optional<std::string>& given = std::nullopt);

// <home>/desktop: registrations, status.json, driver.sock, desktop.log.
QUORVA_CLIENT_API std::string runtimeFolder(const std::string& home);

// The host rewrites status.json every second; a file older than this, while
// its host runs, no longer says what the host sees (it cannot write it).
inline constexpr double kStaleAfterSeconds = 3.0;

struct QUORVA_CLIENT_API Status {
    bool present = false;  // status.json was there, well formed and trusted
    bool running = false;  // ... and its host_pid is the live host of this home: the
                           // host's program, holding the home's lock
    bool stale = false;    // ... but the file is older than kStaleAfterSeconds
    bool accessibility = false;
    bool screenRecording = false;
    std::string status;  // "ready" or "permission_required"
    std::string owner;
    std::string bundleId;
    int hostPid = 0;
    std::int64_t writtenNs = 0;  // the file's modification time
    double ageSeconds = 0;       // how long ago that was
    std::string error;           // the file is there but cannot be believed: why

    bool ready() const { return running && !stale && status == "ready"; }
};

// The status of the host of `home`. A file left by a host that has ended, or
// whose host_pid now names another program or the host of another home,
// reads as not running. A runtime folder or file that another user owns or
// can write is not read at all: `error` says so, and how to fix it; so it
// does for a home this user cannot enter, and for a file that is not a host's
// status (any malformed text, numbers out of range included).
QUORVA_CLIENT_API Status readStatus(const std::string& home);

// The file's members plus "running" and "stale", compact; only
// {"running":false} when there is no file. Empty only when out of memory.
QUORVA_CLIENT_API std::string statusJson(const Status& status);

// Keeps the host of a home up while a process lives: an entry named after
// the pid in <home>/desktop/clients, removed again when the object goes.
// The folder is made (mode 0700, as the host makes it) when no host has run
// there yet, so a client may register before it starts the host.
class QUORVA_CLIENT_API Registration {
  public:
    Registration() = default;
    explicit Registration(const std::string& home);  // this process
    Registration(const std::string& home, int pid);
    Registration(Registration&& other) noexcept;
    Registration& operator=(Registration&& other) noexcept;
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration();

    bool ok() const { return !path_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // A live host has written its status since this entry was made, so its
    // next look at the clients folder sees the entry: from then on it cannot
    // end on idle while the pid lives. Until then a host that was already
    // quitting when the entry was made may still end.
    bool seenByHost() const;

    // Removes the entry now (only if this object made it).
    void release();

  private:
    void create(int pid);
    std::string home_, path_, error_;
    std::int64_t createdNs_ = 0;
    bool owned_ = false;
};

// Asks the running host for its permissions window: creates the trigger
// "show-permissions", which the host's next tick consumes.
QUORVA_CLIENT_API Outcome requestWindow(const std::string& home);

struct QUORVA_CLIENT_API StartOptions {
    std::string home;          // from homeFolder()
    bool english = false;      // the window's language, for a host this starts
    bool permissions = false;  // also show the permissions window
    std::chrono::milliseconds timeout{10000};
    std::string host;  // the host binary; empty: findHost()
};

// Starts a host for `options.home` unless one runs, detached from this
// process's session and standard streams, and returns once the host it
// started (or found) is the running host of the home and its driver accepts
// connections. A host or driver that ends meanwhile is reported with the
// host's exit status and the log to read; a host that failed is not started
// again. Two callers at the same moment end with one host: the host that
// loses the race exits and both wait for the winner. Another program holding
// the home's lock fails it at once, named. With `permissions`, returns once
// the window is shown or its request consumed. A host that is slow to start
// is never stopped. The host is not left this process's child: it leaves
// neither a zombie nor a thread to reap one.
QUORVA_CLIENT_API Outcome startHost(const StartOptions& options);

// Asks the running host of `home` to quit (SIGTERM, only to a process shown
// to be that host: it holds the home's lock, runs the host's program and the
// status it wrote names it; checked as it is sent) and waits until it and the
// processes it started (its driver) have ended. Success also when no host
// ran; `wasRunning` (if given) tells which. Another program holding the lock
// is named in the failure and left alone.
QUORVA_CLIENT_API Outcome stopHost(const std::string& home, std::chrono::milliseconds timeout,
                                   bool* wasRunning = nullptr);

// Waits until <home>/desktop/driver.sock accepts a connection. A socket or
// runtime folder the caller may not trust (as for readStatus) is refused.
QUORVA_CLIENT_API Outcome waitForDriver(const std::string& home, std::chrono::milliseconds timeout);

// Where to look for the host binary, in order: installed or side by side
// with the program at `programFolder` (its real folder), then each PATH entry.
QUORVA_CLIENT_API std::vector<std::string> hostCandidates(const std::string& programFolder,
                                                          const std::string& path);

// The first executable candidate for the calling program, or empty.
QUORVA_CLIENT_API std::optional<std::string> findHost();

}  // namespace quorva
