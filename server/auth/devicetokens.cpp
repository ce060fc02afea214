#include "devicetokens.h"

#include "databasepool.h"
#include "sessionstore.h"
#include "storage.h"

#include <QCryptographicHash>

DeviceTokens::DeviceTokens(DatabasePool& database, qint64 lifetimeMs, Clock now)
    : m_database(database)
    , m_lifetimeMs(lifetimeMs)
    , m_now(std::move(now))
{
}

QString DeviceTokens::keyOf(const QString& token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool DeviceTokens::isValid(const QString& token, const QString& account)
{
    // A token is 43 characters; anything far longer is not one, and is not hashed.
    if (token.isEmpty() || token.size() > 128 || account.isEmpty())
        return false;
    QString owner;
    const qint64 since = m_now() - m_lifetimeMs;
    return m_database.read([&](Storage& storage) { owner = storage.deviceTokenAccount(keyOf(token), since); })
        && owner == account;
}

QString DeviceTokens::issue(const QString& account, const QString& presented)
{
    const QString token = isValid(presented, account) ? presented : SessionStore::newSecret();
    bool stored = false;
    const qint64 now = m_now();
    return m_database.write([&](Storage& storage) {
        stored = storage.putDeviceToken(keyOf(token), account, now) && !storage.failed();
    }) && stored
        ? token
        : QString();
}

void DeviceTokens::sweep()
{
    const qint64 before = m_now() - m_lifetimeMs;
    m_database.write([&](Storage& storage) { storage.removeDeviceTokens(before); });
}
