#include "quorvactl/logs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "client/causes.h"
#include "contract/entries.h"
#include "platform/files.h"
#include "quorva/client.h"
#include "quorvactl/output.h"

namespace quorvactl {
namespace {

// Never blocks on what stands at the path, and reads only regular files.
// `missing`: the log (or its folder) is not there yet, which a follower
// waits for; a log that cannot be reached (a home of another user) is not.
platform::FileHandle openLog(const std::string& path, struct stat& st, std::string& error,
                             bool* missing = nullptr) {
    platform::FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (missing) *missing = !file.valid() && errno == ENOENT;
    if (!file.valid()) {
        error = errno == ENOENT
                    ? "there is no log yet at " + quorva::detail::quoted(path)
                    : "cannot read " + quorva::detail::quoted(path) + ": " + std::strerror(errno);
    } else if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = quorva::detail::quoted(path) + " is not a regular file";
        return {};
    }
    return file;
}

// Where the last `lines` lines begin, read backwards from the end (the log
// is appended for ever and may be huge), not before `floor`.
off_t tailStart(int fd, off_t size, long lines, off_t floor = 0) {
    if (lines == kAllLines) return floor;
    char buf[65536];
    long starts = 0;
    for (off_t end = size; end > floor && lines > 0;) {
        const off_t from = std::max<off_t>(floor, end - static_cast<off_t>(sizeof buf));
        const ssize_t n = ::pread(fd, buf, static_cast<std::size_t>(end - from), from);
        if (n <= 0) return end;
        for (ssize_t i = n - 1; i >= 0; --i)  // the file's last line end starts no line
            if (buf[i] == '\n' && from + i + 1 < size && ++starts == lines) return from + i + 1;
        end = from;
    }
    return lines > 0 ? floor : size;
}

// Copies [from, to) of `fd` to standard output; false when that cannot be written.
bool copy(int fd, off_t from, off_t to) {
    char buf[65536];
    while (from < to) {
        const ssize_t n = ::pread(fd, buf, std::min<std::size_t>(sizeof buf, to - from), from);
        if (n <= 0) return true;
        if (!out(std::string_view(buf, static_cast<std::size_t>(n)))) return false;
        from += n;
    }
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Like tail -F: a log replaced by a new one (a new host made it) is followed
// from its start, and one cut short is read again from its start.
int follow(const std::string& path, platform::FileHandle file, struct stat st, off_t offset) {
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
        struct stat now {};
        std::string error;
        if (::stat(path.c_str(), &now) == 0 && (!file.valid() || !sameFile(now, st))) {
            if (auto reopened = openLog(path, now, error); reopened.valid())
                file = std::move(reopened), st = now, offset = 0;
        }
        if (!file.valid() || ::fstat(file.fd(), &now) != 0) continue;
        if (now.st_size < offset) offset = 0;
        if (!copy(file.fd(), offset, now.st_size)) return 1;  // said by the caller
        offset = now.st_size;
    }
}

}  // namespace

std::vector<std::string> lastLines(const std::string& path, long lines, off_t window,
                                   std::string& error) {
    struct stat st {};
    const platform::FileHandle file = openLog(path, st, error);
    if (!file.valid()) return {};
    const off_t from =
        tailStart(file.fd(), st.st_size, lines, std::max<off_t>(0, st.st_size - window));
    std::string text(static_cast<std::size_t>(st.st_size - from), '\0');
    const ssize_t n = ::pread(file.fd(), text.data(), text.size(), from);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

int logs(const CommandLine& line, const std::string& home) {
    const std::string path = platform::joinPath(quorva::runtimeFolder(home), contract::kLog);
    struct stat st {};
    std::string error;
    bool missing = false;
    platform::FileHandle file = openLog(path, st, error, &missing);
    // Followed, a log that is not there yet is waited for.
    if (!file.valid() && !(line.follow && missing)) {
        complain("quorvactl logs", error);
        return 1;
    }
    const off_t end = file.valid() ? st.st_size : 0;
    if (file.valid() && !copy(file.fd(), tailStart(file.fd(), end, line.lines), end)) return 1;
    return line.follow ? follow(path, std::move(file), st, end) : 0;
}

}  // namespace quorvactl
