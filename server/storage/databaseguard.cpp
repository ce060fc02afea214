#include "databaseguard.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace DatabaseGuard {

QString quickCheck(const QString& path)
{
    const QString name = QStringLiteral("guard-") + QUuid::createUuid().toString(QUuid::Id128);
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            result = db.lastError().text();
        } else {
            QSqlQuery query(db);
            QStringList found;
            if (query.exec(QStringLiteral("PRAGMA quick_check"))) {
                while (query.next())
                    found.append(query.value(0).toString());
            } else {
                found.append(query.lastError().text());
            }
            result = found.isEmpty() ? QStringLiteral("no answer") : found.mid(0, 3).join(QStringLiteral("; "));
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

Finding inspect(const DatabaseSettings& settings)
{
    if (!settings.isSqlite())
        return {};
    const QString path = settings.location();
    const QFileInfo info(path);
    const QString keep = QStringLiteral("; the server will not start on it: restore the file from a backup (README, "
                                        "\"Restoring a backup\") or move it away to start an empty library");
    if (!info.exists()) {
        return {State::New,
                QStringLiteral("NO DATABASE at %1: creating a NEW, EMPTY library there. If the library "
                               "had data, stop the server and restore the file from a backup")
                    .arg(path)};
    }
    if (!info.isFile())
        return {State::Unusable, QStringLiteral("database %1 is not a file").arg(path) + keep};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {State::Unusable,
                QStringLiteral("database %1 cannot be read (%2)").arg(path, file.errorString()) + keep};
    if (info.size() == 0)
        return {State::Unusable, QStringLiteral("database %1 is empty (0 bytes)").arg(path) + keep};
    const QString check = quickCheck(path);
    if (check != QLatin1String("ok"))
        return {State::Unusable,
                QStringLiteral("database %1 fails its integrity check (%2)").arg(path, check.simplified()) + keep};
    return {};
}

} // namespace DatabaseGuard
