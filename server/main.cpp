#include "collectioncommands.h"
#include "databasebackup.h"
#include "dialog.h"
#include "databasepool.h"
#include "noticeservice.h"
#include "serversettings.h"
#ifdef LIBRARY_TEST_CLOCK
#include "testclock.h"
#endif

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>
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

// The process holds passwords while it hashes them: it never leaves a core dump, and no other
// process of the same user may attach to it.
void keepMemoryPrivate()
{
    const rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Every connection holds a descriptor; idle bursts of a thousand peers must not run out of them.
void raiseDescriptorLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// `server --backup FILE`: a consistent copy of the database of server.ini in the working directory,
// taken beside a running server.
int backup(int argc, char* argv[], const char* target)
{
    QCoreApplication app(argc, argv);
    QStringList problems;
    const ServerSettings settings = ServerSettings::load(QStringLiteral("server.ini"), &problems);
    for (const QString& problem : std::as_const(problems))
        std::fprintf(stderr, "server.ini: %s\n", qPrintable(problem));
    QString error;
    if (!DatabaseBackup::write(settings.database, QString::fromLocal8Bit(target), &error)) {
        std::fprintf(stderr, "backup failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("backup of %s written to %s\n", qPrintable(settings.database.location()), target);
    return 0;
}

// `server --notices-dry-run`: what the next notice scan would queue and send, and to whom, from the
// database of server.ini in the working directory. Nothing is queued, sent or marked.
int noticesDryRun(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
#ifdef LIBRARY_TEST_CLOCK
    TestClock::installFromEnvironment();
#endif
    QStringList problems;
    const ServerSettings settings = ServerSettings::load(QStringLiteral("server.ini"), &problems);
    for (const QString& problem : std::as_const(problems))
        std::fprintf(stderr, "server.ini: %s\n", qPrintable(problem));
    DatabasePool database(settings.database,
                          [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    QString error;
    if (!database.start(&error)) {
        std::fprintf(stderr, "cannot open the database %s: %s\n", qPrintable(database.description()),
                     qPrintable(error.simplified()));
        return 1;
    }
    if (!settings.notices.enabled)
        std::printf("notices are off ([notices] enabled=false); when on:\n");
    const bool ok = NoticeService::dryRun(database, settings.notices,
                                          [](const QString& line) { std::printf("%s\n", qPrintable(line)); });
    std::fflush(stdout);
    database.stop();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    keepMemoryPrivate();
    // Every connection thread gets an event dispatcher; the plain one costs less to set up than GLib's.
    // The database, its journal and the log hold accounts and loans: readable by the server's user only.
    ::umask(077);
    if (::geteuid() == 0)
        std::fprintf(stderr, "warning: the server needs no root rights; run it as an unprivileged user\n");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--backup") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "usage: server --backup FILE\n");
                return 2;
            }
            return backup(argc, argv, argv[i + 1]);
        }
        if (std::strcmp(argv[i], "--notices-dry-run") == 0)
            return noticesDryRun(argc, argv);
    }
    {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (arguments.contains(QLatin1String("--import")) || arguments.contains(QLatin1String("--export"))
            || arguments.contains(QLatin1String("--import-readers"))
            || arguments.contains(QLatin1String("--export-readers"))) {
            QCoreApplication app(argc, argv);
#ifdef LIBRARY_TEST_CLOCK
            TestClock::installFromEnvironment();
#endif
            return CollectionCommands::run(arguments).value_or(2);
        }
    }
    raiseDescriptorLimit();
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
#ifdef LIBRARY_TEST_CLOCK
    TestClock::installFromEnvironment();
#endif
    // A peer that closes early must not kill the server when a reply is written to it.
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit reached makes the write fail (the change is refused and the server goes on), as a
    // full disk does, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
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
