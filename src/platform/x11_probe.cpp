#include "platform/x11_probe.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace platform::x11 {
namespace {

// Long enough for a loaded desktop, short enough that a stopped server holds
// up the start by little.
constexpr auto kDeadline = std::chrono::milliseconds(300);

struct Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    bool xtest = false;
    bool rootReadable = false;             // the last answer
    std::optional<unsigned> pendingImage;  // a read not yet answered
};

xcb_get_image_cookie_t askForRootPixel(const Connection& x) {
    return xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 0, 0, 1, 1, ~0u);
}

// The whole first exchange, waited for: a stopped server accepts the socket
// but never answers, and xcb has no deadline of its own, hence the thread.
Connection handshake() {
    Connection x;
    x.c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x.c)) return x;
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
    return x;
}

struct Background {
    std::mutex mutex;
    std::condition_variable done;
    bool started = false, finished = false, abandoned = false;
    Connection result;
};

Background& background() {
    static auto* b = new Background;  // shared with a thread that may outlive the wait
    return *b;
}

Connection awaitConnection() {
    connectInBackground();  // if nobody started it earlier
    Background& b = background();
    std::unique_lock lock(b.mutex);
    if (!b.started) return {};
    if (!b.done.wait_for(lock, kDeadline, [&] { return b.finished; })) {
        b.abandoned = true;  // the thread closes it if it ever gets through
        return {};
    }
    if (xcb_connection_has_error(b.result.c)) {
        xcb_disconnect(b.result.c);
        return {};
    }
    return b.result;
}

Connection& connection() {
    static Connection x = awaitConnection();
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

}  // namespace

void connectInBackground() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return;
    Background& b = background();
    std::lock_guard lock(b.mutex);
    if (b.started) return;
    try {
        std::thread([&b] {
            Connection x = handshake();
            std::lock_guard lock(b.mutex);
            if (b.abandoned) {
                xcb_disconnect(x.c);
                return;
            }
            b.result = x;
            b.finished = true;
            b.done.notify_all();
        }).detach();
        b.started = true;
    } catch (const std::system_error&) {
        // No thread to spare: then no display either.
    }
}

bool connected() {
    return connection().c != nullptr;
}

bool offersXTest() {
    return connected() && connection().xtest;
}

bool canReadRootWindow() {
    Connection& x = connection();
    if (!x.c || xcb_connection_has_error(x.c)) return false;
    if (x.pendingImage) {
        void* reply = nullptr;
        if (!answered(x.c, *x.pendingImage, &reply)) return false;
        x.rootReadable = reply != nullptr;
        std::free(reply);
        x.pendingImage.reset();
    }
    x.pendingImage = askForRootPixel(x).sequence;
    xcb_flush(x.c);
    return x.rootReadable;
}

}  // namespace platform::x11
