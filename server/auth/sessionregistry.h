#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QString>

// The protocol carries no credentials, so the server remembers, per peer address, which accounts
// logged in successfully from it and which one did so last. A login is remembered for a limited time.
class SessionRegistry
{
public:
    explicit SessionRegistry(qint64 lifetimeMs);

    void loggedIn(const QString& peer, const QString& userId);
    bool isLoggedIn(const QString& peer, const QString& userId) const;
    // The account of the most recent login from the peer that is still valid, or an empty string.
    QString latestLogin(const QString& peer) const;
    // Forgets an account everywhere, for example when it is deleted.
    void forget(const QString& userId);

private:
    struct Peer {
        QHash<QString, QDeadlineTimer> accounts;
        QString latest;
    };
    void sweep();

    qint64 m_lifetimeMs;
    mutable QMutex m_mutex;
    QHash<QString, Peer> m_peers;
    int m_loginsSinceSweep = 0;
};
