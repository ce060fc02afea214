#include "noticeletters.h"

#include "duedate.h"
#include "messages.h"

#include <QAbstractTextDocumentLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextDocument>

namespace {

QString bookList(const QList<QStringList>& rows, int titleColumn, int numberColumn, int dateColumn)
{
    QString html = QStringLiteral("<ul>");
    for (const QStringList& row : rows)
        html += QStringLiteral("<li>%1 (%2) %3</li>")
                    .arg(row.value(titleColumn).toHtmlEscaped(), row.value(numberColumn).toHtmlEscaped(),
                         row.value(dateColumn).left(16).toHtmlEscaped());
    return html + QStringLiteral("</ul>");
}

} // namespace

namespace NoticeLetters {

QList<NoticeLetter> fromRows(const QList<QStringList>& rows)
{
    QList<NoticeLetter> letters;
    for (const QStringList& row : rows) {
        const QString userId = row.value(3);
        auto it =
            std::find_if(letters.begin(), letters.end(), [&](const NoticeLetter& l) { return l.userId == userId; });
        if (it == letters.end()) {
            letters.append({userId, row.value(4), {}, {}, {}, {}});
            it = letters.end() - 1;
        }
        it->noticeIds.append(row.value(0).toLongLong());
        if (!it->kinds.contains(row.value(2)))
            it->kinds.append(row.value(2));
    }
    return letters;
}

QString html(const NoticeLetter& letter)
{
    QList<QStringList> dueSoon, overdue, kept;
    for (const QStringList& loan : letter.loans)
        (DueDate::hasPassed(loan.value(7)) ? overdue : dueSoon).append(loan);
    for (const QStringList& hold : letter.holds) {
        if (!hold.value(4).isEmpty())
            kept.append(hold);
    }
    const QString name = (letter.name.isEmpty() ? letter.userId : letter.name).toHtmlEscaped();
    QString zh = QStringLiteral("<p>%1（%2），您好：</p>").arg(name, letter.userId.toHtmlEscaped());
    QString en = QStringLiteral("<p>Dear %1,</p>").arg(name);
    if (letter.kinds.contains(QString(Notice::DueSoon)) && !dueSoon.isEmpty()) {
        zh += QStringLiteral("<p>您借阅的下列图书即将到期，请按时归还或续借：</p>") + bookList(dueSoon, 0, 5, 7);
        en += QStringLiteral("<p>The books below that you borrowed are due soon. Please return or renew them in "
                             "time:</p>")
            + bookList(dueSoon, 0, 5, 7);
    }
    if (letter.kinds.contains(QString(Notice::Overdue)) && !overdue.isEmpty()) {
        zh += QStringLiteral("<p>您借阅的下列图书已经逾期，请尽快归还：</p>") + bookList(overdue, 0, 5, 7);
        en += QStringLiteral("<p>The books below that you borrowed are overdue. Please return them as soon as you "
                             "can:</p>")
            + bookList(overdue, 0, 5, 7);
    }
    if (letter.kinds.contains(QString(Notice::HoldReady)) && !kept.isEmpty()) {
        zh += QStringLiteral("<p>您预约的下列图书已为您保留，请在取书期限之前到借阅台取书：</p>")
            + bookList(kept, 1, 0, 4);
        en += QStringLiteral("<p>The books below that you reserved are kept for you. Please collect them at the desk "
                             "by the date shown:</p>")
            + bookList(kept, 1, 0, 4);
    }
    const QString date = QDate::currentDate().toString(Qt::ISODate);
    return QStringLiteral("<h2>借阅通知 / Library notice</h2>") + zh
        + QStringLiteral("<p>图书馆借阅台 %1</p><hr/>").arg(date) + en
        + QStringLiteral("<p>The lending desk, %1</p>").arg(date);
}

void render(const NoticeLetter& letter, QPainter& painter, const QRectF& page)
{
    QTextDocument document;
    document.setDocumentMargin(0);
    // Sizes in the device's own units, so a letter reads the same on paper, in a PDF and on screen.
    document.documentLayout()->setPaintDevice(painter.device());
    QFont font = document.defaultFont();
    font.setPointSizeF(12);
    document.setDefaultFont(font);
    document.setPageSize(page.size());
    document.setHtml(html(letter));
    painter.save();
    painter.translate(page.topLeft());
    document.drawContents(&painter, QRectF(QPointF(0, 0), page.size()));
    painter.restore();
}

bool print(const QList<NoticeLetter>& letters, QPagedPaintDevice& device)
{
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const QRectF page = painter.viewport();
    for (qsizetype i = 0; i < letters.size(); ++i) {
        if (i > 0)
            device.newPage();
        render(letters[i], painter, page);
    }
    return painter.end();
}

} // namespace NoticeLetters
