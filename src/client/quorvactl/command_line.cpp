#include "quorvactl/command_line.h"

#include <algorithm>
#include <cstdlib>

namespace quorvactl {
namespace {

struct CommandForm {
    const char* name;
    std::vector<std::string> options;
    const char* usage;
};

const std::vector<CommandForm>& commands() {
    static const std::vector<CommandForm> forms{
        {"status",
         {"--home", "--json", "--wait", "--timeout"},
         "usage: quorvactl status [--home DIR] [--json] [--wait ready|running] [--timeout S]\n"
         "Prints ready, permission_required, stale or not running. Exit status: 0 ready,\n"
         "2 permission required, 3 not running, 4 stale (the running host has not\n"
         "written its status for over 3 s, so it says nothing current: see quorvactl\n"
         "doctor), 1 error.\n"
         "  --json     the status file's members plus \"running\" and \"stale\"\n"
         "  --wait W   first wait (at most --timeout, default 10 s) until the host is\n"
         "             ready, or running at all; then report as usual\n"},
        {"start",
         {"--home", "--english", "--permissions", "--timeout"},
         "usage: quorvactl start [--home DIR] [--english] [--permissions] [--timeout S]\n"
         "Starts a host for the home unless one runs, detached from this terminal, and\n"
         "returns once that host runs and its driver accepts connections. Exit status 1\n"
         "with the cause if that has not happened within --timeout (default 10 s), or\n"
         "if the host or its driver ended first (see quorvactl logs).\n"
         "  --english      the window's language, for a host this starts\n"
         "  --permissions  also show the permissions window (asks a running host)\n"},
        {"stop",
         {"--home", "--timeout"},
         "usage: quorvactl stop [--home DIR] [--timeout S]\n"
         "Asks the running host of the home to quit (SIGTERM to the process that holds\n"
         "the home's lock) and waits until it has let the home go. Exit status 0 when\n"
         "it has, 3 if no host runs, 1 if it still runs after --timeout (default 10 s).\n"},
        {"restart",
         {"--home", "--english", "--permissions", "--timeout"},
         "usage: quorvactl restart [--home DIR] [--english] [--permissions] [--timeout S]\n"
         "Stops the running host, if one runs, then starts one as start does; each\n"
         "step within --timeout (default 10 s).\n"},
        {"hold",
         {"--home", "--english", "--permissions", "--timeout"},
         "usage: quorvactl hold [--home DIR] [--english] [--permissions] [--timeout S]\n"
         "                      -- COMMAND [ARGS...]\n"
         "Starts a host if none runs, runs COMMAND registered as its client, removes the\n"
         "registration when COMMAND ends and exits with COMMAND's status. Signals sent\n"
         "to quorvactl reach COMMAND. Exit status 125 if quorvactl itself fails, 126 if\n"
         "COMMAND cannot be run, 127 if it is not found.\n"},
        {"permissions",
         {"--home", "--english", "--timeout"},
         "usage: quorvactl permissions [--home DIR] [--english] [--timeout S]\n"
         "Asks the host for its permissions window, starting a host if none runs, and\n"
         "returns once the request is taken.\n"},
        {"wait-driver",
         {"--home", "--timeout"},
         "usage: quorvactl wait-driver [--home DIR] [--timeout S]\n"
         "Waits until the driver accepts a connection on <home>/desktop/driver.sock\n"
         "(exit status 1 if it has not within --timeout, default 10 s).\n"},
        {"logs",
         {"--home", "-n", "--lines", "-f", "--follow"},
         "usage: quorvactl logs [--home DIR] [-n N] [-f]\n"
         "Prints the end of the driver's log, <home>/desktop/desktop.log.\n"
         "  -n, --lines N  the last N lines (default 10)\n"
         "  -f, --follow   then print new lines as they come, until interrupted\n"},
        {"doctor",
         {"--home"},
         "usage: quorvactl doctor [--home DIR]\n"
         "Checks what the host needs, one line each with what to do about a problem:\n"
         "the home and runtime folder, the host, its status, the driver, the display\n"
         "(DISPLAY, the X server, XTEST, the root window, Wayland); then shows the end\n"
         "of the log. Exit status 0 when all is well, 1 otherwise.\n"},
        {"home",
         {"--home"},
         "usage: quorvactl home [--home DIR]\n"
         "Prints the home folder as the host works it out (default ~/.quorva).\n"},
    };
    return forms;
}

const char kToolUsage[] =
    "usage: quorvactl COMMAND [OPTIONS]   (quorvactl COMMAND --help for each)\n"
    "Controls QuorvaDesktop through the files it serves in <home>/desktop.\n"
    "  status       ready, permission_required, stale or not running\n"
    "  start        start a host unless one runs\n"
    "  stop         ask the running host to quit\n"
    "  restart      stop, then start\n"
    "  hold         run a command as a client of the host\n"
    "  permissions  show the permissions window\n"
    "  wait-driver  wait until the driver accepts connections\n"
    "  logs         print (and follow) the driver's log\n"
    "  doctor       check what the host needs and say what to fix\n"
    "  home         print the home folder\n"
    "Every command takes --home DIR (default ~/.quorva). --version prints the version.\n";

const CommandForm* findCommand(const std::string& name) {
    for (const auto& form : commands())
        if (name == form.name) return &form;
    return nullptr;
}

// Plain decimal digits only: no sign, spaces, hex or exponent.
bool isDecimal(const std::string& text, bool fraction) {
    const auto digits = [&](std::size_t from, std::size_t to) {
        return from < to && std::all_of(text.begin() + static_cast<long>(from),
                                        text.begin() + static_cast<long>(to),
                                        [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::size_t dot = fraction ? text.find('.') : std::string::npos;
    return dot == std::string::npos ? digits(0, text.size())
                                    : digits(0, dot) && digits(dot + 1, text.size());
}

bool parseSeconds(const std::string& text, double& out) {
    if (!isDecimal(text, true)) return false;
    const double v = std::strtod(text.c_str(), nullptr);
    if (v > 1e6) return false;
    out = v;
    return true;
}

bool parseCount(const std::string& text, long& out) {
    if (!isDecimal(text, false) || text.size() > 9) return false;
    out = std::atol(text.c_str());
    return true;
}

// Stores one option's value; false with `line.error` set when it is wrong.
bool take(CommandLine& line, const std::string& name, const std::string& value) {
    if (name == "--home") {
        line.home = value;
    } else if (name == "--wait") {
        if (value != "ready" && value != "running")
            return line.error = "--wait takes ready or running, not '" + value + "'", false;
        line.wait = value;
    } else if (name == "--timeout") {
        if (!parseSeconds(value, line.timeoutSeconds))
            return line.error = "--timeout takes seconds (like 5 or 0.5), not '" + value + "'",
                   false;
    } else if (name == "-n" || name == "--lines") {
        if (!parseCount(value, line.lines))
            return line.error = name + " takes a number of lines, not '" + value + "'", false;
    }
    return true;
}

bool* flag(CommandLine& line, const std::string& name) {
    if (name == "--json") return &line.json;
    if (name == "--english") return &line.english;
    if (name == "--permissions") return &line.permissions;
    if (name == "-f" || name == "--follow") return &line.follow;
    return nullptr;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    if (args.empty()) return line.error = "no command (see quorvactl --help)", line;
    if (args[0] == "--help" || args[0] == "-h") return line.help = true, line;
    if (args[0] == "--version") return line.version = true, line;
    const CommandForm* form = findCommand(args[0]);
    if (!form) return line.error = "unknown command '" + args[0] + "' (see quorvactl --help)", line;
    line.command = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") return line.help = true, line;
        if (line.command == "hold" && (arg == "--" || !arg.starts_with("-"))) {
            line.program.assign(args.begin() + static_cast<long>(i + (arg == "--")), args.end());
            break;
        }
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto& allowed = form->options;
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            return line.error =
                       "unknown option '" + arg + "' (see quorvactl " + line.command + " --help)",
                   line;
        if (bool* set = flag(line, name)) {
            if (eq != std::string::npos) return line.error = name + " takes no value", line;
            *set = true;
            continue;
        }
        if (eq == std::string::npos && i + 1 >= args.size())
            return line.error = name + " needs a value", line;
        if (!take(line, name, eq == std::string::npos ? args[++i] : arg.substr(eq + 1)))
            return line;
    }
    if (line.command == "hold" && line.program.empty())
        line.error = "hold needs a command to run (quorvactl hold -- COMMAND [ARGS...])";
    return line;
}

std::chrono::milliseconds timeoutOf(const CommandLine& line) {
    return std::chrono::milliseconds(static_cast<long>(line.timeoutSeconds * 1000 + 0.5));
}

std::string usage(const std::string& command) {
    const CommandForm* form = findCommand(command);
    return form ? form->usage : kToolUsage;
}

}  // namespace quorvactl
