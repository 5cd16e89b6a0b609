// The idle rule on the built host, in real time: five hosts at once, each in a home of its own.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "support/test_support.h"

#include <X11/Xatom.h>  // last: Xlib's macros clash with the headers above
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the test sees of one home as it happens (inotify): each status write, the removal of a
// client entry, and the removal of the driver's socket, which is the host's shutdown.
struct Home {
    std::string path;
    test::Process process;  // the host, or quorvactl hold
    Clock::time_point started, left, ended;
    std::vector<Clock::time_point> writes;
    std::string at(const std::string& name) const { return path + "/desktop/" + name; }
    double endedAfter(Clock::time_point from) const {
        return std::chrono::duration<double>(ended - from).count();
    }
};

// Minimises the windows of `pid` as a window manager would (WM_STATE iconic); false: none yet.
bool minimise(Display* d, pid_t pid) {
    ::Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    const Atom owner = XInternAtom(d, "_NET_WM_PID", False),
               state = XInternAtom(d, "WM_STATE", False);
    const long iconic[2] = {IconicState, 0};
    bool found = false;
    for (unsigned i = 0; i < count; ++i) {
        Atom type;
        int format;
        unsigned long items, left;
        unsigned char* value = nullptr;
        if (XGetWindowProperty(d, children[i], owner, 0, 1, False, XA_CARDINAL, &type, &format,
                               &items, &left, &value) == Success &&
            items == 1 && *reinterpret_cast<long*>(value) == pid) {
            XChangeProperty(d, children[i], state, state, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(iconic), 2);
            found = true;
        }
        XFree(value);
    }
    XFree(children);
    XFlush(d);
    return found;
}

// A host ends at the first tick more than 60.0 s after its last attended one. One tick a second,
// the first at start: unattended from the start (no client and no window, or a window nobody can
// see), that is the tick 60 s after the first. A client that leaves (through quorvactl hold)
// midway between two ticks was last seen by the one before, and the host ends 60 or 61 ticks
// later, as the ticks' jitter falls. A window on screen keeps its host up; minimised, it does not.
TEST(Idle, SlowEachHostEndsAtTheFirstTickPastAMinuteUnattended) {
    test::TempDir tmp;
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    const std::string host = test::builtAppFolder() + "/bin/quorva-desktop";
    const auto env = test::environmentWith({}, {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"});
    const auto onX =
        test::environmentWith({"DISPLAY=" + x.display()}, {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE"});
    const std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> runs{
        {"none", {{host}, env}},
        {"offscreen", {{host, "--permissions"}, env}},
        {"onscreen", {{host, "--permissions"}, onX}},
        {"minimised", {{host, "--permissions"}, onX}},
        {"client",
         {{QUORVA_TEST_CTL, "hold", "--", "/bin/sh", "-c",
           "until [ -e " + tmp / "stop ]; do sleep 0.02; done"},
          env}}};
    const int events = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    std::map<int, std::pair<Home*, bool>> watches;  // and whether it is clients/
    std::map<std::string, Home> homes;
    for (auto [name, run] : runs) {
        Home& h = homes[name];
        h.path = tmp / name;
        ASSERT_TRUE(std::filesystem::create_directories(h.at("clients")));
        watches[::inotify_add_watch(events, h.at("").c_str(), IN_MOVED_TO | IN_DELETE)] = {&h, 0};
        watches[::inotify_add_watch(events, h.at("clients").c_str(), IN_DELETE)] = {&h, 1};
        run.first.insert(run.first.begin() + 1 + (name == "client"), {"--home", h.path});
        h.started = Clock::now();
        h.process = test::spawnProcess(run.first, run.second, tmp.path());
    }
    Home &none = homes["none"], &offscreen = homes["offscreen"], &onscreen = homes["onscreen"],
         &client = homes["client"], &minimised = homes["minimised"];
    Display* display = XOpenDisplay(x.display().c_str());
    ASSERT_NE(display, nullptr);
    Clock::time_point iconified{};
    const auto over = [](const Home& h) { return h.ended != Clock::time_point{}; };
    for (const auto end = Clock::now() + 70s; Clock::now() < end;) {
        pollfd ready{events, POLLIN, 0};
        ::poll(&ready, 1, 100);
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = ::read(events, buf, sizeof buf)) > 0;)
            for (char* at = buf; at < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(at);
                const std::string name = e->len ? e->name : "";
                const auto [h, clients] = watches[e->wd];
                if (clients) h->left = Clock::now();
                if (name == "status.json" && e->mask & IN_MOVED_TO)
                    h->writes.push_back(Clock::now());
                if (name == "driver.sock" && e->mask & IN_DELETE) h->ended = Clock::now();
                at += sizeof(inotify_event) + e->len;
            }
        // Midway between two ticks, once a few have seen the client.
        if (client.writes.size() >= 3 && Clock::now() > client.writes.back() + 400ms &&
            !test::pathExists(tmp / "stop"))
            test::writeFile(tmp / "stop", "");
        if (iconified == Clock::time_point{} && minimised.writes.size() >= 2 &&
            minimise(display, minimised.process.pid))
            iconified = Clock::now();
        if (over(none) && over(offscreen) && over(client) && over(minimised)) break;
    }
    ::close(events);
    XCloseDisplay(display);
    for (Home* h : {&none, &offscreen}) {
        SCOPED_TRACE(h->path);
        ASSERT_TRUE(over(*h) && !h->writes.empty());
        EXPECT_GT(h->endedAfter(h->started), 60.0);
        EXPECT_LT(h->endedAfter(h->writes.front()), 60.5);
        EXPECT_EQ(h->process.wait(3s), 0);
        EXPECT_EQ(test::readFile(h->process.outPath) + test::readFile(h->process.errPath), "");
        EXPECT_NE(test::readFile(h->at("desktop.log")).find(": stopping\n"), std::string::npos);
    }
    EXPECT_EQ(client.process.wait(), 0);  // quorvactl, which ended with its command
    Clock::time_point seen{};             // the write of the last tick that saw the client
    for (const auto write : client.writes)
        if (write < client.left) seen = write;
    ASSERT_TRUE(over(client) && seen != Clock::time_point{});
    // Moments read from inotify are late by the test's own scheduling: a few ms at worst.
    EXPECT_GT(client.endedAfter(seen), 59.95);
    EXPECT_LT(client.endedAfter(seen), 61.3);
    ASSERT_TRUE(over(minimised)) << "its minimised window kept the host up";
    EXPECT_GT(minimised.endedAfter(iconified), 59.0);
    EXPECT_EQ(minimised.process.wait(3s), 0);
    ASSERT_FALSE(onscreen.writes.empty());
    EXPECT_LT(Clock::now() - onscreen.writes.back(), 1500ms) << "the host on screen ended";
    onscreen.process.kill(SIGTERM);
    EXPECT_EQ(onscreen.process.wait(), 0);
    for (pid_t pid : test::processesMentioning(tmp.path())) ::kill(pid, SIGKILL);
}

}  // namespace
