// Load generator: N concurrent protocol clients against a server on 127.0.0.1 for a fixed time; prints
// operations per second and p50/p99 latency on one line of key=value pairs.
#include "heavyreadersetup.h"
#include "loadgenerator.h"
#include "syntheticcatalogue.h"
#include "workload.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

// One operation with one connection: a login or a probe.
LoadGenerator::Result runOnce(Workload& workload, quint16 port, bool verify)
{
    LoadGenerator::Options options;
    options.port = port;
    options.connections = 1;
    options.maxOperations = 1;
    options.seconds = 60;
    options.verify = verify;
    return LoadGenerator(workload, options).run();
}

// Polls for the last book of the catalogue until the server finds it: the seed import is then done.
bool waitForBook(quint16 port, const QString& number, int seconds)
{
    BookNumberProbe probe(number);
    QElapsedTimer timer;
    timer.start();
    QString lastFault;
    while (timer.elapsed() < qint64(seconds) * 1000) {
        const LoadGenerator::Result result = runOnce(probe, port, true);
        if (result.operations == 1)
            return true;
        lastFault = result.firstFault;
        QThread::msleep(500);
    }
    std::fprintf(stderr, "book %s not found within %d s (%s)\n", qPrintable(number), seconds, qPrintable(lastFault));
    return false;
}

// One line of key=value pairs: what bench/run reads.
void printFigures(const QString& label, const QString& caseName, qint64 books, int connections,
                  const LoadGenerator::Result& result, const LatencyStats& latencies, qint64 frames, qint64 failures)
{
    const qint64 tried = result.operations + result.failures;
    std::printf("label=%s case=%s books=%lld connections=%d seconds=%.2f operations=%lld failures=%lld "
                "rate=%.1f p50_ms=%.3f p99_ms=%.3f frames_per_op=%.2f\n",
                qPrintable(label), qPrintable(caseName), static_cast<long long>(books), connections,
                result.elapsedSeconds, static_cast<long long>(result.operations), static_cast<long long>(failures),
                result.rate(), latencies.percentileMs(50), latencies.percentileMs(99),
                tried > 0 ? double(frames) / double(tried) : 0.0);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Protocol load generator for the library server."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Server port on 127.0.0.1."),
                                        QStringLiteral("port"));
    const QCommandLineOption caseOption(QStringLiteral("case"),
                                        QStringLiteral("One of: %1.").arg(Workload::names().join(QStringLiteral(", "))),
                                        QStringLiteral("name"), QStringLiteral("lookup"));
    const QCommandLineOption connectionsOption(QStringLiteral("connections"), QStringLiteral("Concurrent connections."),
                                               QStringLiteral("n"), QStringLiteral("16"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Duration of the load."),
                                           QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption booksOption(QStringLiteral("books"),
                                         QStringLiteral("Size of the synthetic catalogue the server holds."),
                                         QStringLiteral("n"), QStringLiteral("10k"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("Account for login and borrowing."),
                                        QStringLiteral("id"), QStringLiteral("admin"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("Its password."),
                                            QStringLiteral("text"));
    const QCommandLineOption labelOption(QStringLiteral("label"), QStringLiteral("Name of the server in the output."),
                                         QStringLiteral("text"), QStringLiteral("server"));
    const QCommandLineOption noVerifyOption(QStringLiteral("no-verify"),
                                            QStringLiteral("Do not check replies (for the reference server)."));
    const QCommandLineOption waitOption(
        QStringLiteral("wait-for-import"),
        QStringLiteral("Only wait until the last book can be found, at most s seconds."), QStringLiteral("s"));
    const QCommandLineOption firstCopyOption(
        QStringLiteral("first-copy"),
        QStringLiteral("Borrow cases: the first copy to lend (one per connection); heavy cases: where to begin."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption setupHeavyOption(
        QStringLiteral("setup-heavy"),
        QStringLiteral("Only lay out the heavy reader and its title (as --user, staff), unless it is there."));
    parser.addOptions({portOption, caseOption, connectionsOption, secondsOption, booksOption, userOption,
                       passwordOption, labelOption, noVerifyOption, waitOption, firstCopyOption, setupHeavyOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        std::fprintf(stderr, "--port: a port number is needed\n");
        return 2;
    }
    const qint64 books = SyntheticCatalogue::parseSize(parser.value(booksOption));
    const int connections = parser.value(connectionsOption).toInt(&ok);
    if (books < 1 || !ok || connections < 1 || connections > 4096) {
        std::fprintf(stderr, "--books or --connections out of range\n");
        return 2;
    }
    const double seconds = parser.value(secondsOption).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600) {
        std::fprintf(stderr, "--seconds: between 0 and 3600\n");
        return 2;
    }
    const SyntheticCatalogue catalogue(books);

    if (parser.isSet(waitOption))
        return waitForBook(quint16(port), SyntheticCatalogue::number(books - 1), parser.value(waitOption).toInt()) ? 0
                                                                                                                   : 1;

    const QString caseName = parser.value(caseOption);
    const Workload::Account account{parser.value(userOption), parser.value(passwordOption)};
    const auto logIn = [&](bool verify) {
        LoginWorkload login(account);
        const LoadGenerator::Result result = runOnce(login, quint16(port), verify);
        if (result.operations != 1)
            std::fprintf(stderr, "login of %s failed: %s\n", qPrintable(account.id), qPrintable(result.firstFault));
        return result.operations == 1;
    };

    if (parser.isSet(setupHeavyOption)) {
        HeavyReaderSetup setup{HeavyReader(catalogue), quint16(port)};
        if (!logIn(true))
            return 1;
        if (setup.done())
            return 0;
        QElapsedTimer timer;
        timer.start();
        QString why;
        if (!setup.run(&why)) {
            std::fprintf(stderr, "setting up the heavy reader: %s\n", qPrintable(why));
            return 1;
        }
        std::printf("heavy reader set up in %.1f s\n", timer.elapsed() / 1000.0);
        return 0;
    }

    const qint64 firstCopy = qMax<qint64>(0, parser.value(firstCopyOption).toLongLong());
    std::unique_ptr<Workload> workload = Workload::create(caseName, catalogue, account, connections, firstCopy);
    if (!workload) {
        std::fprintf(stderr, "--case: one of %s\n", qPrintable(Workload::names().join(QStringLiteral(", "))));
        return 2;
    }
    const bool verify = !parser.isSet(noVerifyOption);

    // Borrowing and acting for readers are served only to an account logged in from this address.
    if (workload->needsLogin() && !logIn(verify))
        return 1;

    LoadGenerator::Options options;
    options.port = quint16(port);
    options.connections = connections;
    options.seconds = seconds;
    options.verify = verify;
    const LoadGenerator::Result result = LoadGenerator(*workload, options).run();

    // A workload that names its steps gets a line per step: rate in operations, the step's own latency.
    const QString label = parser.value(labelOption);
    bool byStep = false;
    for (int step = 0; step < workload->steps(); ++step) {
        const QString stepCase = workload->stepCase(step);
        if (stepCase.isEmpty())
            continue;
        const LoadGenerator::Step& figures = result.steps[size_t(step)];
        printFigures(label, stepCase, books, connections, result, figures.latencies, figures.frames, figures.failures);
        byStep = true;
    }
    if (!byStep)
        printFigures(label, caseName, books, connections, result, result.latencies, result.frames, result.failures);
    if (!result.firstFault.isEmpty())
        std::fprintf(stderr, "first fault (%s, %s): %s\n", qPrintable(parser.value(labelOption)), qPrintable(caseName),
                     qPrintable(result.firstFault));
    return 0;
}
