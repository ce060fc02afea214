#pragma once

#include "printoutput.h"
#include "printsettings.h"

#include <QDateTime>
#include <QList>
#include <QString>

class QWidget;

// A due-date slip (借书单) for a reader: the library, the reader, each book with its number and due
// date, and when it was printed. On an 80 mm receipt roll the page is as long as the slip; on A6 the
// lines that do not fit go on a further page.
struct SlipContent {
    struct Loan {
        QString title;
        QString number;
        QString dueDate;
    };
    QString libraryName;
    QString readerId;
    QString readerName;
    QList<Loan> loans;
    QDateTime printedAt;
};

namespace Slip {

PrintJob job(const SlipContent& content, PrintSettings::SlipPaper paper);
// Shows the slip in print preview, whose print button prints it, on the paper client.ini names; the
// library's name and the time are filled in when empty.
void preview(QWidget* parent, SlipContent content, const QString& clientIniPath = QStringLiteral("client.ini"));
// A due date as the server sends it ("yyyy-MM-dd HH:mm:ss") as the slip shows it: the day.
QString dueDay(const QString& dueAt);

} // namespace Slip
