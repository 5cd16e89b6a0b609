#include "quorvactl/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorvactl {
namespace {

// Options with no short form get values past any character.
enum Option : int {
    kHelp = 'h',
    kLines = 'n',
    kFollow = 'f',
    kQuiet = 'q',
    kHome = 256,
    kJson,
    kWait,
    kTimeout,
    kEnglish,
    kPermissions,
    kVersion,
};

const option kOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"home", required_argument, nullptr, kHome},
    {"json", no_argument, nullptr, kJson},
    {"quiet", no_argument, nullptr, kQuiet},
    {"wait", required_argument, nullptr, kWait},
    {"timeout", required_argument, nullptr, kTimeout},
    {"english", no_argument, nullptr, kEnglish},
    {"permissions", no_argument, nullptr, kPermissions},
    {"lines", required_argument, nullptr, kLines},
    {"follow", no_argument, nullptr, kFollow},
    {"version", no_argument, nullptr, kVersion},
};

// What getopt_long is given: `allowed` of the options above (all when
// empty), with their short forms.
struct Table {
    std::vector<option> longs;
    std::string shorts;
};

Table tableOf(const std::vector<int>& allowed, bool stopAtFirst) {
    // A leading ":" tells a missing value from an unknown option; "+" stops
    // at the first argument that is not an option.
    Table t{{}, stopAtFirst ? "+:" : ":"};
    for (const option& o : kOptions) {
        if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), o.val) == allowed.end())
            continue;
        t.longs.push_back(o);
        if (o.val < 256)
            t.shorts += o.has_arg ? std::string(1, static_cast<char>(o.val)) + ":"
                                  : std::string(1, static_cast<char>(o.val));
    }
    t.longs.push_back({nullptr, 0, nullptr, 0});
    return t;
}

struct CommandForm {
    const char* name;
    std::vector<int> options;  // besides --help and --home, which all take
    const char* usage;
};

const std::vector<CommandForm>& commands() {
    static const std::vector<CommandForm> forms{
        {"status",
         {kQuiet, kJson, kWait, kTimeout},
         "usage: quorvactl status [--home DIR] [-q] [--json] [--wait ready|running] [--timeout S]\n"
         "Shows the host of the home as systemctl shows a service: first its state\n"
         "(ready, permission_required, stale or not running), then the host's pid and\n"
         "since when it runs, what its status file says and how old that is, whether\n"
         "the driver accepts connections, and the last lines of the log.\n"
         "Exit status: 0 ready, 2 permission required, 3 not running, 4 stale (the\n"
         "running host has not written its status for over 3 s, so it says nothing\n"
         "current: see quorvactl doctor), 1 error.\n"
         "  -q, --quiet  print nothing: the exit status alone answers\n"
         "  --json       the status file's members plus \"running\" and \"stale\", one line\n"
         "  --wait W     first wait (at most --timeout, default 10 s) until the host is\n"
         "               ready, or running at all; then report as usual\n"},
        {"is-running",
         {},
         "usage: quorvactl is-running [--home DIR]\n"
         "Prints nothing. Exit status: 0 when a host runs for the home (ready or not),\n"
         "3 when none does, 1 error.\n"},
        {"pid",
         {},
         "usage: quorvactl pid [--home DIR]\n"
         "Prints the pid of the running host of the home, checked to be that host.\n"
         "Exit status: 0, 3 when no host runs, 1 error.\n"},
        {"start",
         {kEnglish, kPermissions, kTimeout},
         "usage: quorvactl start [--home DIR] [--english] [--permissions] [--timeout S]\n"
         "Starts a host for the home unless one runs, detached from this terminal, and\n"
         "returns once that host runs and its driver accepts connections.\n"
         "Exit status: 0 then; 1 with the cause if that has not happened within\n"
         "--timeout (default 10 s), or if the host or its driver ended first (see\n"
         "quorvactl logs).\n"
         "  --english      the window's language, for a host this starts\n"
         "  --permissions  also show the permissions window (asks a running host)\n"},
        {"stop",
         {kTimeout},
         "usage: quorvactl stop [--home DIR] [--timeout S]\n"
         "Asks the running host of the home to quit (SIGTERM, only ever to the process\n"
         "shown to be its host) and waits until it and its driver have ended.\n"
         "Exit status: 0 when they have, and when no host ran (\"not running\" on\n"
         "standard error); 1 if they still run after --timeout (default 10 s), or if\n"
         "another program holds the home's lock (it is named, and left alone).\n"},
        {"restart",
         {kEnglish, kPermissions, kTimeout},
         "usage: quorvactl restart [--home DIR] [--english] [--permissions] [--timeout S]\n"
         "Stops the running host, if one runs, then starts one as start does; each\n"
         "step within --timeout (default 10 s). Exit status: 0, or 1 as stop and start.\n"},
        {"hold",
         {kEnglish, kPermissions, kTimeout},
         "usage: quorvactl hold [--home DIR] [--english] [--permissions] [--timeout S]\n"
         "                      [--] COMMAND [ARGS...]\n"
         "Starts a host if none runs, runs COMMAND registered as its client, removes the\n"
         "registration when COMMAND ends and exits with COMMAND's status. Signals sent\n"
         "to quorvactl reach COMMAND. Exit status: COMMAND's; 125 if quorvactl itself\n"
         "fails, 126 if COMMAND cannot be run, 127 if it is not found.\n"},
        {"permissions",
         {kEnglish, kTimeout},
         "usage: quorvactl permissions [--home DIR] [--english] [--timeout S]\n"
         "Asks the host for its permissions window, starting a host if none runs, and\n"
         "returns once the request is taken. Exit status: 0, 1 error.\n"},
        {"wait-driver",
         {kTimeout},
         "usage: quorvactl wait-driver [--home DIR] [--timeout S]\n"
         "Waits until the driver accepts a connection on <home>/desktop/driver.sock.\n"
         "Exit status: 0, 1 if it has not within --timeout (default 10 s).\n"},
        {"logs",
         {kLines, kFollow},
         "usage: quorvactl logs [--home DIR] [-n N|all] [-f]\n"
         "Prints the end of the driver's log, <home>/desktop/desktop.log.\n"
         "Exit status: 0; 1 if the log cannot be read (followed, a log that is not\n"
         "there yet is waited for) or the output cannot be written.\n"
         "  -n, --lines N  the last N lines (default 10), or all of them\n"
         "  -f, --follow   then print new lines as they come, until interrupted\n"},
        {"doctor",
         {},
         "usage: quorvactl doctor [--home DIR]\n"
         "Checks what the host needs, one line each with what to do about a problem:\n"
         "the home and runtime folder, the host, its status, the driver, the display\n"
         "(DISPLAY, the X server, XTEST, the root window, Wayland); then shows the end\n"
         "of the log. Exit status: 0 when all is well, 1 otherwise.\n"},
        {"home",
         {},
         "usage: quorvactl home [--home DIR]\n"
         "Prints the home folder as the host works it out (default ~/.quorva).\n"
         "Exit status: 0, 1 error.\n"},
    };
    return forms;
}

