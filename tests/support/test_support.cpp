#include "support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace fs = std::filesystem;

namespace test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorva-test-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string builtAppFolder() {
    return QUORVA_TEST_APP_DIR;
}

std::string copyAppFolder(const std::string& parent) {
    const std::string dest = parent + "/QuorvaDesktop";
    fs::copy(builtAppFolder(), dest, fs::copy_options::recursive);
    return dest;
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool Process::running() const {
    return pid > 0;
}

int Process::wait(std::chrono::milliseconds timeout) {
    if (pid <= 0) return -1;
    int status = -1;
    const bool done = waitFor(
        [&] {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            return r == pid;
        },
        timeout);
    if (!done) return -1;
    pid = -1;
    return status;
}

void Process::kill(int sig) const {
    if (pid > 0) ::kill(pid, sig);
}

Process::~Process() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

Process spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& outDir) {
    static int serial = 0;
    Process p;
    const std::string tag = std::to_string(++serial);
    p.outPath = outDir + "/stdout." + tag;
    p.errPath = outDir + "/stderr." + tag;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, p.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, p.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> cargv, cenv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
    cenv.push_back(nullptr);
    if (::posix_spawn(&p.pid, argv[0].c_str(), &fa, nullptr, cargv.data(), cenv.data()) != 0)
        p.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return p;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& add,
                                         const std::vector<std::string>& drop) {
    std::vector<std::string> out;
    auto dropped = [&](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('='));
        for (const auto& d : drop)
            if (d == name) return true;
        for (const auto& a : add)
            if (a.substr(0, a.find('=')) == name) return true;
        return false;
    };
    for (char** e = environ; *e; ++e)
        if (!dropped(*e)) out.emplace_back(*e);
    out.insert(out.end(), add.begin(), add.end());
    return out;
}

Xvfb::Xvfb(int width, int height) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> argv{"/usr/bin/Xvfb", "-displayfd", fd,   "-screen", "0",
                                  screen,          "-nolisten",  "tcp"};
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    const int rc = ::posix_spawn(&pid_, argv[0].c_str(), &fa, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid_ = -1;
        return;
    }
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

}  // namespace test
