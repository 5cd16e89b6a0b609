#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using Environment = std::vector<std::pair<std::string, std::string>>;

// The argument list the process was started with, element 0 included.
// Recorded once by the entry, before the toolkit sees argv.
void recordArguments(int argc, char** argv);
const std::vector<std::string>& arguments();

// The current environment, in the order the process holds it; a name that
// occurs twice keeps its first value, as getenv does.
Environment environment();

int processIdentifier();
// None when the working folder has been removed (or is too deep to name).
std::optional<std::string> currentDirectory();
// $HOME when it names an absolute folder, else the password database entry;
// none when neither gives one.
std::optional<std::string> userHomeDirectory();

}  // namespace platform

namespace platform {
// kill(pid, 0) == 0: the process exists and this host may signal it. Like
// kill, 0 names the host's own process group and negatives name groups.
bool canSignal(int pid);
}  // namespace platform
