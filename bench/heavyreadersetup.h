#pragma once

#include "heavyreader.h"

#include <QList>

// A fixed list of requests, each sent once (in order, over however many connections), each with the
// word its reply must start with.
class RequestListWorkload : public Workload
{
public:
    struct Item {
        QByteArray request;
        QLatin1String word;
    };
    RequestListWorkload(QList<Item> items, int connections);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;

private:
    QList<Item> m_items;
    qsizetype m_next = 0;
    std::vector<qsizetype> m_sent; // per connection: the item it sent last
};

// Lays the heavy reader out on a server that holds the synthetic catalogue, through the protocol as
// staff at the desk would: registers and confirms the readers, adds the title's copies, lends the
// copies and places the holds, in phases of requests that do not depend on each other. Staff (an
// account logged in from this address) act for every reader.
class HeavyReaderSetup
{
public:
    HeavyReaderSetup(const HeavyReader& reader, quint16 port);
    // Whether the server holds it already: the reader's loans list is whole.
    bool done();
    // False, with why, when a request was refused or failed.
    bool run(QString* why);

private:
    bool runPhase(const QString& what, const QList<RequestListWorkload::Item>& items, int connections, QString* why);

    HeavyReader m_reader;
    quint16 m_port;
};
