#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "client/host_process.h"
#include "platform/error.h"

// Turning a failure into one line that names its cause.
namespace quorva::detail {

// `text` as a shell would need it to take it as one word: unchanged when
// nothing in it is special, else in single quotes, and control characters as
// $'\n' or $'\xHH', so that a message stays one line and a command in it can
// be pasted as it stands.
std::string quoted(std::string_view text);

// Why no host can serve in `home` at all (not an absolute path, a socket
// path too long for an address); empty when one can.
std::string homeProblem(const std::string& home);

// Who holds the lock on `runtime`, not being its host: "pid 4711 (flock),
// not a QuorvaDesktop host, holds the lock on <runtime>".
std::string notTheHost(const Holder& holder, const std::string& runtime);

// `error` in words for people, naming the path it met: "'/a/file' is not a
// folder", "'/a/b' is a link to nothing", "cannot create '/a/b': Permission
// denied".
std::string describe(const platform::Error& error);

// Why a host that was started for `home` with the binary `host` ended with
// the wait status `status` before it took the home. The host says nothing of
// its own; its first steps, taken again here as it takes them, tell where it
// stopped.
std::string whyHostFailed(const std::string& home, const std::string& host, int status);

// "ended with exit status 1", "was ended by signal 9 (Killed)".
std::string howItEnded(int status);

// The last line `log` got after its first `from` bytes, made printable and
// short, quoted; empty when it got none.
std::string lastLogLine(const std::string& log, off_t from);

// Seconds for a message: "10 s", "0.25 s".
std::string seconds(double s);

}  // namespace quorva::detail
