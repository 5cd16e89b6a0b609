#include "platform/x11_probe.h"

#include <poll.h>
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

using Clock = std::chrono::steady_clock;
// Long enough for a loaded desktop, short enough that a stopped server holds
// up no tick by much.
constexpr auto kDeadline = std::chrono::milliseconds(300);

struct Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    bool xtest = false;
    std::optional<unsigned> pendingImage;  // a read still waiting for its answer
};

// The handshake happens on a thread of its own: a stopped server accepts the
// socket but never answers, and xcb_connect has no deadline of its own.
struct Handshake {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false, abandoned = false;
    Connection result;
};

void shake(const std::shared_ptr<Handshake>& h) {
    Connection out;
    out.c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(out.c) == 0) {
        out.root = xcb_setup_roots_iterator(xcb_get_setup(out.c)).data->root;
        auto cookie = xcb_query_extension(out.c, 5, "XTEST");
        if (auto* reply = xcb_query_extension_reply(out.c, cookie, nullptr)) {
            out.xtest = reply->present != 0;
            std::free(reply);
        }
    }
    std::lock_guard lock(h->mutex);
    if (h->abandoned || xcb_connection_has_error(out.c) != 0) {
        xcb_disconnect(out.c);
        out.c = nullptr;
    }
    h->result = out;
    h->finished = true;
    h->done.notify_all();
}

Connection connect() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return {};
    auto h = std::make_shared<Handshake>();
    try {
        std::thread([h] { shake(h); }).detach();
    } catch (const std::system_error&) {
        return {};
    }
    std::unique_lock lock(h->mutex);
    if (!h->done.wait_for(lock, kDeadline, [&] { return h->finished; })) {
        h->abandoned = true;
        return {};
    }
    return h->result;
}

Connection& connection() {
    static Connection c = connect();
    return c;
}

// Waits for the server to answer request `seq` (with a reply or an error)
// until `deadline`. The reply, if any, is handed over; events nobody asked
// for are dropped on the way. False when it has not answered in time.
bool awaitAnswer(xcb_connection_t* c, unsigned seq, Clock::time_point deadline, void** reply) {
    for (;;) {
        xcb_generic_error_t* error = nullptr;
        const bool answered = xcb_poll_for_reply(c, seq, reply, &error) != 0;
        while (xcb_generic_event_t* e = xcb_poll_for_queued_event(c)) std::free(e);
        std::free(error);
        if (answered || xcb_connection_has_error(c)) return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
}

}  // namespace

bool connected() {
    return connection().c != nullptr;
}

bool offersXTest() {
    return connected() && connection().xtest;
}

bool canReadRootWindow() {
    Connection& x = connection();
    if (!x.c || xcb_connection_has_error(x.c)) return false;
    void* reply = nullptr;
    if (x.pendingImage) {  // answered since? Only then is it asked again.
        if (!awaitAnswer(x.c, *x.pendingImage, Clock::now(), &reply)) return false;
        std::free(reply);
        reply = nullptr;
        x.pendingImage.reset();
    }
    const unsigned seq =
        xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 0, 0, 1, 1, ~0u).sequence;
    xcb_flush(x.c);
    if (!awaitAnswer(x.c, seq, Clock::now() + kDeadline, &reply)) {
        x.pendingImage = seq;
        return false;
    }
    const bool readable = reply != nullptr;
    std::free(reply);
    return readable;
}

}  // namespace platform::x11
