#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QString>

// Slows down password guessing from one address: after a number of failed logins in a row, the
// address is locked out for a while, and every further failure doubles the time (up to an hour).
// A locked-out attempt is refused without looking at the password. A success clears the record.
class LoginThrottle
{
public:
    LoginThrottle(int failuresAllowed, qint64 lockoutMs);

    bool isLockedOut(const QString& peer) const;
    void failed(const QString& peer);
    void succeeded(const QString& peer);

private:
    struct Record {
        int failures = 0;
        QDeadlineTimer lockedUntil;
        QDeadlineTimer forgetAt;
    };

    int m_failuresAllowed;
    qint64 m_lockoutMs;
    mutable QMutex m_mutex;
    QHash<QString, Record> m_records;
};
