#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "client/causes.h"
#include "client/host_process.h"
#include "contract/entries.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "quorva/client.h"

namespace quorva {

Registration::Registration(const std::string& home)
    : Registration(home, platform::processIdentifier()) {}

// The body may run out of memory: the object then says so, as for any error.
Registration::Registration(const std::string& home, int pid) : home_(home) {
    try {
        create(pid);
    } catch (const std::exception& e) {
        release();
        error_ = std::string("cannot register: ") + e.what();
    }
}

void Registration::create(int pid) {
    // 0 and negative names would keep the host up for a whole process group.
    if (pid <= 0) {
        error_ = "cannot register " + std::to_string(pid) + ": not a process id";
        return;
    }
    const std::string clients = platform::joinPath(runtimeFolder(home_), contract::kClients);
    const std::string cannot = "cannot register in " + detail::quoted(clients) + ": ";
    if (auto made = platform::createDirectory(clients, 0700); !made) {
        error_ = cannot + detail::describe(made.error());
        return;
    }
    // Under its final name at once: the host removes any entry named otherwise.
    const std::string path = platform::joinPath(clients, std::to_string(pid));
    const auto made = platform::createFile(path, 0600);
    if (!made && made.error().code != EEXIST) {
        error_ = cannot + detail::describe(made.error());
        return;
    }
    owned_ = made.ok();
    path_ = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        const int error = errno;
        error_ = cannot + detail::quoted(path) + ": " + std::strerror(error);
        release();  // what this object made goes with it
        return;
    }
    createdNs_ = detail::modifiedNs(st);
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
bool Registration::seenByHost() const try {
    if (!ok()) return false;
    const Status s = readStatus(home_);
    return s.running && s.writtenNs > createdNs_;
} catch (const std::exception&) {
    return false;
}

Outcome requestWindow(const std::string& home) try {
    const std::string runtime = runtimeFolder(home);
    const std::string trigger = platform::joinPath(runtime, contract::kWindowRequest);
    // One already there is the same request, not yet taken.
    const auto made = platform::createFile(trigger, 0600);
    if (made || made.error().code == EEXIST) return Outcome::success();
    if (made.error().code == ENOENT)
        return Outcome::failure("no host has run in " + detail::quoted(home) + " yet");
    return Outcome::failure("cannot ask for the window: " + detail::describe(made.error()));
} catch (const std::exception& e) {
    return Outcome::failure(std::string("cannot ask for the window: ") + e.what());
}

}  // namespace quorva
