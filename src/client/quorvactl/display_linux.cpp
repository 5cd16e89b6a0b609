#include <cstdlib>
#include <optional>

#include "client/host_process.h"
#include "platform/x11_check.h"
#include "quorvactl/doctor.h"

namespace quorvactl {
namespace {

using Mark = Check::Mark;
using platform::x11::ServerCheck;

// Long enough for a loaded desktop, short enough to wait for by hand.
constexpr std::chrono::milliseconds kDeadline{1000};

// The host's environment when it runs and can be read, else ours.
struct Environment {
    explicit Environment(int hostPid)
        : host(hostPid > 0 ? quorva::detail::environmentOf(hostPid) : std::nullopt) {}
    std::optional<std::vector<std::string>> host;

    std::optional<std::string> get(const std::string& name) const {
        if (!host) {
            const char* value = std::getenv(name.c_str());
            return value ? std::optional<std::string>(value) : std::nullopt;
        }
        for (const auto& entry : *host)
            if (entry.starts_with(name + "=")) return entry.substr(name.size() + 1);
        return std::nullopt;
    }
    std::string whose() const { return host ? " (the host's)" : ""; }
};

// The host's own rule: under Wayland, XWayland reaches no native window.
std::optional<std::string> waylandSession(const Environment& env) {
    if (const auto w = env.get("WAYLAND_DISPLAY"); w && !w->empty()) return "WAYLAND_DISPLAY=" + *w;
    if (env.get("XDG_SESSION_TYPE") == "wayland") return std::string("XDG_SESSION_TYPE=wayland");
    return std::nullopt;
}

// Probed with the host's authority, as the host would connect.
ServerCheck lookAt(const Environment& env, const std::string& display) {
    if (env.host) {
        if (const auto auth = env.get("XAUTHORITY"))
            ::setenv("XAUTHORITY", auth->c_str(), 1);
        else
            ::unsetenv("XAUTHORITY");
    }
    return platform::x11::checkServer(display, kDeadline);
}

std::vector<Check> serverChecks(const std::string& display, const ServerCheck& x) {
    const std::string skip = "not checked: the X server was not reached";
    if (x.reach == ServerCheck::Reach::Silent)
        return {{Mark::Problem, "X server",
                 display + " does not answer within 1 s: the X server is stopped or hung; "
                           "resume or restart it"},
                {Mark::Skipped, "XTEST", skip},
                {Mark::Skipped, "root window", skip}};
    if (x.reach == ServerCheck::Reach::Refused)
        return {{Mark::Problem, "X server",
                 "cannot connect to " + display + ": " + x.why + "; is the X server running?"},
                {Mark::Skipped, "XTEST", skip},
                {Mark::Skipped, "root window", skip}};
    return {
        {Mark::Ok, "X server", display + " answers"},
        x.xtest ? Check{Mark::Ok, "XTEST", "offered (Accessibility)"}
                : Check{Mark::Problem, "XTEST",
                        "not offered by the X server, and Accessibility needs it: enable the "
                        "XTEST extension in the server's configuration"},
        x.rootReadable
            ? Check{Mark::Ok, "root window", "readable (Screen Recording)"}
            : Check{Mark::Problem, "root window",
                    "cannot be read, and Screen Recording needs it: the X server's security "
                    "policy denies it to clients"},
    };
}

}  // namespace

std::vector<Check> displayChecks(int hostPid) {
    const Environment env(hostPid);
    std::vector<Check> out;
    const auto display = env.get("DISPLAY");
    if (!display || display->empty()) {
        out.push_back({Mark::Problem, "DISPLAY",
                       "not set" + env.whose() +
                           ": with no X display nothing is held; start the host from your "
                           "desktop session (quorvactl restart there)"});
        for (const char* what : {"X server", "XTEST", "root window"})
            out.push_back({Mark::Skipped, what, "not checked: no DISPLAY"});
    } else {
        out.push_back({Mark::Ok, "DISPLAY", *display + env.whose()});
        for (auto& check : serverChecks(*display, lookAt(env, *display))) out.push_back(check);
    }
    if (const auto wayland = waylandSession(env))
        out.push_back({Mark::Problem, "session",
                       "Wayland (" + *wayland + env.whose() +
                           "): nothing is held under Wayland; log in to an X11 session"});
    else
        out.push_back({Mark::Ok, "session", "not Wayland"});
    return out;
}

}  // namespace quorvactl
