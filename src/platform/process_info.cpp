#include "platform/process_info.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

extern char** environ;

namespace platform {
namespace {
std::vector<std::string> recordedArguments;
}

void recordArguments(int argc, char** argv) {
    recordedArguments.assign(argv, argv + argc);
}

const std::vector<std::string>& arguments() {
    return recordedArguments;
}

Environment environment() {
    Environment env;
    std::unordered_set<std::string> seen;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq) continue;
        std::string name(*e, static_cast<std::size_t>(eq - *e));
        if (!seen.insert(name).second) continue;
        env.emplace_back(std::move(name), std::string(eq + 1));
    }
    return env;
}

int processIdentifier() {
    return static_cast<int>(::getpid());
}

// No fallback to $PWD: a variable must not decide where the host's files go.
std::optional<std::string> currentDirectory() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf)) return std::string(buf);
    return std::nullopt;
}

std::optional<std::string> userHomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return std::string(pw->pw_dir);
    return std::nullopt;
}

bool canSignal(int pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

}  // namespace platform
