#include "dialog.h"
#ifdef LIBRARY_TEST_CLOCK
#include "testclock.h"
#endif

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so that connections finish and the database closes cleanly.
void quitOnTerminate(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    // Every connection thread gets an event dispatcher; the plain one costs less to set up than GLib's.
    // The database, its journal and the log hold accounts and loans: readable by the server's user only.
    ::umask(077);
    if (::geteuid() == 0)
        std::fprintf(stderr, "warning: the server needs no root rights; run it as an unprivileged user\n");
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
#ifdef LIBRARY_TEST_CLOCK
    TestClock::installFromEnvironment();
#endif
    // A peer that closes early must not kill the server when a reply is written to it.
    std::signal(SIGPIPE, SIG_IGN);
    quitOnTerminate(app);

    Dialog dialog;
    if (!dialog.start()) {
        // The reason is on standard output and in the window's log. Where someone can see the window,
        // it stays until closed; headless, the server ends at once. Either way the exit status says so.
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
            dialog.show();
            app.exec();
        }
        return 1;
    }
    dialog.show();
    return app.exec();
}
