#include "platform/x11_check.h"

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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
