// Stand-in for the real desktop-control driver, which is a separate product.
// It accepts the host's command line, serves a Unix stream socket at the
// given path (a "ping" line is answered with "pong"), says once on standard
// output that it is serving, and ends on SIGTERM.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;
void onStop(int) {
    stopRequested = 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: vov-driver serve --embedded --socket PATH --permission-mode standard\n");
    return 2;
}

std::string socketPathFrom(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "serve") != 0) return {};
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--socket") == 0) return argv[i + 1];
    return {};
}

int listenAt(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "vov-driver (stand-in): socket path too long: %s\n", path.c_str());
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // A socket left by a driver that was killed would block the bind.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 16) != 0) {
        std::fprintf(stderr, "vov-driver (stand-in): cannot serve %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return -1;
    }
    return fd;
}

// Answers each complete "ping" line; drops the connection on EOF or error.
bool serveClient(int fd, std::string& pending) {
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const char* reply = line == "ping" ? "pong\n" : "error: unknown request\n";
        if (::write(fd, reply, std::strlen(reply)) < 0) return false;
    }
    return pending.size() < 4096;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = socketPathFrom(argc, argv);
    if (path.empty()) return usage();

    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const int listener = listenAt(path);
    if (listener < 0) return 1;
    std::printf("vov-driver (stand-in) %d: serving %s\n", static_cast<int>(::getpid()),
                path.c_str());
    std::fflush(stdout);

    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    std::vector<std::string> pending{""};
    while (!stopRequested) {
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR: look at the flag
        for (std::size_t i = fds.size(); i-- > 1;) {
            if (!fds[i].revents) continue;
            if (!serveClient(fds[i].fd, pending[i])) {
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                pending.erase(pending.begin() + static_cast<long>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                fds.push_back({client, POLLIN, 0});
                pending.emplace_back();
            }
        }
    }
    std::printf("vov-driver (stand-in) %d: stopping\n", static_cast<int>(::getpid()));
    return 0;
}
