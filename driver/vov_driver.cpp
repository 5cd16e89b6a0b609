// Stand-in for the real desktop-control driver, which is a separate product.
// It accepts the host's command line, serves a Unix stream socket at the
// given path (a "ping" line is answered with "pong"), says once on standard
// output that it is serving, and ends on SIGTERM.
#include <fcntl.h>
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

// SIGTERM wakes the poll loop through a pipe, so a signal that lands just
// before poll() is not missed.
int stopPipe[2] = {-1, -1};
void onStop(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

void closeOnExec(int fd) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
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
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0) closeOnExec(fd);
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

    if (::pipe(stopPipe) != 0) return 1;
    for (int fd : stopPipe) closeOnExec(fd);
    ::fcntl(stopPipe[1], F_SETFL, O_NONBLOCK);
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

    // fds[0]: the stop pipe, fds[1]: the listener, then one per client.
    std::vector<pollfd> fds{{stopPipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
    std::vector<std::string> pending{"", ""};
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
        if (fds[0].revents) break;
        for (std::size_t i = fds.size(); i-- > 2;) {
            if (!fds[i].revents) continue;
            if (!serveClient(fds[i].fd, pending[i])) {
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                pending.erase(pending.begin() + static_cast<long>(i));
            }
        }
        if (fds[1].revents & POLLIN) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client >= 0) {
                closeOnExec(client);
                fds.push_back({client, POLLIN, 0});
                pending.emplace_back();
            }
        }
    }
    std::printf("vov-driver (stand-in) %d: stopping\n", static_cast<int>(::getpid()));
    return 0;
}
