#include "storage.h"

#include <QSqlQuery>

QString Storage::quickCheck()
{
    if (!isSqlite())
        return QStringLiteral("ok");
    QStringList problems;
    if (!select(QStringLiteral("PRAGMA quick_check"), {},
                [&](const SqlRow& q) { problems.append(q.value(0).toString()); }))
        return m_lastError;
    if (problems == QStringList{QStringLiteral("ok")})
        return problems.first();
    return problems.isEmpty() ? QStringLiteral("no answer") : problems.mid(0, 3).join(QStringLiteral("; "));
}

bool Storage::backupInto(const QString& path)
{
    // A read transaction's snapshot, written page by page into a new, compact file; writers go on.
    return change(QStringLiteral("VACUUM INTO ?"), {path});
}

qint64 Storage::pruneLoanHistory(const QString& before)
{
    int rows = 0;
    change(QStringLiteral("DELETE FROM loan_history WHERE returned_at < ?"), {before}, &rows);
    return rows;
}

qint64 Storage::pruneLoanAudit(const QString& before)
{
    QStringList placeholders;
    QVariantList values;
    for (const AuditAction action : Wire::allAuditActions) {
        if (Wire::isLoanHistory(action)) {
            placeholders.append(QStringLiteral("?"));
            values.append(Wire::word(action));
        }
    }
    values.append(before);
    int rows = 0;
    change(QStringLiteral("DELETE FROM audit_log WHERE action IN (") + placeholders.join(QLatin1Char(','))
               + QStringLiteral(") AND at < ?"),
           values, &rows);
    return rows;
}
