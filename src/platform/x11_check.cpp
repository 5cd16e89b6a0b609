#include "platform/x11_check.h"

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform::x11 {
namespace {

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
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (const int error = xcb_connection_has_error(c)) {
        out.why = connectionError(error);
        xcb_disconnect(c);
        return out;
    }
    out.reach = ServerCheck::Reach::Answered;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const auto xtest = xcb_query_extension(c, 5, "XTEST");
    const auto image = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 1, 1, ~0u);
    if (auto* reply = xcb_query_extension_reply(c, xtest, nullptr)) {
        out.xtest = reply->present != 0;
        std::free(reply);
    }
    xcb_generic_error_t* error = nullptr;
    if (auto* reply = xcb_get_image_reply(c, image, &error)) {
        out.rootReadable = true;
        std::free(reply);
    }
    std::free(error);
    xcb_disconnect(c);
    return out;
}

struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    ServerCheck result;
};

}  // namespace

ServerCheck checkServer(const std::string& display, std::chrono::milliseconds deadline) {
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, display] {
            ServerCheck result = look(display);
            std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            shared->finished = true;
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return {ServerCheck::Reach::Refused, "no thread to spare for the look", false, false};
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, deadline, [&] { return shared->finished; }))
        return {ServerCheck::Reach::Silent, "", false, false};
    return shared->result;
}

}  // namespace platform::x11
