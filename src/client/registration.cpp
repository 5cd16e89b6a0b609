#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "client/causes.h"
#include "client/host_process.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "quorva/client.h"

namespace quorva {

Registration::Registration(const std::string& home)
    : Registration(home, platform::processIdentifier()) {}

Registration::Registration(const std::string& home, int pid) : home_(home) {
    // 0 and negative names would keep the host up for a whole process group.
    if (pid <= 0) {
        error_ = "cannot register " + std::to_string(pid) + ": not a process id";
        return;
    }
    const std::string clients = platform::joinPath(runtimeFolder(home), "clients");
    if (!platform::createDirectory(clients, 0700)) {
        const std::string problem = detail::folderProblem(clients);
        error_ = "cannot register in " + clients + ": " +
                 (problem.empty() ? std::strerror(errno) : problem);
        return;
    }
    // Under its final name at once: the host removes any entry named otherwise.
    const std::string path = platform::joinPath(clients, std::to_string(pid));
    owned_ = platform::createFile(path, 0600);
    struct stat st {};
    if ((!owned_ && errno != EEXIST) || ::lstat(path.c_str(), &st) != 0) {
        error_ = "cannot register in " + clients + ": " + std::strerror(errno);
        return;
    }
    createdNs_ = detail::modifiedNs(st);
    path_ = path;
}

Registration::Registration(Registration&& other) noexcept
    : home_(std::move(other.home_)),
      path_(std::exchange(other.path_, {})),
      error_(std::move(other.error_)),
      createdNs_(other.createdNs_),
      owned_(std::exchange(other.owned_, false)) {}

Registration& Registration::operator=(Registration&& other) noexcept {
    if (this != &other) {
        release();
        home_ = std::move(other.home_);
        path_ = std::exchange(other.path_, {});
        error_ = std::move(other.error_);
        createdNs_ = other.createdNs_;
        owned_ = std::exchange(other.owned_, false);
    }
    return *this;
}

Registration::~Registration() {
    release();
}

void Registration::release() {
    if (owned_) platform::removeItem(path_);
    owned_ = false;
    path_.clear();
}

// The host writes its status before it looks at the clients folder, so a
// status written after the entry was made comes before a look that sees it.
bool Registration::seenByHost() const {
    if (!ok()) return false;
    const Status s = readStatus(home_);
    return s.running && s.writtenNs > createdNs_;
}

Outcome requestWindow(const std::string& home) {
    const std::string runtime = runtimeFolder(home);
    const std::string trigger = platform::joinPath(runtime, "show-permissions");
    // One already there is the same request, not yet taken.
    if (platform::createFile(trigger, 0600) || errno == EEXIST) return Outcome::success();
    if (errno == ENOENT) return Outcome::failure("no host has run in " + home + " yet");
    return Outcome::failure("cannot ask for the window: " + trigger + ": " + std::strerror(errno));
}

}  // namespace quorva
