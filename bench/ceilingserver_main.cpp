// The ceiling server: a thread per connection answering every request with one canned book row.
#include "ceilingserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // As in our server: every connection thread gets an event dispatcher, and the plain one costs less
    // to set up than GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Thread-per-connection server answering one canned book row."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1; 0: any free."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    parser.addOption(portOption);
    parser.process(app);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "not a port: %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    // A peer that closes early must not end the process when the reply is written to it. It holds
    // nothing worth a clean shutdown: SIGTERM and SIGINT end it as they are.
    std::signal(SIGPIPE, SIG_IGN);
    CeilingServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u: %s\n", port, qPrintable(server.errorString()));
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
