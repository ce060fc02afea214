#pragma once

#include <QBrush>
#include <QDateTime>
#include <QTreeWidgetItem>

// Due dates as the server shows them ("yyyy-MM-dd HH:mm:ss"), shown in red once they have passed.
namespace DueDate {

inline bool hasPassed(const QString& shown, const QDateTime& now = QDateTime::currentDateTime())
{
    const QDateTime due = QDateTime::fromString(shown, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return due.isValid() && due < now;
}

// The date and the time to the minute: the seconds tell a reader nothing.
inline QString shortened(const QString& shown)
{
    const QDateTime at = QDateTime::fromString(shown, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return at.isValid() ? at.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : shown;
}

// Puts the due date in the item's column (to the minute, the full text in its tooltip), red when it
// has passed.
inline void show(QTreeWidgetItem* item, int column, const QString& shown)
{
    item->setText(column, shortened(shown));
    item->setToolTip(column, shown);
    item->setForeground(column, hasPassed(shown) ? QBrush(Qt::red) : QBrush());
}

} // namespace DueDate
