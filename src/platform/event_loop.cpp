#include "platform/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/toolkit.h"

namespace platform {
namespace {

void drain(int fd) {
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

}  // namespace

EventLoop::EventLoop() {
    if (::pipe(wake_) != 0) return;  // posted work then waits for the next timer
    for (int fd : wake_) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    watches_.push_back({wake_[0], [this] {
                            drain(wake_[0]);
                            runPosted();
                        }});
}

EventLoop::~EventLoop() {
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

EventLoop& EventLoop::main() {
    // Never destroyed: other threads may post to it while the process ends.
    static auto* loop = new EventLoop;
    return *loop;
}

EventLoop::TimerId EventLoop::addTimer(double seconds, std::function<void()> action) {
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    timers_[++lastId_] = {interval, Clock::now() + interval, std::move(action)};
    armToolkitTimer();
    return lastId_;
}

void EventLoop::removeTimer(TimerId id) {
    timers_.erase(id);
    armToolkitTimer();
}

void EventLoop::watchReadable(int fd, std::function<void()> action) {
    watches_.push_back({fd, std::move(action)});
    if (toolkit_) toolkit_->whenReadable(fd, [this, fd] { dispatch(fd); });
}

void EventLoop::unwatch(int fd) {
    std::erase_if(watches_, [fd](const Watch& w) { return w.fd == fd; });
    if (toolkit_) toolkit_->stopWatching(fd);
}

void EventLoop::post(std::function<void()> block) {
    bool first;
    {
        std::lock_guard lock(postedMutex_);
        first = posted_.empty();
        posted_.push_back(std::move(block));
    }
    if (first && wake_[1] >= 0) [[maybe_unused]]
        ssize_t n = ::write(wake_[1], "w", 1);
}

void EventLoop::run() {
    quit_ = false;
    while (!quit_) {
        if (nextToolkit_) return serveWithToolkit();
        pollOnce();
    }
}

void EventLoop::quit() {
    quit_ = true;
    if (toolkit_) toolkit_->quit();
}

void EventLoop::handOverTo(Toolkit& toolkit) {
    if (!toolkit_) nextToolkit_ = &toolkit;
}

// The toolkit's loop takes the same descriptors and one timer set for the
// earliest due firing, so every schedule goes on as it was.
void EventLoop::serveWithToolkit() {
    toolkit_ = nextToolkit_;
    nextToolkit_ = nullptr;
    toolkitTimer_ = toolkit_->timer([this] {
        runDueTimers();
        armToolkitTimer();
    });
    for (const Watch& w : watches_)
        toolkit_->whenReadable(w.fd, [this, fd = w.fd] { dispatch(fd); });
    armToolkitTimer();
    runPosted();
    toolkit_->exec();
}

void EventLoop::pollOnce() {
    std::vector<pollfd> fds;
    fds.reserve(watches_.size());
    for (const Watch& w : watches_) fds.push_back({w.fd, POLLIN, 0});
    const int timeout = timers_.empty() ? -1 : static_cast<int>(untilNextTimer().count());
    if (::poll(fds.data(), fds.size(), timeout) > 0)
        for (const pollfd& p : fds) {
            if (p.revents & POLLNVAL)  // closed behind our back: it would wake us for ever
                std::erase_if(watches_, [&](const Watch& w) { return w.fd == p.fd; });
            else if (p.revents)
                dispatch(p.fd);
            if (nextToolkit_) return;  // the rest is served by the toolkit's loop
        }
    runDueTimers();
}

void EventLoop::dispatch(int fd) {
    for (const Watch& w : watches_)
        if (w.fd == fd) {
            // A copy: the action may add watches and so move the vector.
            const auto action = w.action;
            action();
            return;
        }
}

void EventLoop::runDueTimers() {
    const auto now = Clock::now();
    std::vector<TimerId> due;
    for (const auto& [id, timer] : timers_)
        if (timer.due <= now) due.push_back(id);
    for (TimerId id : due) {
        const auto it = timers_.find(id);
        if (it == timers_.end()) continue;  // removed by an earlier action
        Timer& t = it->second;
        // Missed firings (a stopped process, a long action) are skipped, and
        // the schedule keeps its phase.
        t.due += t.interval * ((now - t.due) / t.interval + 1);
        const auto action = t.action;  // may remove its own timer
        action();
    }
    runPosted();  // in case the wake-up pipe could not be made
}

void EventLoop::runPosted() {
    std::vector<std::function<void()>> blocks;
    {
        std::lock_guard lock(postedMutex_);
        blocks.swap(posted_);
    }
    for (auto& block : blocks) block();
}

void EventLoop::armToolkitTimer() {
    if (!toolkitTimer_) return;
    if (timers_.empty())
        toolkitTimer_->stop();
    else
        toolkitTimer_->startOnce(untilNextTimer());
}

// Rounded up: woken a little early, the loop would only find nothing due.
std::chrono::milliseconds EventLoop::untilNextTimer() const {
    auto next = Clock::time_point::max();
    for (const auto& [id, timer] : timers_) next = std::min(next, timer.due);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace platform
