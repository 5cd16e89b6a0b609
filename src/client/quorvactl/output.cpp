#include "quorvactl/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace quorvactl {
namespace {

int firstError = 0;

bool control(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

}  // namespace

void guardStandardStreams() {
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (null >= 0 && null != fd) ::dup2(null, fd), ::close(null);
    }
}

bool out(std::string_view text) {
    while (!firstError && !text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) firstError = n < 0 ? errno : EIO;
        if (n > 0) text.remove_prefix(static_cast<std::size_t>(n));
    }
    return !firstError;
}

int writeError() {
    return firstError;
}

void complain(const std::string& who, const std::string& cause) {
    std::string line = who + ": ";
    for (const char c : cause) {
        if (!control(c)) {
            line += c;
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
        line += escape;
    }
    line += '\n';
    // Nothing more can be done about a standard error that cannot be written.
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}

std::string printable(std::string line) {
    for (char& c : line)
        if (control(c)) c = '?';
    return line.size() > 200 ? line.substr(0, 197) + "..." : line;
}

std::string since(std::int64_t epoch) {
    const std::time_t t = static_cast<std::time_t>(epoch);
    std::tm local{};
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", ::localtime_r(&t, &local));
    const long ago = static_cast<long>(std::time(nullptr) - t);
    const std::string span = ago < 120    ? std::to_string(ago) + " s"
                             : ago < 7200 ? std::to_string(ago / 60) + " min"
                                          : std::to_string(ago / 3600) + " h";
    return std::string(when) + " (" + span + " ago)";
}

}  // namespace quorvactl
