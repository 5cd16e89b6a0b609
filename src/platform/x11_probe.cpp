#include "platform/x11_probe.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace platform::x11 {
namespace {

using namespace std::chrono_literals;
// How long a window wanted at start-up waits for the first attempt: long
// enough for a loaded desktop, short enough that a stopped server holds it up
// by little.
constexpr auto kFirstAttemptDeadline = 300ms;
// Between failed attempts: a server that starts is seen within half a second
// of answering; one that never comes costs two attempts a second.
constexpr auto kFirstRetry = 100ms, kLongestRetry = 500ms;

struct Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    bool xtest = false;
    bool rootReadable = false;             // the last answer
    bool answered = true;                  // the last read was answered
    std::optional<unsigned> pendingImage;  // a read not yet answered
};

xcb_get_image_cookie_t askForRootPixel(const Connection& x) {
    return xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 0, 0, 1, 1, ~0u);
}

// The whole first exchange, waited for: a stopped server accepts the socket
// but answers only once continued, and xcb has no deadline of its own, hence
// the thread. Null when no server answered.
Connection handshake() {
    Connection x;
    x.c = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(x.c)) {
        x.root = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data->root;
        const auto xtest = xcb_query_extension(x.c, 5, "XTEST");
        const auto image = askForRootPixel(x);
        if (auto* reply = xcb_query_extension_reply(x.c, xtest, nullptr)) {
            x.xtest = reply->present != 0;
            std::free(reply);
        }
        if (auto* reply = xcb_get_image_reply(x.c, image, nullptr)) {
            x.rootReadable = true;
            std::free(reply);
        }
    }
    if (xcb_connection_has_error(x.c)) xcb_disconnect(x.c), x.c = nullptr;
    return x;
}

// Shared with the connecting thread, which ends once it has made a
// connection: an idle host whose display answers runs no thread but its own.
struct Connector {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;            // a display is named and a first attempt was set going
    bool wanted = true;              // a (new) connection is needed
    bool connecting = false;         // a thread is at work on it
    bool attempted = false;          // the first attempt has ended, either way
    std::optional<Connection> made;  // not yet taken up by the main thread
};

Connector& connector() {
    static auto* k = new Connector;
    return *k;
}

void keepConnecting(Connector& k) {
    for (auto retry = kFirstRetry;; std::this_thread::sleep_for(retry),
              retry = std::min<std::chrono::milliseconds>(retry * 2, kLongestRetry)) {
        Connection x = handshake();
        std::lock_guard lock(k.mutex);
        k.attempted = true;
        k.changed.notify_all();
        if (x.c) {
            k.made = x;
            k.wanted = false;
            k.connecting = false;
            return;
        }
    }
}

// The connect itself stays on a thread: xcb_connect reads the server's
// first answer with no deadline (a stopped server accepts the socket and
// answers once continued), and xcb has no way to make it in steps a poll loop
// could drive. Called with the lock held.
void connectWhenWanted(Connector& k) {
    if (!k.wanted || k.connecting) return;
    try {
        std::thread([&k] { keepConnecting(k); }).detach();
        k.connecting = true;
    } catch (const std::system_error&) {
        // No thread to spare: tried again at the next look.
    }
}

// The main thread's connection: one the thread has made takes the place of
// none, and a broken one gives way to the next.
Connection& current() {
    static Connection x;
    Connector& k = connector();
    std::lock_guard lock(k.mutex);
    if (x.c && xcb_connection_has_error(x.c)) {
        xcb_disconnect(x.c);
        x = {};
        k.wanted = true;
    }
    if (k.started) connectWhenWanted(k);
    if (!x.c && k.made) x = *std::exchange(k.made, std::nullopt);
    return x;
}

// Whether the server has answered request `seq` (with a reply or an error),
// without waiting; the reply, if any, is handed over. Events nobody asked
// for are dropped on the way.
bool answered(xcb_connection_t* c, unsigned seq, void** reply) {
    xcb_generic_error_t* error = nullptr;
    const bool done = xcb_poll_for_reply(c, seq, reply, &error) != 0;
    while (xcb_generic_event_t* e = xcb_poll_for_queued_event(c)) std::free(e);
    std::free(error);
    return done || xcb_connection_has_error(c);
}

// The first look waits for the first attempt to end, up to a deadline: the
// host's first status, and a window wanted at start-up, go by what the
// display answers rather than by a connection not made yet.
Connection& firstAnswered() {
    static std::once_flag waited;
    std::call_once(waited, [] {
        Connector& k = connector();
        std::unique_lock lock(k.mutex);
        if (k.started) k.changed.wait_for(lock, kFirstAttemptDeadline, [&] { return k.attempted; });
    });
    return current();
}

}  // namespace

void connectInBackground() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return;
    Connector& k = connector();
    std::lock_guard lock(k.mutex);
    if (k.started) return;
    connectWhenWanted(k);
    k.started = k.connecting;  // no thread to spare: then no display either
}

bool answering() {
    const Connection& x = firstAnswered();
    return x.c && x.answered;
}

bool offersXTest() {
    const Connection& x = firstAnswered();
    return x.c && x.xtest;
}

bool canReadRootWindow() {
    Connection& x = firstAnswered();
    if (!x.c) return false;
    if (x.pendingImage) {
        void* reply = nullptr;
        x.answered = answered(x.c, *x.pendingImage, &reply);
        if (!x.answered) return false;
        x.rootReadable = reply != nullptr;
        std::free(reply);
        x.pendingImage.reset();
    }
    x.pendingImage = askForRootPixel(x).sequence;
    xcb_flush(x.c);
    return x.rootReadable;
}

}  // namespace platform::x11