const char kToolUsage[] =
    "usage: quorvactl [--home DIR] COMMAND [OPTIONS]   (quorvactl COMMAND --help for each)\n"
    "Controls QuorvaDesktop through the files it serves in <home>/desktop.\n"
    "  status       the host's state, pid, status file, driver and log\n"
    "  is-running   only an exit status: whether a host runs\n"
    "  pid          print the running host's pid\n"
    "  start        start a host unless one runs\n"
    "  stop         ask the running host to quit, and wait for it and its driver\n"
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
    if (text == "all") return out = kAllLines, true;
    if (!isDecimal(text, false) || text.size() > 9) return false;
    out = std::atol(text.c_str());
    return true;
}

// A value for a message: quoted, and one line whatever it holds.
std::string shown(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[(c >> 4) & 0xf];
            out += hex[c & 0xf];
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string longName(int option) {
    for (const auto& o : kOptions)
        if (o.val == option) return std::string("--") + o.name;
    return {};
}

// Why getopt_long refused an option (it returned '?' or ':'), in one line.
// `element` is the argument it read last, which holds a long option.
std::string refusal(int result, const std::string& element, const Table& table,
                    const std::string& seeAlso) {
    const bool isLong = element.starts_with("--");
    const std::string shortName = std::string("-") + static_cast<char>(optopt);
    if (result == ':') return (isLong ? longName(optopt) : shortName) + " needs a value";
    // A known option that got a value ("--json=x"); else one it does not know.
    if (optopt >= 256 ||
        (optopt > 0 && table.shorts.find(static_cast<char>(optopt)) != std::string::npos))
        return longName(optopt) + " takes no value";
    if (optopt) return "unknown option " + shown(shortName) + seeAlso;
    const std::string typed = element.substr(0, element.find('='));
    int matches = 0;
    for (const option& o : table.longs)
        matches += o.name && typed.size() > 2 && std::string(o.name).starts_with(typed.substr(2));
    return (matches > 1 ? "ambiguous option " : "unknown option ") + shown(typed) + seeAlso;
}

struct Given {
    int option;
    std::string as;  // as typed: "-n" or "--lines"
    std::string value;
};

// One pass of getopt_long over `args` (element 0 stands for the program),
// from a fresh start, adding each option to `given`; `rest` gets the
// arguments that are not options. `stopAtFirst`: options end at the first
// argument that is not one (else they may come anywhere).
bool scan(std::vector<std::string> args, const Table& table, const std::string& seeAlso,
          std::vector<Given>& given, std::vector<std::string>& rest, std::string& error) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());
    optind = 0;  // glibc: start afresh, as for a new program
    opterr = 0;  // its own messages would not be one line of ours
    for (;;) {
        int index = -1;
        const int c =
            getopt_long(argc, argv.data(), table.shorts.c_str(), table.longs.data(), &index);
        if (c == -1) break;
        if (c == '?' || c == ':') {
            error =
                refusal(c, optind > 0 && optind <= argc ? argv[optind - 1] : "", table, seeAlso);
            return false;
        }
        given.push_back({c,
                         index >= 0
                             ? std::string("--") + table.longs[static_cast<std::size_t>(index)].name
                             : std::string("-") + static_cast<char>(c),
                         optarg ? optarg : ""});
    }
    rest.assign(argv.begin() + std::min(optind, argc), argv.begin() + argc);
    return true;
}

