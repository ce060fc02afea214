// The reference server: answers every request with one canned book row, as fast as one thread can.
#include "referenceserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {
ReferenceServer* running = nullptr;
void requestStop(int)
{
    if (running)
        running->stop();
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Minimal epoll server answering one canned book row."));
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

    ReferenceServer server;
    if (!server.listen(quint16(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u: %s\n", port, std::strerror(errno));
        return 1;
    }
    running = &server;
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("listening on 127.0.0.1:%u\n", unsigned(server.port()));
    std::fflush(stdout);
    server.run();
    std::printf("served %llu requests\n", static_cast<unsigned long long>(server.served()));
    return 0;
}
