#include "platform/x11_check.h"

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "platform/files.h"

namespace platform::x11 {
namespace {

// libxcb is opened only when a look is asked for, so that programs carrying
// this (quorvactl, whose status runs in scripts' loops) do not load it and
// its dependencies on every start.
struct Xcb {
    decltype(&xcb_connect) connect;
    decltype(&xcb_connection_has_error) hasError;
    decltype(&xcb_disconnect) disconnect;
    decltype(&xcb_get_setup) getSetup;
    decltype(&xcb_setup_roots_iterator) roots;
    decltype(&xcb_query_extension) queryExtension;
    decltype(&xcb_query_extension_reply) queryExtensionReply;
    decltype(&xcb_get_image) getImage;
    decltype(&xcb_get_image_reply) getImageReply;
};

template <typename F>
bool find(void* library, const char* name, F& into) {
    into = reinterpret_cast<F>(::dlsym(library, name));
    return into != nullptr;
}

const Xcb* loadXcb() {
    static const Xcb* loaded = []() -> const Xcb* {
        void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        static Xcb x{};
        const bool all = lib && find(lib, "xcb_connect", x.connect) &&
                         find(lib, "xcb_connection_has_error", x.hasError) &&
                         find(lib, "xcb_disconnect", x.disconnect) &&
                         find(lib, "xcb_get_setup", x.getSetup) &&
                         find(lib, "xcb_setup_roots_iterator", x.roots) &&
                         find(lib, "xcb_query_extension", x.queryExtension) &&
                         find(lib, "xcb_query_extension_reply", x.queryExtensionReply) &&
                         find(lib, "xcb_get_image", x.getImage) &&
                         find(lib, "xcb_get_image_reply", x.getImageReply);
        return all ? &x : nullptr;
    }();
    return loaded;
}

std::string connectionError(int code) {
    switch (code) {
        case XCB_CONN_CLOSED_PARSE_ERR:
            return "DISPLAY names no display";
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return "the screen DISPLAY names does not exist";
        case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
            return "out of memory";
        default:  // the socket failed, or the server refused us (authorisation)
            return "no server there, or it refused the connection (check XAUTHORITY)";
    }
}

ServerCheck look(const std::string& display) {
    ServerCheck out;
    const Xcb* x = loadXcb();
    if (!x) return out.why = "libxcb.so.1 cannot be loaded", out;
    xcb_connection_t* c = x->connect(display.c_str(), nullptr);
    if (const int error = x->hasError(c)) {
        out.why = connectionError(error);
        x->disconnect(c);
        return out;
    }
    out.reach = ServerCheck::Reach::Answered;
    const xcb_window_t root = x->roots(x->getSetup(c)).data->root;
    const auto xtest = x->queryExtension(c, 5, "XTEST");
    const auto image = x->getImage(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 1, 1, ~0u);
    if (auto* reply = x->queryExtensionReply(c, xtest, nullptr)) {
        out.xtest = reply->present != 0;
        std::free(reply);
    }
    xcb_generic_error_t* error = nullptr;
    if (auto* reply = x->getImageReply(c, image, &error)) {
        out.rootReadable = true;
        std::free(reply);
    }
    std::free(error);
    x->disconnect(c);
    return out;
}

ServerCheck refused(const char* why) {
    return {ServerCheck::Reach::Refused, why, false, false};
}

// What the look found, as the child hands it over: reach, XTEST, root, why.
std::string encode(const ServerCheck& c) {
    return std::string{static_cast<char>(c.reach), c.xtest, c.rootReadable} + c.why;
}

ServerCheck decode(const std::string& bytes) {
    const auto reach = bytes.empty() ? 0xff : static_cast<unsigned char>(bytes[0]);
    if (bytes.size() < 3 || reach > static_cast<unsigned char>(ServerCheck::Reach::Silent))
        return refused("the look ended without an answer");
    return {static_cast<ServerCheck::Reach>(reach), bytes.substr(3), bytes[1] != 0, bytes[2] != 0};
}

[[noreturn]] void lookAndReport(const std::string& display, int report, pid_t caller) {
    // Never outlives the caller, even one killed before it could end this
    // (or before this could ask to be ended with it).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != caller) ::_exit(1);
    const std::string bytes = encode(look(display));
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(report, bytes.data() + done, bytes.size() - done);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
}

// What the child reported by its end or by `deadline`; none when nothing
// came (a report that came just before the deadline counts).
std::optional<std::string> readReport(int fd, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::string got;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = left.count() < 0 ? 0 : ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    return got.empty() ? std::nullopt : std::optional<std::string>(got);
}

// Through a pidfd, taken before anything could reap the child (a caller that
// ignores SIGCHLD has it reaped at its end): a pid alone could by then name
// a stranger.
void killAndReap(pid_t child, const FileHandle& pidfd, bool reaped) {
    if (pidfd.valid())
        ::syscall(SYS_pidfd_send_signal, pidfd.fd(), SIGKILL, nullptr, 0);
    else if (!reaped)
        ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

// The look runs in a child process, killed at the deadline: xcb has no
// deadline of its own, and a thread stuck in it could never be stopped.
ServerCheck checkServer(const std::string& display, std::chrono::milliseconds deadline) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return refused("no pipe for the look");
    FileHandle readEnd(fds[0]), writeEnd(fds[1]);
    const pid_t caller = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) return refused("no process to spare for the look");
    if (child == 0) lookAndReport(display, writeEnd.fd(), caller);
    const FileHandle pidfd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
    const bool reaped = !pidfd.valid() && errno == ESRCH;
    writeEnd = FileHandle();  // so that the child's end is the only one: its exit is the end
    const auto report = readReport(readEnd.fd(), deadline);
    killAndReap(child, pidfd, reaped);
    if (!report) return {ServerCheck::Reach::Silent, "", false, false};
    return decode(*report);
}

}  // namespace platform::x11
