#include "app/quorva_desktop.h"

#include "app/options.h"
#include "platform/emergency.h"
#include "platform/process_info.h"

QuorvaDesktop::QuorvaDesktop(platform::System& system, std::vector<std::string> arguments)
    : idleSince(system.now()), args(std::move(arguments)), system_(system) {}

// The host lives as long as its process; a shorter-lived one (in a test) must
// not leave the last-resort end a descriptor that is closed, or reused.
QuorvaDesktop::~QuorvaDesktop() {
    if (runtimeFolder_) platform::emergency::setRuntimeFolder(-1, nullptr);
}

std::optional<std::string> QuorvaDesktop::home() const {
    return app::homeFolder(args, platform::currentDirectory, platform::userHomeDirectory());
}

std::optional<std::string> QuorvaDesktop::runtime() const {
    const auto home = this->home();
    if (!home) return std::nullopt;
    return contract::runtimeFolder(*home);
}

bool QuorvaDesktop::homeLost() const {
    return runtimeFolder_ && runtimePath_ && !runtimeFolder_->isNamedBy(*runtimePath_);
}

bool QuorvaDesktop::english() const {
    return app::englishRequested(args);
}

const std::string& QuorvaDesktop::text(const std::string& persian,
                                       const std::string& english) const {
    return this->english() ? english : persian;
}
