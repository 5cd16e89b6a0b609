#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "client/host_process.h"
#include "contract/home.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "quorva/client.h"

namespace quorva {
namespace {

constexpr char kHostName[] = "quorva-desktop";

std::string parentOf(const std::string& folder) {
    const auto slash = folder.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

// The host's own rule.
std::optional<std::string> homeFolder(const std::optional<std::string>& given) try {
    return contract::homeFolder(given, platform::currentDirectory, platform::userHomeDirectory());
} catch (const std::exception&) {
    return std::nullopt;  // out of memory
}

std::string runtimeFolder(const std::string& home) {
    return contract::runtimeFolder(home);
}

std::vector<std::string> hostCandidates(const std::string& programFolder,
                                        const std::string& path) try {
    std::vector<std::string> out;
    if (!programFolder.empty()) {
        const std::string up = parentOf(programFolder);
        out.push_back(
            platform::joinPath(up, "lib/quorva-desktop/bin/quorva-desktop"));       // installed
        out.push_back(platform::joinPath(up, "QuorvaDesktop/bin/quorva-desktop"));  // build tree
        out.push_back(platform::joinPath(programFolder, kHostName));
    }
    for (const auto& p : detail::systemHostCandidates()) out.push_back(p);
    // Empty and relative PATH entries would name the working folder: skipped.
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string entry = path.substr(start, end - start);
        if (!entry.empty() && entry.front() == '/')
            out.push_back(platform::joinPath(entry, kHostName));
        start = end + 1;
    }
    return out;
} catch (const std::exception&) {
    return {};  // out of memory
}

std::optional<std::string> findHost() try {
    const char* path = std::getenv("PATH");
    for (const auto& candidate : hostCandidates(detail::programFolder(), path ? path : ""))
        if (isExecutableFile(candidate)) return candidate;
    return std::nullopt;
} catch (const std::exception&) {
    return std::nullopt;
}

}  // namespace quorva