// Stores one option of `form`; false with `line.error` set when it is wrong.
bool take(CommandLine& line, const CommandForm& form, const Given& g, const std::string& seeAlso) {
    const auto& own = form.options;
    if (g.option != kHelp && g.option != kHome &&
        std::find(own.begin(), own.end(), g.option) == own.end())
        return line.error = "unknown option " + shown(g.as) + seeAlso, false;
    switch (g.option) {
        case kHelp:
            line.help = true;
            break;
        case kHome:
            line.home = g.value;
            break;
        case kWait:
            if (g.value != "ready" && g.value != "running")
                return line.error = "--wait takes ready or running, not " + shown(g.value), false;
            line.wait = g.value;
            break;
        case kTimeout:
            if (!parseSeconds(g.value, line.timeoutSeconds))
                return line.error =
                           "--timeout takes seconds (like 5 or 0.5), not " + shown(g.value),
                       false;
            break;
        case kLines:
            if (!parseCount(g.value, line.lines))
                return line.error = g.as + " takes a number of lines or all, not " + shown(g.value),
                       false;
            break;
        case kFollow:
            line.follow = true;
            break;
        case kQuiet:
            line.quiet = true;
            break;
        case kJson:
            line.json = true;
            break;
        case kEnglish:
            line.english = true;
            break;
        case kPermissions:
            line.permissions = true;
            break;
    }
    return true;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    std::vector<Given> given;
    std::vector<std::string> rest;
    // Options before the command: any of them, checked once the command is known.
    std::vector<std::string> all{"quorvactl"};
    all.insert(all.end(), args.begin(), args.end());
    if (!scan(all, tableOf({}, true), " (see quorvactl --help)", given, rest, line.error))
        return line;
    const auto has = [&](int option) {
        return std::any_of(given.begin(), given.end(),
                           [&](const Given& g) { return g.option == option; });
    };
    if (has(kVersion)) return line.version = true, line;
    if (rest.empty()) {
        if (has(kHelp)) return line.help = true, line;
        return line.error = "no command (see quorvactl --help)", line;
    }
    const CommandForm* form = findCommand(rest[0]);
    if (!form)
        return line.error = "unknown command " + shown(rest[0]) + " (see quorvactl --help)", line;
    line.command = rest[0];
    const std::string seeAlso = " (see quorvactl " + line.command + " --help)";
    const bool hold = line.command == "hold";
    std::vector<std::string> after{"quorvactl"};
    after.insert(after.end(), rest.begin() + 1, rest.end());
    std::vector<int> own = form->options;
    own.insert(own.end(), {kHelp, kHome});
    if (!scan(after, tableOf(own, hold), seeAlso, given, rest, line.error)) return line;
    for (const Given& g : given)
        if (!take(line, *form, g, seeAlso)) return line;
    if (line.help) return line;
    if (hold) {
        line.program = rest;
        if (line.program.empty())
            line.error = "hold needs a command to run (quorvactl hold -- COMMAND [ARGS...])";
    } else if (!rest.empty()) {
        line.error = "unexpected argument " + shown(rest[0]) + seeAlso;
    }
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
