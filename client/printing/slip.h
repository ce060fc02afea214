#pragma once

#include "printoutput.h"
#include "printsettings.h"

#include <QDateTime>
#include <QList>
#include <QString>

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

} // namespace Slip
