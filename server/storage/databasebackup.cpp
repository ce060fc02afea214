#include "databasebackup.h"

#include "databaseguard.h"
#include "storage.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace DatabaseBackup {

bool write(const DatabaseSettings& settings, const QString& target, QString* error)
{
    if (!settings.isSqlite()) {
        *error = QStringLiteral("the database is PostgreSQL: back it up with pg_dump (README, \"Backups\")");
        return false;
    }
    if (QFileInfo::exists(target)) {
        *error = target + QStringLiteral(" exists already");
        return false;
    }
    if (!QFileInfo::exists(settings.location())) {
        *error = QStringLiteral("no database at ") + settings.location();
        return false;
    }
    const QString partial = target + QStringLiteral(".partial");
    QFile::remove(partial);
    {
        Storage storage(settings, QStringLiteral("backup-") + QUuid::createUuid().toString(QUuid::Id128));
        if (!storage.open() || !storage.backupInto(partial)) {
            *error = storage.lastError();
            QFile::remove(partial);
            return false;
        }
    }
    const QString check = DatabaseGuard::quickCheck(partial);
    if (check != QLatin1String("ok")) {
        *error = QStringLiteral("the copy fails its integrity check: ") + check;
        QFile::remove(partial);
        return false;
    }
    if (!QFile::rename(partial, target)) {
        *error = QStringLiteral("cannot rename %1 to %2").arg(partial, target);
        QFile::remove(partial);
        return false;
    }
    return true;
}

QString writeInto(const DatabaseSettings& settings, const QString& directory, int keep, QString* error)
{
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create the directory ") + directory;
        return {};
    }
    const QString name = QStringLiteral("library-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".db");
    const QString path = dir.absoluteFilePath(name);
    if (!write(settings, path, error))
        return {};
    // The names sort by time: the oldest go first.
    QStringList copies = dir.entryList({QStringLiteral("library-*.db")}, QDir::Files, QDir::Name);
    while (copies.size() > keep)
        QFile::remove(dir.absoluteFilePath(copies.takeFirst()));
    return path;
}

} // namespace DatabaseBackup
