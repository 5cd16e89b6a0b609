// The yardstick for the host's start: a bare Qt Widgets program. It writes one
// byte to descriptor 3 at its first event-loop turn, then ends; with "idle"
// as its first argument it stays in its loop (for memory and CPU figures)
// until it is signalled. Qt's own arguments (-platform) follow.
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstring>

int main(int argc, char** argv) {
    const bool idle = argc > 1 && std::strcmp(argv[1], "idle") == 0;
    QApplication app(argc, argv);
    QTimer::singleShot(0, [&] {
        [[maybe_unused]] const ssize_t n = ::write(3, "r", 1);
        if (!idle) QApplication::quit();
    });
    return QApplication::exec();
}
